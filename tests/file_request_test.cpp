// File requests end to end: the fake device asks for files by name and
// checks every byte of each reply, and what the tool prints meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds REPLY_TIME(2000);
constexpr milliseconds EXIT_TIME(3000);

// "4F 0D 00" -> the three bytes.
std::string hex(const std::string& text) {
    std::istringstream in(text);
    std::string bytes;
    unsigned value = 0;
    while (in >> std::hex >> value) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

// The bytes as "4F 0D 00", so that a failing comparison shows them.
std::string hex_of(const std::string& bytes) {
    std::string text;
    for (const unsigned char byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

std::string request(char command, const std::string& name) { return command + name + '\0'; }

std::string reply_of_lines(const std::vector<std::string>& device_lines) {
    std::string reply = "O";
    for (const std::string& line : device_lines) {
        reply += line + '\r';
    }
    return reply + '\0';
}

// The warnings a file's lines cause, after "lorvrc: <file>: ".
std::string too_long(int line, std::size_t length) {
    return "line " + std::to_string(line) + " is " + std::to_string(length) +
           " bytes long, over the device's limit of 300; not sent";
}

std::string blanks(int line, const std::string& code_point) {
    return "line " + std::to_string(line) + " holds characters the device cannot show (" +
           code_point + "); sent as blanks";
}

// Sends the end command; the tool must exit with 0 and have sent nothing
// after its last reply.
void end_session(DeviceSession& session) {
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(EXIT_TIME), 0);
    EXPECT_EQ(hex_of(session.device.receive(1, milliseconds(50))), "");
}

struct FileCase {
    std::string name; // requested with "M"; the file is name + ".bas"
    std::string content;
    std::string reply;
    std::vector<std::string> warned;
};

std::string u8_times(const std::string& character, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += character;
    }
    return text;
}

std::vector<FileCase> file_cases() {
    const std::string a300(300, 'A');
    const std::string a301(301, 'A');
    return {
        {"empty", "", hex("4F 0D 00"), {}},
        {"final_lf", "A\nB\n", hex("4F 41 0D 42 0D 0D 00"), {}},
        {"no_final_lf", "A\nB", hex("4F 41 0D 42 0D 00"), {}},
        {"lone_lf", "\n", hex("4F 0D 0D 00"), {}},
        {"crlf", "A\r\n", hex("4F 41 0D 0D 0D 00"), {}},
        {"tab", "A\tB", hex("4F 41 09 42 0D 00"), {}},
        {"zero_byte", hex("41 00 42"), hex("4F 41 20 42 0D 00"), {}},
        {"ff_byte", hex("41 FF 42"), hex("4F 41 D8 42 0D 00"), {}},
        {"translated", hex("7C E9 0A 80 41"), hex("4F CD 91 0D E7 41 0D 00"), {}},
        {"blank_lines", "\n\nA\n\n", reply_of_lines({"", "", "A", "", ""}), {}},
        {"line_300", a300, reply_of_lines({a300}), {}},
        {"line_300_translated",
         std::string(300, '\xE9'),
         reply_of_lines({std::string(300, '\x91')}),
         {}},
        {"line_300_with_cr",
         std::string(299, 'A') + "\r\n",
         reply_of_lines({std::string(299, 'A') + '\r', ""}),
         {}},
        {"line_301", a301 + "\nB", hex("4F 42 0D 00"), {too_long(1, 301)}},
        {"line_301_with_cr", a300 + "\r\nB", hex("4F 42 0D 00"), {too_long(1, 301)}},
        {"line_301_with_zero",
         hex("41 00") + std::string(299, 'A') + "\nB",
         hex("4F 42 0D 00"),
         {too_long(1, 301)}},
        {"long_in_middle",
         "10 A\n" + std::string(400, 'x') + "\n30 C\n",
         reply_of_lines({"10 A", "30 C", ""}),
         {too_long(2, 400)}},
        {"several_long",
         "a\n" + std::string(301, 'x') + "\nb\n" + std::string(1000, 'y') + "\nc\n" +
             std::string(302, 'z'),
         reply_of_lines({"a", "b", "c"}),
         {too_long(2, 301), too_long(4, 1000), too_long(6, 302)}},
        {"long_last_no_lf",
         "A\n" + std::string(350, 'Q'),
         reply_of_lines({"A"}),
         {too_long(2, 350)}},
        {"only_long", std::string(70000, 'L') + "\n", reply_of_lines({""}), {too_long(1, 70000)}},
        {"long_after_many",
         [] {
             std::string many;
             for (int i = 0; i < 500; ++i) {
                 many += "x\n";
             }
             return many + std::string(301, 'L');
         }(),
         reply_of_lines(std::vector<std::string>(500, "x")),
         {too_long(501, 301)}},
        // UTF-8 goes out in Windows-1252; anything else byte for byte.
        {"utf8",
         "10 PRINT \"caf\u00E9 \u20AC\u0192\"",
         reply_of_lines({"10 PRINT \"caf\x91 \xE7\xCC\""}),
         {}},
        {"cp1252_as_is", "caf\xE9 \x80\x83", reply_of_lines({"caf\x91 \xE7\xCC"}), {}},
        {"utf8_then_stray_byte", "\u00E9\xE9", hex("4F A5 DC 91 0D 00"), {}},
        {"overlong_is_not_utf8", hex("C0 AF 0A ED A0 80"), hex("4F 85 20 0D 92 20 E7 0D 00"), {}},
        {"unheld_characters",
         "A\u4E2D\u0100\nB\u0100\u4E2D\n\U0001D11E\u00FF",
         reply_of_lines({"A  ", "B  ", " \xD8"}),
         {blanks(1, "U+4E2D"), blanks(2, "U+0100"), blanks(3, "U+1D11E")}},
        {"utf8_line_300", u8_times("\u00E9", 300), reply_of_lines({std::string(300, '\x91')}), {}},
        {"utf8_line_301",
         u8_times("\u20AC", 301) + "\nB",
         reply_of_lines({"B"}),
         {too_long(1, 301)}},
    };
}

TEST(FileReplies, EachFileIsSentLineByLineInDeviceCodes) {
    TempDir dir;
    const std::vector<FileCase> cases = file_cases();
    for (const FileCase& file : cases) {
        dir.write_file(file.name + ".bas", file.content);
    }
    DeviceSession session({"prog"}, 1, dir.path());
    std::string warnings;
    for (const FileCase& file : cases) {
        SCOPED_TRACE(file.name);
        session.device.send(request('M', file.name));
        const std::string reply = session.device.receive_file_reply(REPLY_TIME);
        ASSERT_FALSE(reply.empty()) << "no reply at all";
        EXPECT_EQ(hex_of(reply), hex_of(file.reply));
        for (const std::string& warned : file.warned) {
            warnings += "lorvrc: " + file.name + ".bas: " + warned + "\n";
        }
    }
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), warnings);
}

struct RequestCase {
    std::string what;
    char command;
    std::string name;
    std::string reply;
};

TEST(FileReplies, NamesAreUsedAsReceivedWithTheRequestsExtension) {
    TempDir dir;
    TempDir elsewhere;
    dir.write_file("p.bas", "bas");
    dir.write_file("p.inc", "inc");
    dir.write_file("p.app", "app");
    dir.write_file("sub/x.inc", "sub inc");
    dir.write_file(".bas", "dot bas");
    dir.write_file("prog.bas", "one");
    dir.write_file("prog.bas.bas", "two");
    dir.write_file("\xE9n.bas", "E9"); // as the device sends it
    dir.write_file("\x91n.bas", "91"); // the device code of E9
    dir.write_file("twice.bas", "same\nfile");
    // Opening fails even for root: a link to itself, and a path through a file.
    std::filesystem::create_symlink("loop.bas", dir.path() + "/loop.bas");
    const std::string absolute = elsewhere.write_file("abs/y.bas", "absolute");
    const std::string absolute_name = absolute.substr(0, absolute.size() - 4);
    // If the tool stopped reading the name early, the rest would be taken
    // as commands, and "O" ends the session.
    const std::string huge_name(5000, 'O');

    const std::vector<RequestCase> cases = {
        {"M appends .bas", 'M', "p", reply_of_lines({"bas"})},
        {"I appends .inc", 'I', "p", reply_of_lines({"inc"})},
        {"A appends .app", 'A', "p", reply_of_lines({"app"})},
        {"subdirectory", 'I', "sub/x", reply_of_lines({"sub inc"})},
        {"absolute name", 'M', absolute_name, reply_of_lines({"absolute"})},
        {"missing file", 'M', "nothing", "E"},
        {"missing .inc", 'I', "nothing", "E"},
        {"missing .app", 'A', "nothing", "E"},
        {"link loop", 'M', "loop", "E"},
        {"path through a file", 'M', "p.bas/x", "E"},
        {"served after a refusal", 'M', "p", reply_of_lines({"bas"})},
        {"extension already there", 'M', "prog.bas", reply_of_lines({"two"})},
        {"empty name", 'M', "", reply_of_lines({"dot bas"})},
        {"name not trimmed", 'M', "p ", "E"},
        {"no reverse translation", 'M', "\x91n", reply_of_lines({"91"})},
        {"no translation", 'M', "\xE9n", reply_of_lines({"E9"})},
        {"first time", 'M', "twice", reply_of_lines({"same", "file"})},
        {"second time", 'M', "twice", reply_of_lines({"same", "file"})},
        {"name longer than a path", 'M', huge_name, "E"},
        {"served after a long name", 'A', "p", reply_of_lines({"app"})},
    };
    DeviceSession session({"prog"}, 1, dir.path());
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.what);
        session.device.send(request(c.command, c.name));
        const std::string reply = session.device.receive_file_reply(REPLY_TIME);
        ASSERT_FALSE(reply.empty()) << "no reply at all";
        EXPECT_EQ(hex_of(reply), hex_of(c.reply));
    }
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), "");
}

TEST(FileReplies, FileIsReadAfreshOnEveryRequest) {
    TempDir dir;
    dir.write_file("prog.bas", "10 PRINT 1\n20 END");
    DeviceSession session({"prog"}, 1, dir.path());
    session.device.send(request('M', "prog"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME),
              reply_of_lines({"10 PRINT 1", "20 END"}));
    dir.write_file("prog.bas", "5 END");
    session.device.send(request('M', "prog"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), reply_of_lines({"5 END"}));
    std::filesystem::remove(dir.path() + "/prog.bas");
    session.device.send(request('M', "prog"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), "E");
    end_session(session);
}

TEST(FileReplies, UnreadableFileIsRefused) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    TempDir dir;
    const std::string path = dir.write_file("secret.bas", "10 END");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    DeviceSession session({"prog"}, 1, dir.path());
    session.device.send(request('M', "secret"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), "E");
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), "");
}

struct OddFileCase {
    std::string what;
    std::string name;
    std::string reply;
    std::string err;
};

// Only regular files are read: a FIFO would hold the open for ever, a
// device could send for ever, a directory holds no text.
TEST(FileReplies, OnlyRegularFilesAreSent) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir.path() + "/fifo.bas").c_str(), 0600), 0);
    std::filesystem::create_symlink("/dev/zero", dir.path() + "/zero.bas");
    std::filesystem::create_directory(dir.path() + "/dir.bas");
    dir.write_file("real.bas", "10 END");
    std::filesystem::create_symlink("real.bas", dir.path() + "/link.bas");
    // A regular file whose first read fails (nothing is mapped at address 0).
    std::filesystem::create_symlink("/proc/self/mem", dir.path() + "/mem.bas");
    const std::vector<OddFileCase> cases = {
        {"FIFO without a writer", "fifo", "E", ""},
        {"link to a device", "zero", "E", ""},
        {"directory", "dir", "E", ""},
        {"link to a regular file", "link", reply_of_lines({"10 END"}), ""},
        {"read error", "mem", hex("4F 00"),
         "lorvrc: mem.bas: read error after line 0: Input/output error; the rest was not sent\n"},
    };
    DeviceSession session({"prog"}, 1, dir.path());
    for (const OddFileCase& c : cases) {
        SCOPED_TRACE(c.what);
        const std::size_t printed = session.tool->stderr_text().size();
        session.device.send(request('M', c.name));
        EXPECT_EQ(hex_of(session.device.receive_file_reply(REPLY_TIME)), hex_of(c.reply));
        if (!c.err.empty()) {
            session.tool->wait_for_stderr(c.err, REPLY_TIME);
        }
        EXPECT_EQ(session.tool->stderr_text().substr(printed), c.err);
    }
    end_session(session);
}

// A program of `at_least` bytes in lines of two bytes: the most lines,
// and so the most writes, for its size.
std::string short_lines(std::size_t at_least) {
    std::string text;
    text.reserve(at_least + 2);
    while (text.size() < at_least) {
        text += "1\n";
    }
    return text;
}

TEST(FileReplies, DeviceHangingUpDuringAReplyEndsTheRun) {
    TempDir dir;
    dir.write_file("big.bas", short_lines(std::size_t{20} * 1024 * 1024));
    DeviceSession session({"prog"}, 1, dir.path());
    PtyDevice& device = session.device;
    ToolProcess& tool = *session.tool;
    ASSERT_EQ(session.start_sequence, std::string("Cprog\0", 6));

    device.send(request('M', "big"));
    EXPECT_EQ(device.receive(4, REPLY_TIME), "O1\r1");
    device.hang_up();
    const auto hung_up = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.wait(milliseconds(5000)), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - hung_up, milliseconds(2000));
    EXPECT_EQ(tool.stderr_text(), "lorvrc: lost the connection on " + test_port_dir() + "/ttyS1\n");
}

TEST(FileReplies, FileCutWhileItIsSentIsReported) {
    TempDir dir;
    const std::string path = dir.write_file("cut.bas", short_lines(std::size_t{4} * 1024 * 1024));
    DeviceSession session({"prog"}, 1, dir.path());
    session.device.send(request('M', "cut"));
    // The reply has begun, so the file is open; the tool now waits for the
    // device to take more, far before the end of the file.
    ASSERT_EQ(session.device.receive(1, REPLY_TIME), "O");
    ASSERT_EQ(truncate(path.c_str(), 0), 0);
    const std::string rest = session.device.receive_through_zero(REPLY_TIME);
    ASSERT_FALSE(rest.empty());
    EXPECT_EQ(rest.back(), '\0');
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), "lorvrc: cut.bas changed while it was sent\n");
}

} // namespace
