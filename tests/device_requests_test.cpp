// What the device can ask for, end to end: source files (line ends, the
// character table, UTF-8 sent as Windows-1252, long lines, odd files),
// trace text and error reports, each a session played against the built
// tool on a pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
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
#include "session_rows.h"

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
constexpr milliseconds EXIT_TIME(3000);

// The device's character table, written out again: entry b is the code
// that host byte b must reach the device as.
const std::string TABLE = "\x20\x20\x20\x20\x20\x20\x20\x20\x20\x09\x20\x20\x20\x0D\x20\x20"
                          "\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20"
                          "\x20\x21\x22\x23\x24\x25\x26\x27\x28\x29\x2A\x2B\x2C\x2D\x2E\x2F"
                          "\x30\x31\x32\x33\x34\x35\x36\x37\x38\x39\x3A\x3B\x3C\x3D\x3E\x3F"
                          "\x40\x41\x42\x43\x44\x45\x46\x47\x48\x49\x4A\x4B\x4C\x4D\x4E\x4F"
                          "\x50\x51\x52\x53\x54\x55\x56\x57\x58\x59\x5A\x5B\x5C\x5D\x5E\x5F"
                          "\x60\x61\x62\x63\x64\x65\x66\x67\x68\x69\x6A\x6B\x6C\x6D\x6E\x6F"
                          "\x70\x71\x72\x73\x74\x75\x76\x77\x78\x79\x7A\x7B\xCD\x7D\x7E\x20"
                          "\xE7\x20\x20\xCC\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20"
                          "\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20\x20"
                          "\x20\x8F\xAF\xBD\xDD\xBE\x7C\xD3\x20\xDC\xC0\xDA\x20\xD7\xD9\x20"
                          "\xC5\xC4\xC6\xC7\x20\xC8\xAE\xE5\x20\xE6\xC1\xDB\xCA\xC9\xCB\x9F"
                          "\x85\x80\x8A\xA5\xA0\xAB\xA9\xAA\x86\x81\x8B\xA1\x87\x82\x8C\xA2"
                          "\xDF\xA7\x88\x83\x8D\xA6\xA3\xC2\xAC\x89\x84\x8E\xA4\xE4\xE2\xAD"
                          "\x95\x90\x9A\xB5\xB0\xBB\xB9\xBA\x96\x91\x9B\xB1\x97\x92\x9C\xB2"
                          "\xDE\xB7\x98\x93\x9D\xB6\xB3\xC3\xBC\x99\x94\x9E\xB4\xE3\xE1\xD8";

// The file reply the device must get for host text in Windows-1252: each
// line, the piece after the last line feed too, in device codes and ended
// by a CR.
std::string reply(const std::string& text) {
    std::string bytes = "O";
    for (const unsigned char byte : text + '\n') {
        bytes += byte == '\n' ? '\r' : TABLE[byte];
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

// The row with `options` before its arguments and LORVRC_PATH `path`.
SessionRow with(SessionRow made, const std::vector<std::string>& options, const char* path) {
    made.args.insert(made.args.begin(), options.begin(), options.end());
    made.environment = {{"LORVRC_PATH", path}};
    return made;
}

// A session that ends with the error report `payload`: the message printed
// for it. The trace text after the payload's 0 byte must never be read.
SessionRow report_row(const char* what, const std::string& payload, const std::string& message) {
    return row(what, {}, {START, "E" + payload + "\0Tjunk\0O"s}, "Error <dir>\\ " + message + "\n",
               1);
}

// A report before any request, with LORVRC_ERROR_FORMAT set and options
// before the program name; `talk` empty: refused before anything is sent.
SessionRow format_row(const char* what, const std::string& variable,
                      const std::vector<std::string>& options, const std::string& printed,
                      const std::vector<std::string>& talk = {START, "E1,m\0"s}) {
    SessionRow made = row(what, {}, talk, printed, 1);
    made.args.insert(made.args.begin(), options.begin(), options.end());
    made.environment = {{"LORVRC_ERROR_FORMAT", variable}};
    return made;
}

const std::string A300(300, 'A');
// Not UTF-8 (Windows-1252, overlong forms, surrogates, past U+10FFFF, a
// sequence cut short): each line goes out byte for byte.
const std::string NOT_UTF8 = "\x80\ncaf\xE9 \x80\x83\n\xC3\xA9\xE9\n\xC0\xAF\n\xE0\x80\xAF\n"
                             "\xF0\x80\x80\xAF\n\xED\xA0\x80\n\xED\xBF\xBF\n\xF4\x90\x80\x80\n"
                             "\xF5\x80\x80\x80\n\xC3\xA9\xC3";
// Valid UTF-8 at the edges of each sequence length and around the
// surrogates; none of it in Windows-1252.
const std::string UTF8_EDGES = "\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF"
                               "\xF0\x90\x80\x80\xF4\x8F\xBF\xBF";

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
    // Every byte but the line feed passes the table; the file is not UTF-8.
    file_row("every_byte", ALL_BYTES),
    // 300 bytes go whole; longer lines, kept whole or only counted, are left
    // out, and the lines after them are numbered on.
    file_row("long_lines", A300 + "\n" + A300 + "A\n" + std::string(70000, 'x') + "\nb",
             A300 + "\nb", {too_long(2, 301), too_long(3, 70000)}),
    file_row("cp1252_all_held", "10 PRINT €‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ\u00A0\u00FF",
             "10 PRINT \x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x92\x93\x94"
             "\x95\x96\x97\x98\x99\x9A\x9B\x9C\x9E\x9F\xA0\xFF"),
    file_row("unheld_as_blanks", "A\u4E2D\u0100\nB" + UTF8_EDGES + "\n\U0001D11E\u00E9",
             "A  \nB" + std::string(8, ' ') + "\n \xE9",
             {blanks(1, "U+4E2D"), blanks(2, "U+0080"), blanks(3, "U+1D11E")}),
    file_row("not_utf8_as_is", NOT_UTF8),
    // Lengths count after conversion: 300 characters of 2 bytes go; 301 of
    // 3 do not; 300 of 4 (the longest a line can take) go as blanks; 700 of
    // 2, more than is kept of a line, are still counted as 700.
    file_row("utf8_line_lengths",
             times("é", 300) + "\n" + times("€", 301) + "\n" + times("\U0001D11E", 300) + "\n" +
                 times("é", 700),
             std::string(300, '\xE9') + "\n" + std::string(300, ' '),
             {too_long(2, 301), blanks(3, "U+1D11E"), too_long(4, 700)}),
    {"name_with_line_feed", {"A|\n", ARGS[1]}, {}, {"CA\xCD \0"s, "O"}, "", 0},
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
    // then the case rule in that order; -v tells each; the report names
    // the file served.
    with(row("search_path",
             {"one.inc",    "cwd", "a/one.inc",   "a1",   "a/two.inc",   "a2", "a/FOUR.inc", "a4",
              "b/two.inc",  "b2",  "b/three.inc", "b3",   "c/three.inc", "c3", "c/four.inc", "c4",
              "c/FIVE.inc", "c5",  "dir.inc",     "<dir>"},
             {START, "Ione\0"s, "Ocwd\r\0"s, "Itwo\0"s, "Oa2\r\0"s, "Ithree\0"s, "Ob3\r\0"s,
              "Ifour\0"s, "Oc4\r\0"s, "Isix\0Idir\0"s, "EE", "Ifive\0"s, "Oc5\r\0"s, "E9,boom\0"s},
             "lorvrc: one.inc: sent 1 line (4 bytes) from <dir>/one.inc\n"
             "lorvrc: two.inc: sent 1 line (3 bytes) from <dir>/a/two.inc\n"
             "lorvrc: three.inc: sent 1 line (3 bytes) from <dir>/b/three.inc\n"
             "lorvrc: four.inc: sent 1 line (3 bytes) from <dir>/c/four.inc\n"
             "lorvrc: six.inc: not found in <dir>, <dir>/a, <dir>/b, <dir>/c\n"
             "lorvrc: dir.inc: not a regular file\n"
             "lorvrc: five.inc: sent 1 line (3 bytes) from <dir>/c/FIVE.inc\nError "
             "<dir>/c\\FIVE.inc boom\n",
             1),
         {"-v", "-I", "a", "-Ib"}, ":c:"),
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
    report_row("report_several_commas", "ab,cd,ef", "cd,ef"),
    report_row("report_every_byte", "," + ALL_BYTES.substr(1), ALL_BYTES.substr(1)),
    // 64 KiB kept, the rest counted.
    report_row("report_cut", LETTERS.substr(0, 100000),
               LETTERS.substr(0, 65536) + " [34464 more bytes cut]"),
    row("report_after_open_trace", {}, {START, "Tabc\0E9,m\0"s}, "abc\nError <dir>\\ m\n", 1),
    row("report_after_ended_trace", {}, {START, "Tabc\n\0E9,m\0"s}, "abc\nError <dir>\\ m\n", 1),
    // A device silent in the middle of its report: the part that came.
    format_row("report_cut_short", "", {"--timeout=1"},
               "Error <dir>\\ par\nlorvrc: no answer from the device on <port> for 1 s\n",
               {START, "E9,par"s}),
    format_row("report_cut_short_gnu", "gnu", {"--timeout=1"},
               "lorvrc: error: par\nlorvrc: no answer from the device on <port> for 1 s\n",
               {START, "E9,par"s}),
    format_row("format_from_variable", "github", {}, "::error::m\n"),
    format_row("format_empty_variable", "", {}, "Error <dir>\\ m\n"),
    format_row("format_option_over_variable", "xml", {"--error-format", "gnu"},
               "lorvrc: error: m\n"),
    format_row("format_unknown", "", {"--error-format=GNU"},
               "lorvrc: unknown error format \"GNU\"; give plain, gnu or github\n", {}),
    format_row(
        "format_unknown_variable", "xml", {},
        "lorvrc: unknown error format \"xml\" (from LORVRC_ERROR_FORMAT); give plain, gnu or "
        "github\n",
        {}),
};

class DeviceRequests : public testing::TestWithParam<SessionRow> {};

TEST_P(DeviceRequests, AreServedAsTheRowSays) {
    EXPECT_EQ(play(GetParam(), {PORT, PORT + 1}), expected(GetParam()));
}

INSTANTIATE_TEST_SUITE_P(Rows, DeviceRequests, testing::ValuesIn(ROWS),
                         [](const auto& info) { return std::string(info.param.what); });

// One error report played in each format: the files and the talk, where
// gnu and github must point (path "": no file requested; line "": none)
// and the lines plain and github must print.
struct Report {
    const char* what;
    std::vector<std::string> files;
    std::vector<std::string> talk;
    std::string path, line, message, plain, github;
};
std::ostream& operator<<(std::ostream& out, const Report& report) { return out << report.what; }

// BASIC line 30 starts in both files, 20 in the earlier one only.
const std::vector<std::string> NUMBERED = {"a.bas", "10 REM\n20 GOTO 30\n\t30 PRINT", "sub/b.inc",
                                           "\n\n\n 39 X\n390 Y"};
std::vector<std::string> served_then(const std::string& payload) {
    return {START,         "M/proc/self/cwd/a\0"s,      reply("10 REM\n20 GOTO 30\n\t30 PRINT"),
            "Isub/./b\0"s, reply("\n\n\n 39 X\n390 Y"), "E" + payload + "\0"s};
}
const std::string B_PLAIN = "Error <dir>\\sub/./b.inc ";

const Report REPORTS[] = {
    {"line_in_last_file", NUMBERED, served_then("1,Syntax error in line 39"), "sub/b.inc", "4",
     "Syntax error in line 39", B_PLAIN + "Syntax error in line 39\n",
     "::error file=sub/b.inc,line=4::Syntax error in line 39\n"},
    {"line_in_earlier_file", NUMBERED, served_then("2,GOSUB in LINE 20 from line 30"),
     "/proc/self/cwd/a.bas", "2", "GOSUB in LINE 20 from line 30",
     B_PLAIN + "GOSUB in LINE 20 from line 30\n",
     "::error file=/proc/self/cwd/a.bas,line=2::GOSUB in LINE 20 from line 30\n"},
    {"line_not_found", NUMBERED, served_then("3,Bad line 3"), "sub/b.inc", "", "Bad line 3",
     B_PLAIN + "Bad line 3\n", "::error file=sub/b.inc::Bad line 3\n"},
    {"no_line_named", NUMBERED, served_then("4,Baseline 30 lines 10"), "sub/b.inc", "",
     "Baseline 30 lines 10", B_PLAIN + "Baseline 30 lines 10\n",
     "::error file=sub/b.inc::Baseline 30 lines 10\n"},
    {"before_any_request",
     {},
     {START, "E5,Out of memory in line 10\0"s},
     "",
     "",
     "Out of memory in line 10",
     "Error <dir>\\ Out of memory in line 10\n",
     "::error::Out of memory in line 10\n"},
    // A BASIC line given twice: the interpreter keeps the later one.
    {"line_given_twice",
     {"d.bas", "30 A\n30 B"},
     {START, "Md\0"s, reply("30 A\n30 B"), "E1,in line 30\0"s},
     "d.bas",
     "2",
     "in line 30",
     "Error <dir>\\d.bas in line 30\n",
     "::error file=d.bas,line=2::in line 30\n"},
    {"escapes",
     {"a,b:c.bas", "1 X"},
     {START, "Ma,b:c\0"s, reply("1 X"), "E6,50%\r\nin line 1\0"s},
     "a,b:c.bas",
     "1",
     "50%\r\nin line 1",
     "Error <dir>\\a,b:c.bas 50%\r\nin line 1\n",
     "::error file=a%2Cb%3Ac.bas,line=1::50%25%0D%0Ain line 1\n"},
};

// The regular expressions of the VS Code problem matchers docs/editors.md
// ships, in its order, their JSON escapes undone.
std::vector<std::regex> shipped_matchers() {
    std::ifstream doc(LORVRC_EDITORS_DOC);
    std::vector<std::regex> matchers;
    const std::string key = "\"regexp\": \"";
    for (std::string line; std::getline(doc, line);) {
        if (const std::size_t at = line.find(key); at != std::string::npos) {
            const std::string json =
                line.substr(at + key.size(), line.rfind('"') - at - key.size());
            std::string expression;
            for (std::size_t i = 0; i < json.size(); ++i) {
                expression += json[i] == '\\' ? json[++i] : json[i];
            }
            matchers.emplace_back(expression, std::regex::ECMAScript);
        }
    }
    return matchers;
}

std::vector<std::string> groups(const std::string& text, const std::regex& matcher) {
    std::smatch match;
    std::vector<std::string> found;
    if (std::regex_match(text, match, matcher)) {
        for (std::size_t i = 1; i < match.size(); ++i) {
            found.push_back(match.str(i));
        }
    }
    return found;
}

class ErrorFormats : public testing::TestWithParam<Report> {};

TEST_P(ErrorFormats, PointAtTheFileLineOfTheBasicLine) {
    const Report& report = GetParam();
    // gnu keeps its one line: line ends in the message are written as blanks.
    std::string shown = report.message;
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    const std::string gnu =
        (report.path.empty() ? "lorvrc"
                             : report.path + (report.line.empty() ? "" : ":" + report.line)) +
        ": error: " + shown + "\n";
    SessionOutcome gnu_outcome;
    for (const auto& [format, printed] :
         {std::pair{"plain", report.plain}, {"gnu", gnu}, {"github", report.github}}) {
        SessionRow made = row(report.what, report.files, report.talk, printed, 1);
        made.args.insert(made.args.begin(), "--error-format="s + format);
        const SessionOutcome outcome = play(made, {PORT, PORT + 1});
        EXPECT_EQ(outcome, expected(made)) << format;
        gnu_outcome = format == "gnu"s ? outcome : gnu_outcome;
    }
    // VS Code reads the real line up to its first line end: the matcher for a
    // file and line, or the one for a file alone, finds each part.
    const std::string& text = gnu_outcome.stderr_text;
    const std::string first_line = text.substr(0, text.find_first_of("\r\n"));
    const std::vector<std::regex> matchers = shipped_matchers();
    ASSERT_EQ(matchers.size(), 2U);
    using Groups = std::vector<std::string>;
    const bool file_alone = report.line.empty() && !report.path.empty();
    EXPECT_EQ(groups(first_line, matchers[0]),
              (report.line.empty() ? Groups{} : Groups{report.path, report.line, shown}));
    EXPECT_EQ(groups(first_line, matchers[1]),
              (file_alone ? Groups{report.path, shown} : Groups{}));
}

INSTANTIATE_TEST_SUITE_P(Reports, ErrorFormats, testing::ValuesIn(REPORTS),
                         [](const auto& info) { return std::string(info.param.what); });

std::string lost_line() { return "lorvrc: lost the connection on " + port_path(PORT) + "\n"; }

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
        EXPECT_EQ(session.tool->wait(EXIT_TIME), 0);
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
    EXPECT_EQ(session.tool->stderr_text(), line_start + "par\n" + lost_line());
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
        EXPECT_EQ(session.tool->wait(EXIT_TIME), 1);
        EXPECT_EQ(session.tool->stderr_text(),
                  "Error " + (removed ? "(unknown directory)" : deep) + "\\ msg\n");
    }
}

} // namespace
