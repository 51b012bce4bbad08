// What the device can ask for, end to end: source files (line ends, the
// character table, UTF-8 sent as Windows-1252, long lines, odd files),
// trace text and error reports, each a session played against the built
// tool on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <optional>
#include <regex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "device_session.h"
#include "device_text.h"
#include "session_rows.h"
#include "timing.h"

using namespace testing_support;
using std::string_literals::operator""s;

namespace {

// No other test binary links this port: these sessions need no lock shared
// with the other session tests.
constexpr int PORT = 14;
const std::vector<std::string> ARGS = {"prog", std::to_string(PORT)};
const std::string START = "Cprog\0"s;
// What "shows at once" means for output that must not wait for more input.
constexpr milliseconds SHOWS(1000);

// The file reply the device must get for host text in Windows-1252: each
// line, the piece after the last line feed too, through the device's
// character table (whose entries the unit tests check) and ended by a CR.
std::string reply(const std::string& text) {
    std::string bytes = "O";
    for (const char byte : text + '\n') {
        bytes += byte == '\n' ? "\r" : device_text(std::string(1, byte)).codes();
    }
    return bytes + '\0';
}

std::string times(const std::string& text, std::size_t count) {
    std::string bytes;
    for (std::size_t i = 0; i < count; ++i) {
        bytes += text;
    }
    return bytes;
}

// Byte values 0 to 255 in order; letters that differ from their neighbours,
// so that a shifted or torn copy shows.
const std::string ALL_BYTES = [] {
    std::string bytes(256, '\0');
    std::iota(bytes.begin(), bytes.end(), '\0');
    return bytes;
}();
const std::string LETTERS = times("abcdefghijklmnopqrstuvwxyz", 4000);

std::string too_long(int line, std::size_t length) {
    return "line " + std::to_string(line) + " is " + std::to_string(length) +
           " bytes long, over the device's limit of 300; not sent";
}

std::string blanks(int line, const std::string& code_point) {
    return "line " + std::to_string(line) + " holds characters the device cannot show (" +
           code_point + "); sent as blanks";
}

// A session on this binary's port, playing `talk` in a directory of files
// given as names and bytes in turn.
SessionRow row(const char* what, const std::vector<std::string>& files,
               const std::vector<std::string>& talk, const std::string& stderr_text = "",
               int status = 0) {
    SessionRow made{what, ARGS, {}, talk, stderr_text, status};
    for (std::size_t i = 0; i + 1 < files.size(); i += 2) {
        made.files.emplace_back(files[i], files[i + 1]);
    }
    return made;
}

// A session that asks for f.bas, holding `bytes`, and ends: the host text
// the tool must send for it (none: the bytes as they are) and the warnings
// about f.bas.
SessionRow file_row(const char* what, const std::string& bytes,
                    const std::optional<std::string>& sent = std::nullopt,
                    const std::vector<std::string>& warned = {}) {
    std::string warnings;
    for (const std::string& warning : warned) {
        warnings += "lorvrc: f.bas: " + warning + "\n";
    }
    return row(what, {"f.bas", bytes}, {START, "Mf\0"s, reply(sent.value_or(bytes)), "O"},
               warnings);
}

// The row with `options` before its arguments and `environment` set.
SessionRow with(SessionRow made, const std::vector<std::string>& options,
                const std::vector<std::pair<std::string, std::string>>& environment = {}) {
    made.args.insert(made.args.begin(), options.begin(), options.end());
    made.environment = environment;
    return made;
}

// A session that ends with the error report `payload`: the message printed
// for it. The trace text after the payload's 0 byte must never be read.
SessionRow report_row(const char* what, const std::string& payload, const std::string& message) {
    return row(what, {}, {START, "E" + payload + "\0Tjunk\0O"s}, "Error <dir>\\ " + message + "\n",
               1);
}

// A report in `format` after two files were served; the later one holds
// BASIC line 39 (and 390, which is not 39).
SessionRow served_report(const char* what, const char* format, const std::string& payload,
                         const std::string& printed) {
    const std::string a = "10 REM\n20 GOTO 30", b = "\n\n\n 39 X\n390 Y";
    return with(row(what, {"a.bas", a, "sub/b.inc", b},
                    {START, "Ma\0"s, reply(a), "Isub/./b\0"s, reply(b), "E" + payload + "\0"s},
                    printed, 1),
                {"--error-format="s + format});
}
const std::string FOUND = "sub/b.inc:4: error: Syntax error in line 39";
const std::string NOT_FOUND = "sub/b.inc: error: Bad line 3";

const std::string A300(300, 'A');
const std::string SILENT = "lorvrc: no answer from the device on <port> for 1 s\n";
const std::vector<SessionRow> ROWS = {
    file_row("empty_file", ""),
    // Blank lines, bytes no line end stops at, a final line feed.
    file_row("line_ends", "\n\nB\t\0\xFFz\n"s),
    // A CR before a line feed or at the end is dropped, and not counted
    // (300 bytes go); one elsewhere stays.
    file_row("crlf", "A\rB\r\n" + A300 + "\r\nC\r\r\nD\r", "A\rB\n" + A300 + "\nC\r\nD"),
    // A file with CRs and no line feed at all ends its lines with CRs; one
    // line feed anywhere, past the first read too, makes them plain bytes.
    file_row("cr_only", "10 A\r20 B\r", "10 A\n20 B\n"),
    file_row("cr_and_a_far_line_feed", "A\r" + std::string(70000, 'x') + "\nb", "b",
             {too_long(1, 70002)}),
    // A byte order mark is dropped at the start of a file only.
    file_row("byte_order_mark",
             "\xEF\xBB\xBF"
             "10\n\xEF\xBB\xBF",
             "10\n ", {blanks(2, "U+FEFF")}),
    // 300 bytes go whole; longer lines, kept whole or only counted, are left
    // out, and the lines after them are numbered on.
    file_row("long_lines", A300 + "\n" + A300 + "A\n" + std::string(70000, 'x') + "\nb",
             A300 + "\nb", {too_long(2, 301), too_long(3, 70000)}),
    // Lengths count after conversion: 300 characters of 2 bytes go; 301 of
    // 3 do not; 300 of 4 (the longest a line can take) go as blanks; 700 of
    // 2, more than is kept of a line, are still counted as 700.
    file_row("utf8_line_lengths",
             times("é", 300) + "\n" + times("€", 301) + "\n" + times("\U0001D11E", 300) + "\n" +
                 times("é", 700),
             std::string(300, '\xE9') + "\n" + std::string(300, ' '),
             {too_long(2, 301), blanks(3, "U+1D11E"), too_long(4, 700)}),
    // Each command's extension, a file asked for twice, names taken as given.
    row("names",
        {"p.bas", "p", "p.inc", "i", "p.app", "a", "sub/x.inc", "s", "p.bas.bas", "pp", ".bas", "d",
         "\xE9.bas", "e9", "\x91.bas", "91"},
        {START, "Mp\0"s, "Op\r\0"s, "Ip\0"s, "Oi\r\0"s, "Ap\0"s, "Oa\r\0"s, "Isub/x\0"s, "Os\r\0"s,
         "Mp.bas\0"s, "Opp\r\0"s, "M\0"s, "Od\r\0"s, "M\xE9\0"s, "Oe9\r\0"s, "M/proc/self/cwd/p\0"s,
         "Op\r\0"s, "O"}),
    // An exact name wins; else the one file that differs only in case (a
    // FIFO is none), also in a subdirectory; two or more: none.
    row("case_rule",
        {"e.bas",   "e", "E.bas",   "E", "hi.BAS", "h", "FIFO.bas", "<fifo>", "s/Deep.inc", "d",
         "Two.bas", "",  "two.bas", "",  "x.BAS",  "",  "X.bas",    "",       "X.Bas",      ""},
        {START, "Me\0"s, "Oe\r\0"s, "MHi\0"s, "Oh\r\0"s, "Mfifo\0"s, "E", "Is/deep\0"s, "Od\r\0"s,
         "MTWO\0"s, "E", "Mx\0"s, "E", "O"},
        "lorvrc: TWO.bas: not found; Two.bas and two.bas differ from it only in case, so neither "
        "was sent\nlorvrc: x.bas: not found; X.Bas, X.bas and x.BAS differ from it only in case, "
        "so none was sent\n"),
    // The exact name in the current directory, the -I ones, LORVRC_PATH's;
    // then the case rule in that order; -v tells each (the piece after a
    // final line feed is sent, but is no line); the report names
    // the file served.
    with(row("search_path",
             {"one.inc",    "cwd", "a/one.inc",   "a1",   "a/two.inc",   "a2\n", "a/FOUR.inc", "a4",
              "b/two.inc",  "b2",  "b/three.inc", "b3",   "c/three.inc", "c3",   "c/four.inc", "c4",
              "c/FIVE.inc", "c5",  "dir.inc",     "<dir>"},
             {START, "Ione\0"s, "Ocwd\r\0"s, "Itwo\0"s, "Oa2\r\r\0"s, "Ithree\0"s, "Ob3\r\0"s,
              "Ifour\0"s, "Oc4\r\0"s, "Isix\0Idir\0"s, "EE", "Ifive\0"s, "Oc5\r\0"s, "E9,boom\0"s},
             "lorvrc: one.inc: sent 1 line (4 bytes) from <dir>/one.inc\n"
             "lorvrc: two.inc: sent 1 line (4 bytes) from <dir>/a/two.inc\n"
             "lorvrc: three.inc: sent 1 line (3 bytes) from <dir>/b/three.inc\n"
             "lorvrc: four.inc: sent 1 line (3 bytes) from <dir>/c/four.inc\n"
             "lorvrc: six.inc: not found in <dir>, <dir>/a, <dir>/b, <dir>/c\n"
             "lorvrc: dir.inc: not a regular file\n"
             "lorvrc: five.inc: sent 1 line (3 bytes) from <dir>/c/FIVE.inc\nError "
             "<dir>/c\\FIVE.inc boom\n",
             1),
         {"-v", "-I", "a", "-Ib"}, {{"LORVRC_PATH", ":c:"}}),
    row("odd_files",
        {"fifo.bas", "<fifo>", "zero.bas", "-> /dev/zero", "dir.bas", "<dir>", "p.bas", "p",
         "link.bas", "-> p.bas"},
        {START, "Mfifo\0"s, "E", "Mzero\0"s, "E", "Mdir\0"s, "E", "Mlink\0"s, "Op\r\0"s, "O"}),
    // A regular file whose first read fails: nothing is mapped at address 0.
    row("read_error", {"mem.bas", "-> /proc/self/mem"}, {START, "Mmem\0"s, "O\0"s, "O"},
        "lorvrc: mem.bas: read error after line 0: Input/output error; the rest was not sent\n"),
    // Were the name not read to its end, its "O"s would end the session.
    row("name_longer_than_a_path", {"p.bas", "p"},
        {START, "M" + std::string(5000, 'O') + "\0"s, "E", "Mp\0"s, "Op\r\0"s, "O"}),
    row("refused_file_in_report", {"p.bas", "p"},
        {START, "Mp\0"s, "Op\r\0"s, "Mno,pe\0"s, "E", "E9,boom\0"s},
        "Error <dir>\\no,pe.bas boom\n", 1),
    // Trace text as it is, before and after a request, an empty one too.
    row("trace", {"p.bas", "p"},
        {START, "T" + ALL_BYTES.substr(1) + "\0T\0Mp\0"s, "Op\r\0"s, "Tb\0O"s},
        ALL_BYTES.substr(1) + "b"),
    report_row("report_no_comma", "disk full", "disk full"),
    // Only the first comma ends the number: the message holds another.
    report_row("report_every_byte", "," + ALL_BYTES.substr(1), ALL_BYTES.substr(1)),
    // 64 KiB kept, the rest counted.
    report_row("report_cut", LETTERS.substr(0, 100000),
               LETTERS.substr(0, 65536) + " [34464 more bytes cut]"),
    row("report_after_ended_trace", {}, {START, "Tabc\n\0E9,m\0"s}, "abc\nError <dir>\\ m\n", 1),
    // Where a report points: the file served, and the file's line.
    served_report("gnu_line_found", "gnu", "1,Syntax error in line 39", FOUND + "\n"),
    served_report("plain_names_the_file_as_asked", "plain", "1,m", "Error <dir>\\sub/./b.inc m\n"),
    // A device silent in the middle of its report: the part that came, in
    // the format LORVRC_ERROR_FORMAT names. (How the format is chosen is the
    // option reader's table, in cli_test.cpp; this row sees it reach the
    // report.)
    with(row("report_cut_short", {}, {START, "E9,par"s}, "Error <dir>\\ par\n" + SILENT, 1),
         {"--timeout=1"}),
    with(row("report_cut_short_gnu", {}, {START, "E9,par"s}, "lorvrc: error: par\n" + SILENT, 1),
         {"--timeout=1"}, {{"LORVRC_ERROR_FORMAT", "gnu"}}),
};

class DeviceRequests : public testing::TestWithParam<SessionRow> {};

TEST_P(DeviceRequests, AreServedAsTheRowSays) {
    EXPECT_EQ(play(GetParam(), {PORT, PORT + 1}), expected(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Rows, DeviceRequests, testing::ValuesIn(ROWS),
                         [](const auto& info) { return std::string(info.param.what); });

// The regular expressions of the VS Code problem matchers docs/editors.md
// ships, in its order, their JSON escapes undone.
std::vector<std::regex> shipped_matchers() {
    std::ifstream doc(LORVRC_EDITORS_DOC);
    std::vector<std::regex> matchers;
    std::smatch json;
    for (std::string line; std::getline(doc, line);) {
        if (std::regex_search(line, json, std::regex("\"regexp\": \"(.*)\""))) {
            matchers.emplace_back(std::regex_replace(json.str(1), std::regex(R"(\\(.))"), "$1"));
        }
    }
    return matchers;
}

// The parts of `text` the matcher finds, joined by '|'; "" if it finds none.
std::string groups(const std::string& text, const std::regex& matcher) {
    std::smatch match;
    std::string found;
    for (std::size_t i = 1; std::regex_match(text, match, matcher) && i < match.size(); ++i) {
        found += match.str(i) + "|";
    }
    return found;
}

// The VS Code matchers find each part of the gnu lines: the one for a file
// and a line in a line the rows above check, the one for a file alone in a
// line without a line number.
TEST(ErrorFormats, ShippedMatchersFindEachPartOfTheGnuLines) {
    const std::vector<std::regex> matchers = shipped_matchers();
    ASSERT_EQ(matchers.size(), 2U);
    EXPECT_EQ(groups(FOUND, matchers[0]) + groups(FOUND, matchers[1]),
              "sub/b.inc|4|Syntax error in line 39|");
    EXPECT_EQ(groups(NOT_FOUND, matchers[0]) + groups(NOT_FOUND, matchers[1]),
              "sub/b.inc|Bad line 3|");
}

// Cut short, or rewritten in place to the same size (its time set apart,
// as the clock may not have moved on).
TEST(DeviceRequests, FileChangedWhileItIsSentIsReported) {
    for (const bool cut : {true, false}) {
        TempDir dir;
        const std::string path = dir.write_file("cut.bas", times("1\n", 50'000));
        DeviceSession session(ARGS, PORT, dir.path());
        session.device.send("Mcut\0"s);
        // The reply has begun, so the file is open; the tool now waits for
        // the device to take more, far before the end of the file.
        ASSERT_EQ(session.device.receive(1, SHOWS), "O");
        const timespec times[2] = {{0, UTIME_OMIT}, {1000, 0}};
        ASSERT_EQ(cut ? truncate(path.c_str(), 0) : utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        const std::string rest = session.device.receive_through_zero(milliseconds(10000));
        ASSERT_TRUE(!rest.empty() && rest.back() == '\0');
        session.device.send("O");
        EXPECT_EQ(session.tool->wait(DEADLINE), 0);
        EXPECT_EQ(session.tool->stderr_text(), "lorvrc: cut.bas changed while it was sent\n");
    }
}

// Trace text shows byte by byte and outlasts the line's read time-outs; the
// Error line starts a line of its own and shows before its payload comes; a
// hang-up inside the payload ends that line, with the part that came,
// before it is reported.
TEST(DeviceRequests, TextShowsAsItComesAndAHangUpEndsItsLine) {
    TempDir dir;
    DeviceSession session(ARGS, PORT, dir.path());
    session.device.send("Tab");
    ASSERT_TRUE(session.tool->wait_for_stderr("ab", SHOWS));
    std::this_thread::sleep_for(milliseconds(1200)); // over one read time-out
    session.device.send("c\0E9,par"s);
    const std::string line_start = "abc\nError " + dir.path() + "\\ ";
    ASSERT_TRUE(session.tool->wait_for_stderr(line_start, SHOWS));
    session.device.hang_up();
    EXPECT_EQ(session.tool->wait(milliseconds(2000)), 1);
    EXPECT_EQ(session.tool->stderr_text(),
              line_start + "par\nlorvrc: lost the connection on " + port_path(PORT) + "\n");
}

// The directory is fetched when the report is printed, however long it is.
TEST(DeviceRequests, ReportNamesTheDirectoryInFullOrSaysItIsGone) {
    TempDir dir;
    const std::string deep = dir.path() + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
    std::filesystem::create_directories(deep);
    for (const bool removed : {false, true}) {
        DeviceSession session(ARGS, PORT, deep);
        if (removed) {
            std::filesystem::remove(deep);
        }
        session.device.send("E9,msg\0"s);
        EXPECT_EQ(session.tool->wait(DEADLINE), 1);
        EXPECT_EQ(session.tool->stderr_text(),
                  "Error " + (removed ? "(unknown directory)" : deep) + "\\ msg\n");
    }
}

} // namespace
