// The session's pure functions, each against a table of cases: text for
// the device (UTF-8 to Windows-1252, the device's character table), the
// BASIC line a message names and where it starts, and the report's forms.
#include <gtest/gtest.h>

#include "device_text.h"
#include "error_format.h"
#include "file_paths.h"
#include "line_index.h"

using std::string_literals::operator""s;

namespace {

// Text in, the Windows-1252 bytes out and the first character they cannot
// hold (0: none).
const std::tuple<std::string, std::string, char32_t> CP1252[] = {
    // The 27 characters Windows-1252 puts at 80 to 9F, and the ends of A0 to FF.
    {"€‚ƒ„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ\u00A0\u00FF",
     "\x80\x82\x83\x84\x85\x86\x87\x88\x89\x8A\x8B\x8C\x8E\x91\x92\x93\x94\x95\x96\x97\x98\x99"
     "\x9A\x9B\x9C\x9E\x9F\xA0\xFF",
     0},
    {"\u00E9\x7F", "\xE9\x7F", 0}, // DEL is ASCII
    // One blank a character, the first named.
    {"a\u4E2D\u0100\U0001D11E", "a   ", 0x4E2D},
    {"\U0001D11E\u00E9", " \xE9", 0x1D11E},
    // Valid UTF-8 at the edges of each sequence length and the surrogates.
    {"\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF\xF0\x90\x80\x80\xF4\x8F\xBF"
     "\xBF",
     std::string(8, ' '), 0x80},
};

// Not UTF-8, so already Windows-1252, and sent byte for byte: a line saved
// in Windows-1252; valid, then not; overlong forms of 2, 3 and 4 bytes; the
// first and last surrogates; past U+10FFFF; no such lead byte; cut short;
// a continuation byte alone.
const char* const NOT_UTF8[] = {"caf\xE9 \x80\x83", "\xC3\xA9\xE9",     "\xC0\xAF",
                                "\xE0\x80\xAF",     "\xF0\x80\x80\xAF", "\xED\xA0\x80",
                                "\xED\xBF\xBF",     "\xF4\x90\x80\x80", "\xF5\x80\x80\x80",
                                "\xC3\xA9\xC3",     "\xE2\x82\xAC\x80"};

TEST(Windows1252, ConvertsUtf8AndMeasuresAsItConverts) {
    std::vector<std::tuple<std::string, std::string, char32_t>> rows(std::begin(CP1252),
                                                                     std::end(CP1252));
    for (const char* text : NOT_UTF8) {
        rows.emplace_back(text, text, 0);
    }
    for (const auto& [text, bytes, unheld] : rows) {
        const Cp1252Text converted = utf8_to_cp1252(text);
        Cp1252Length measured; // a byte at a time
        for (const char byte : text) {
            measured.add(static_cast<unsigned char>(byte));
        }
        EXPECT_EQ(std::tuple(converted.bytes, converted.first_unheld, measured.length()),
                  std::tuple(bytes, unheld, bytes.size()))
            << text;
    }
}

// The device's character table as docs/protocol.md states it, in a few of
// its entries and its example, not copied from the code.
TEST(DeviceText, PassesTheCharacterTable) {
    for (int byte = 0; byte < 256; ++byte) { // no code is the 0 that ends a string on the wire
        EXPECT_NE(device_text(std::string(1, char(byte))).codes(), std::string(1, '\0')) << byte;
    }
    // Bytes of 80 and above stand alone, so they are no UTF-8 and meet the
    // table as they are.
    const std::pair<std::string, const char*> known[] = {
        {"10 PRINT \"caf\u00E9 \u20AC\"", "10 PRINT \"caf\x91 \xE7\""}, // the documented example
        {"\t\r\x01\x1F |~"s + '\0', "\t\r   \xCD~ "},
        {"\x7F\x80\x81\x83\x9F", "\x20\xE7\x20\xCC\x20"},
        {"\xA0\xA6\xC0\xE9\xFF", "\x20\x7C\x85\x91\xD8"}};
    for (const auto& [text, codes] : known) {
        EXPECT_EQ(device_text(text).codes(), codes) << text;
    }
}

// The message, and the digits of the line it names.
TEST(LineIndex, FindsTheBasicLineAMessageNames) {
    const std::pair<const char*, const char*> rows[] = {{"LINE 20, line 30", "20"},
                                                        {"in Line \t 7, x", "7"},
                                                        {"line5", "5"},
                                                        {"(line 040)", "040"},
                                                        {"line x, line 9", "9"}};
    for (const auto& [message, digits] : rows) {
        EXPECT_EQ(basic_line_named(message), digits) << message;
    }
    for (const char* none : {"Baseline 30 lines", "Out of memory", "line", "lin 3"}) {
        EXPECT_EQ(basic_line_named(none), std::nullopt) << none;
    }
}

// A line is where a BASIC line starts when it begins, after blanks, with
// at most 19 digits (more could not be held); "040" is not "40". A number
// given twice is found where the interpreter keeps it: the later line.
TEST(LineIndex, KeepsWhereEachNumberedLineStarts) {
    NumberedLines lines;
    const char* const file[] = {"10 REM",  "20 GOTO 30", "\t30 PRINT",
                                "",        "040 X",      "  7",
                                "5a",      "x 60",       "1234567890123456789 Y",
                                "10 again"};
    for (std::uint64_t number = 1; const char* text : file) {
        lines.add(text, number++);
    }
    // The digits looked for and the line found (0: none).
    const std::pair<const char*, std::uint64_t> rows[] = {
        {"10", 10}, {"20", 2},  {"30", 3},
        {"40", 0},  {"040", 5}, {"7", 6},
        {"5", 7},   {"60", 0},  {"1234567890123456789", 9}};
    for (const auto& [digits, line] : rows) {
        EXPECT_EQ(lines.find(digits).value_or(0), line) << digits;
    }
    for (std::size_t i = 0; i <= NUMBERED_LINES_MAX; ++i) {
        lines.add("1", i + 11);
    }
    EXPECT_EQ(lines.size(), NUMBERED_LINES_MAX);
}

// The file the report is about first, then the others, newest first; else
// that file without a line (its name when it was refused).
TEST(LineIndex, PlacesAReportInTheFilesServed) {
    ServedLines served;
    const std::pair<const char*, std::vector<const char*>> files[] = {
        {"a.bas", {"10 A", "20 B", "30 C"}}, {"sub/b.inc", {"", "30 D"}}};
    for (const auto& [path, text] : files) {
        NumberedLines lines;
        for (std::uint64_t number = 1; const char* line : text) {
            lines.add(line, number++);
        }
        served.remember(path, std::move(lines));
    }
    const ServedFile sent = {"b.inc", "sub/b.inc"}, refused = {"x.bas", ""};
    const std::tuple<std::string, ServedFile, std::string, std::optional<std::uint64_t>> rows[] = {
        {"line 20", sent, "a.bas", 2},
        {"line 3", sent, "sub/b.inc", std::nullopt},
        {"no line", refused, "x.bas", std::nullopt},
        {"line 10", refused, "a.bas", 1}};
    for (const auto& [message, current, path, line] : rows) {
        const ErrorPlace place = served.place_of(message, current);
        EXPECT_EQ(std::pair(place.path, place.line), std::pair(path, line)) << message;
    }
}

TEST(ErrorFormat, NamesPathsAndLinesAsEditorsRead) {
    const std::tuple<std::string, std::optional<std::string>, std::string> paths[] = {
        {"sub/./b.inc", "/home/u/", "sub/b.inc"},
        {"/home/u/x/../a.bas", "/home/u", "a.bas"},
        {"../up.bas", "/home/u", "/home/up.bas"},
        {"/home/user/a.bas", "/home/u", "/home/user/a.bas"},
        {"/proc/self/cwd/a.bas", "/home/u", "/proc/self/cwd/a.bas"},
        {"a/../../b.bas", std::nullopt, "a/../../b.bas"},
        {"", "/home/u", ""}};
    for (const auto& [path, directory, shown] : paths) {
        EXPECT_EQ(path_for_editors(path, directory), shown) << path;
    }
    const std::tuple<ErrorFormat, std::string, std::optional<std::uint64_t>, std::string,
                     std::string>
        lines[] = {{ErrorFormat::gnu, "a.bas", std::nullopt, "m,%", "a.bas: error: m,%\n"},
                   // One line, as editors read one: line ends in it as blanks.
                   {ErrorFormat::gnu, "a.bas", 1, "50%\r\nin", "a.bas:1: error: 50%  in\n"},
                   {ErrorFormat::gnu, "", 3, "m", "lorvrc: error: m\n"},
                   {ErrorFormat::github, "a,b:c%.bas", 1, "50%\r\nx:y,z",
                    "::error file=a%2Cb%3Ac%25.bas,line=1::50%25%0D%0Ax:y,z\n"},
                   {ErrorFormat::github, "p.bas", std::nullopt, "m", "::error file=p.bas::m\n"},
                   {ErrorFormat::github, "", 3, "m", "::error::m\n"}};
    for (const auto& [format, path, line, message, printed] : lines) {
        EXPECT_EQ(error_line(format, path, line, message), printed);
    }
}

TEST(FilePaths, SplitAndJoin) {
    const std::tuple<std::string, std::string, std::string> splits[] = {
        {"/x", "/", "x"}, {"/a/b", "/a", "b"}, {"c", "", "c"}, {"a/", "a", ""}};
    for (const auto& [path, directory, base] : splits) {
        const PathParts parts = split_path(path);
        EXPECT_EQ(std::pair(parts.directory, parts.base), std::pair(directory, base)) << path;
    }
    const std::tuple<std::string, std::string, std::string> joins[] = {
        {"", "n", "n"}, {"/d", "n", "/d/n"}, {"/d/", "n", "/d/n"}, {"/", "n", "/n"}};
    for (const auto& [directory, name, path] : joins) {
        EXPECT_EQ(joined_path(directory, name), path) << directory;
    }
}

} // namespace
