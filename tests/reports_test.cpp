// Error reports and trace text, end to end: a scripted device on a
// pseudo-terminal, the tool in a directory whose real path we know, and the
// exact bytes that reach its standard error.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <stdlib.h>
#include <thread>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

constexpr int PORT = 1;
// Long enough for a loaded machine, short enough to keep the suite quick.
constexpr milliseconds EXIT_DEADLINE(3000);
// What "shows at once" means for output that must not wait for more input.
constexpr milliseconds PROMPT(500);
// The largest error payload that is kept whole.
constexpr std::size_t REPORT_KEEP = 64 * 1024;

std::string real_path(const std::string& path) {
    char* resolved = realpath(path.c_str(), nullptr);
    const std::string result = resolved != nullptr ? resolved : "";
    free(resolved);
    return result;
}

std::string report_line(const std::string& directory, const std::string& file,
                        const std::string& message) {
    return "Error " + directory + "\\" + file + " " + message + "\n";
}

std::string lost_line() { return "lorvrc: lost the connection on " + port_path(PORT) + "\n"; }

// Every byte value that can appear in a payload or in trace text.
std::string every_nonzero_byte() {
    std::string bytes;
    for (int b = 1; b <= 255; ++b) {
        bytes.push_back(static_cast<char>(b));
    }
    return bytes;
}

// A payload of `size` bytes without comma or 0 byte, whose bytes differ
// from their neighbours so that a shifted or torn copy shows.
std::string long_payload(std::size_t size) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<char>('a' + i % 26);
    }
    return bytes;
}

// Bytes the process has taken in with read() so far (all its descriptors).
std::optional<std::uint64_t> bytes_read_by(pid_t pid) {
    std::ifstream io("/proc/" + std::to_string(pid) + "/io");
    std::string key;
    std::uint64_t value = 0;
    while (io >> key >> value) {
        if (key == "rchar:") {
            return value;
        }
    }
    return std::nullopt;
}

// Waits until the process has read `count` more bytes than `before`.
// A hang-up discards input that the tool has not read yet, so a test that
// hangs up "inside" a payload must first know the payload is in the tool.
bool wait_until_read(pid_t pid, std::uint64_t before, std::uint64_t count, milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (bytes_read_by(pid).value_or(0) >= before + count) {
            return true;
        }
        std::this_thread::sleep_for(milliseconds(1));
    }
    return false;
}

struct Outcome {
    std::optional<int> status;
    std::string err;
    std::string out;
};

Outcome finish(DeviceSession& session) {
    Outcome outcome;
    outcome.status = session.tool->wait(EXIT_DEADLINE);
    outcome.err = session.tool->stderr_text();
    outcome.out = session.tool->stdout_text();
    return outcome;
}

// Starts the tool in `directory`, plays `device_bytes` once the start
// sequence is in, and waits for the tool to end.
Outcome run_exchange(const std::string& directory, const std::string& device_bytes) {
    DeviceSession session({"prog"}, PORT, directory);
    session.device.send(device_bytes);
    return finish(session);
}

class ReportTest : public ::testing::Test {
  protected:
    // A subdirectory of the temporary one, created; returns its path.
    std::string make_dir(const std::string& name) const {
        const std::string path = temp.path() + "/" + name;
        std::filesystem::create_directories(path);
        return path;
    }

    TempDir temp;
    const std::string dir = real_path(temp.path());
};

// --- The payload decides the message --------------------------------------

struct PayloadCase {
    const char* name;
    std::string payload;
    std::string message;
};

void PrintTo(const PayloadCase& c, std::ostream* os) { *os << c.name; }

class PayloadTest : public ReportTest, public ::testing::WithParamInterface<PayloadCase> {};

TEST_P(PayloadTest, PrintsOneLineEndsWithStatusOne) {
    const Outcome outcome = run_exchange(dir, "E" + GetParam().payload + std::string(1, '\0'));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line(dir, "", GetParam().message));
    EXPECT_EQ(outcome.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Reports, PayloadTest,
    ::testing::Values(PayloadCase{"NoComma", "disk full", "disk full"},
                      PayloadCase{"LeadingComma", ",syntax error", "syntax error"},
                      PayloadCase{"SeveralCommas", "ab,cd,ef", "cd,ef"},
                      PayloadCase{"OnlyTrailingComma", "abc,", ""},
                      PayloadCase{"CommaAlone", ",", ""}, PayloadCase{"Empty", "", ""},
                      PayloadCase{"BlanksKept", "12,  two blanks  ", "  two blanks  "},
                      PayloadCase{"ControlBytes", "7,a\rb\nc\x01", "a\rb\nc\x01"},
                      PayloadCase{"HighBytes", "\x80\xE9\xFF,\xFF\xE9\x80", "\xFF\xE9\x80"},
                      PayloadCase{"EveryByte", "," + every_nonzero_byte(), every_nonzero_byte()}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The file named is the one requested last ------------------------------

struct FileCase {
    const char* name;
    std::string requests; // device bytes before the report
    int replies;          // file replies the tool sends for them
    std::string file;
};

void PrintTo(const FileCase& c, std::ostream* os) { *os << c.name; }

class FileNameTest : public ReportTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(FileNameTest, NamesLastRequestedFile) {
    temp.write_file("prog.bas", "10 PRINT 1\n");
    temp.write_file("tool.app", "REM\n");
    DeviceSession session({"prog"}, PORT, temp.path());
    session.device.send(GetParam().requests);
    for (int i = 0; i < GetParam().replies; ++i) {
        ASSERT_NE(session.device.receive_file_reply(EXIT_DEADLINE), "");
    }
    session.device.send(std::string("E9,boom\0", 8));
    const Outcome outcome = finish(session);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line(dir, GetParam().file, "boom"));
}

INSTANTIATE_TEST_SUITE_P(
    Reports, FileNameTest,
    ::testing::Values(
        FileCase{"BeforeAnyRequest", "", 0, ""},
        FileCase{"AfterServedRequest", std::string("Mprog\0", 6), 1, "prog.bas"},
        FileCase{"AfterServedApp", std::string("Atool\0", 6), 1, "tool.app"},
        FileCase{"AfterRefusedRequest", std::string("Inope\0", 6), 1, "nope.inc"},
        FileCase{"RefusedAfterServed", std::string("Mprog\0Inope\0", 12), 2, "nope.inc"},
        FileCase{"ServedAfterRefused", std::string("Inope\0Mprog\0", 12), 2, "prog.bas"},
        FileCase{"CommaInName", std::string("Ma,b\0", 5), 1, "a,b.bas"},
        FileCase{"EmptyName", std::string("M\0", 2), 1, ".bas"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The directory is the real one at the moment of the report -------------

struct DirectoryCase {
    const char* name;
    std::string subdirectory;
};

void PrintTo(const DirectoryCase& c, std::ostream* os) { *os << c.name; }

class DirectoryTest : public ReportTest, public ::testing::WithParamInterface<DirectoryCase> {};

TEST_P(DirectoryTest, NamesCurrentDirectoryInFull) {
    const std::string where = real_path(make_dir(GetParam().subdirectory));
    ASSERT_FALSE(where.empty());
    const Outcome outcome = run_exchange(where, std::string("E9,msg\0", 7));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line(where, "", "msg"));
}

const std::string DEEP = std::string(90, 'a') + "/" + std::string(90, 'b') + "/" +
                         std::string(90, 'c') + "/" + std::string(90, 'd');

INSTANTIATE_TEST_SUITE_P(Reports, DirectoryTest,
                         ::testing::Values(DirectoryCase{"Plain", "work"},
                                           DirectoryCase{"WithComma", "x,y"},
                                           DirectoryCase{"WithBlank", "two words"},
                                           DirectoryCase{"DeeperThan300Bytes", DEEP}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReportTest, DirectoryIsFetchedWhenReportIsPrinted) {
    const std::string before = make_dir("before");
    DeviceSession session({"prog"}, PORT, before);
    std::filesystem::rename(before, temp.path() + "/after");
    session.device.send(std::string("E9,msg\0", 7));
    const Outcome outcome = finish(session);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line(dir + "/after", "", "msg"));
}

TEST_F(ReportTest, RemovedDirectoryIsNamedUnknown) {
    const std::string gone = make_dir("gone");
    DeviceSession session({"prog"}, PORT, gone);
    ASSERT_TRUE(std::filesystem::remove(gone));
    session.device.send(std::string("Mprog\0", 6));
    EXPECT_EQ(session.device.receive_file_reply(EXIT_DEADLINE), "E");
    session.device.send(std::string("E9,msg\0", 7));
    const Outcome outcome = finish(session);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line("(unknown directory)", "prog.bas", "msg"));
}

// --- Timing: what shows before the device has finished ---------------------

TEST_F(ReportTest, LineStartShowsBeforePayloadArrives) {
    DeviceSession session({"prog"}, PORT, temp.path());
    session.device.send("E");
    const std::string start = "Error " + dir + "\\ ";
    ASSERT_TRUE(session.tool->wait_for_stderr(start, PROMPT));
    EXPECT_EQ(session.tool->stderr_text(), start);
    session.device.send(std::string("9,late\0", 7));
    const Outcome outcome = finish(session);
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, start + "late\n");
}

TEST_F(ReportTest, TraceBytesShowBeforeTheirEnd) {
    DeviceSession session({"prog"}, PORT, temp.path());
    session.device.send("Tabc");
    ASSERT_TRUE(session.tool->wait_for_stderr("abc", PROMPT));
    session.device.send(std::string("\0O", 2));
    const Outcome outcome = finish(session);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "abc");
}

TEST_F(ReportTest, TraceWaitsThroughReadTimeOuts) {
    DeviceSession session({"prog"}, PORT, temp.path());
    session.device.send("Tab");
    ASSERT_TRUE(session.tool->wait_for_stderr("ab", PROMPT));
    // More than one read time-out of the line with nothing on it.
    std::this_thread::sleep_for(milliseconds(1500));
    EXPECT_EQ(session.tool->stderr_text(), "ab");
    session.device.send(std::string("cd\0O", 4));
    const Outcome outcome = finish(session);
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, "abcd");
}

// --- Trace text --------------------------------------------------------------

struct TraceCase {
    const char* name;
    std::string device_bytes; // before the closing "O"
    std::string printed;
};

void PrintTo(const TraceCase& c, std::ostream* os) { *os << c.name; }

class TraceTest : public ReportTest, public ::testing::WithParamInterface<TraceCase> {};

TEST_P(TraceTest, CopiesTextAndGoesOn) {
    temp.write_file("prog.bas", "10 END\n");
    const Outcome outcome = run_exchange(temp.path(), GetParam().device_bytes + "O");
    EXPECT_EQ(outcome.status, 0);
    EXPECT_EQ(outcome.err, GetParam().printed);
    EXPECT_EQ(outcome.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Reports, TraceTest,
    ::testing::Values(TraceCase{"Plain", std::string("Thi\0", 4), "hi"},
                      TraceCase{"Empty", std::string("T\0", 2), ""},
                      TraceCase{"LineEndsAreDevices", std::string("Tone\r\ntwo\n\0", 11),
                                "one\r\ntwo\n"},
                      TraceCase{"ControlAndHighBytes", std::string("T\r\n\x01\x80\xE9\xFF\0", 8),
                                "\r\n\x01\x80\xE9\xFF"},
                      TraceCase{"EveryByte", "T" + every_nonzero_byte() + std::string(1, '\0'),
                                every_nonzero_byte()},
                      TraceCase{"CommandLettersInside", std::string("TE,xOM\0", 7), "E,xOM"},
                      TraceCase{"SeveralTexts", std::string("Ta\0T\0Tb\0", 8), "ab"},
                      TraceCase{"AroundFileRequest", std::string("Ta\0Mprog\0Tb\0", 12), "ab"}),
    [](const auto& info) { return std::string(info.param.name); });

// Editors and scripts look for "Error" at the start of a line.
TEST_F(ReportTest, ReportAfterUnendedTraceStartsALineOfItsOwn) {
    const Outcome outcome = run_exchange(temp.path(), std::string("Tabc\0E9,msg\0", 12));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, "abc\n" + report_line(dir, "", "msg"));
}

// --- Nothing after the report's 0 byte is read -----------------------------

TEST_F(ReportTest, EndAfterPayloadIsNeverRead) {
    const Outcome outcome = run_exchange(temp.path(), std::string("E9,x\0O", 6));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line(dir, "", "x"));
}

TEST_F(ReportTest, TraceAfterPayloadIsNeverRead) {
    const Outcome outcome = run_exchange(temp.path(), std::string("E9,x\0Tjunk\0O", 12));
    EXPECT_EQ(outcome.status, 1);
    EXPECT_EQ(outcome.err, report_line(dir, "", "x"));
}

// --- Long payloads ------------------------------------------------------------

struct LongCase {
    const char* name;
    std::size_t size;
    std::string marker;
};

void PrintTo(const LongCase& c, std::ostream* os) { *os << c.name; }

class LongPayloadTest : public ReportTest, public ::testing::WithParamInterface<LongCase> {};

TEST_P(LongPayloadTest, KeepsFirst64KiBAndCountsTheRest) {
    const std::string payload = long_payload(GetParam().size);
    const Outcome outcome = run_exchange(temp.path(), "E" + payload + std::string(1, '\0'));
    EXPECT_EQ(outcome.status, 1);
    const std::string kept = payload.substr(0, REPORT_KEEP);
    // Compared as a whole but reported briefly: the lines are 64 KiB long.
    EXPECT_TRUE(outcome.err == report_line(dir, "", kept + GetParam().marker))
        << "got " << outcome.err.size() << " bytes, ending in \""
        << outcome.err.substr(outcome.err.size() - std::min<std::size_t>(outcome.err.size(), 40))
        << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Reports, LongPayloadTest,
    ::testing::Values(LongCase{"Exactly64KiB", REPORT_KEEP, ""},
                      LongCase{"OneByteOver", REPORT_KEEP + 1, " [1 more bytes cut]"},
                      LongCase{"HundredKB", 100000, " [34464 more bytes cut]"}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The line hangs up in the middle ---------------------------------------

TEST_F(ReportTest, HangUpInsidePayloadEndsTheLineAndSaysSo) {
    DeviceSession session({"prog"}, PORT, temp.path());
    session.device.send("E");
    const std::string start = "Error " + dir + "\\ ";
    ASSERT_TRUE(session.tool->wait_for_stderr(start, PROMPT));
    const std::optional<std::uint64_t> before = bytes_read_by(session.tool->pid());
    if (!before) {
        GTEST_SKIP() << "no /proc/<pid>/io: cannot tell when the tool has read the payload";
    }
    session.device.send("9,partial");
    ASSERT_TRUE(wait_until_read(session.tool->pid(), *before, 9, PROMPT));
    session.device.hang_up();
    const auto status = session.tool->wait(milliseconds(2000));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(session.tool->stderr_text(), start + "\n" + lost_line());
}

struct HangUpCase {
    const char* name;
    std::string device_bytes; // all read and printed before the hang-up
    std::string printed;
    std::string err;
};

void PrintTo(const HangUpCase& c, std::ostream* os) { *os << c.name; }

class TraceHangUpTest : public ReportTest, public ::testing::WithParamInterface<HangUpCase> {};

TEST_P(TraceHangUpTest, KeepsWhatWasPrintedAndSaysSo) {
    DeviceSession session({"prog"}, PORT, temp.path());
    session.device.send(GetParam().device_bytes);
    ASSERT_TRUE(session.tool->wait_for_stderr(GetParam().printed, PROMPT));
    session.device.hang_up();
    const auto status = session.tool->wait(milliseconds(2000));
    EXPECT_EQ(status, 1);
    EXPECT_EQ(session.tool->stderr_text(), GetParam().err + lost_line());
}

INSTANTIATE_TEST_SUITE_P(Reports, TraceHangUpTest,
                         ::testing::Values(HangUpCase{"MidLine", "Tabc", "abc", "abc\n"},
                                           HangUpCase{"AfterLineEnd", "Tabc\n", "abc\n", "abc\n"},
                                           HangUpCase{"AfterTextEnded", std::string("Tabc\0", 5),
                                                      "abc", "abc\n"}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
