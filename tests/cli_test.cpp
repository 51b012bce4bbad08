// The option reader as a table: arguments (and environment) in, the
// settings it reads, its warnings, or its message out.
#include <gmock/gmock.h>

#include <cstdlib>
#include <sstream>

#include "command_line.h"

using std::string_literals::operator""s;

namespace {

const std::string SEE = " (lorvrc --help lists the options)";
const char* const VARIABLES[] = {"LORVRC_PORT", "LORVRC_PATH", "LORVRC_ERROR_FORMAT"};

struct Row {
    std::vector<const char*> args; // after the tool's name
    std::string out;               // as `read` below writes it
    std::vector<std::pair<const char*, const char*>> environment = {};
};

void PrintTo(const Row& row, std::ostream* out) { *out << testing::PrintToString(row.args); }

std::string error(const std::string& message) { return "error: " + message; }

std::string number_refused(const char* option, const char* what) {
    return error(std::string(option) + " takes a number of seconds from 0 to 86400, not \"" + what +
                 "\"");
}

// The command line read, in one line: the action; for a run the start
// byte, the program, "@port" with where it came from, then what differs
// from the defaults as options would set it, then " | " and each warning.
std::string read(const Row& row) {
    for (const char* name : VARIABLES) {
        unsetenv(name);
    }
    for (const auto& [name, value] : row.environment) {
        setenv(name, value, 1);
    }
    std::vector<const char*> argv = {"lorvrc"};
    argv.insert(argv.end(), row.args.begin(), row.args.end());
    const Result<CommandLine> read = read_command_line(static_cast<int>(argv.size()), argv.data());
    if (!read) {
        return error(read.failure().message);
    }
    const CommandLine& line = *read;
    const char* const ACTIONS[] = {"", "usage", "help", "version", "list", "complete"};
    const char* const SOURCES[] = {"", " (env)", " (default)"};
    const char* const FORMATS[] = {"plain", "gnu", "github"};
    std::ostringstream out;
    out << ACTIONS[static_cast<int>(line.action)];
    if (line.action == Action::run) {
        out << line.start_byte << " " << line.program_name << " @" << line.port
            << SOURCES[static_cast<int>(line.port_source)];
    }
    for (const std::string& directory : line.serving.search_dirs) {
        out << " -I" << directory;
    }
    out << (line.serving.verbose ? " -v" : "");
    for (const auto& [name, set] : {std::pair{"dtr", line.board.dtr}, {"rts", line.board.rts}}) {
        out << (set ? " --"s + name + (*set ? "=on" : "=off") : "");
    }
    out << (line.board.keep_at_close ? " --no-hangup" : "");
    out << (line.board.boot_wait_ms ? " --boot-wait=" + std::to_string(line.board.boot_wait_ms)
                                    : "");
    out << (line.wait_seconds ? " --wait=" + std::to_string(*line.wait_seconds) : "");
    out << (line.timeout_seconds ? " --timeout=" + std::to_string(line.timeout_seconds) : "");
    if (line.error_format) {
        out << " --error-format=" << FORMATS[static_cast<int>(*line.error_format)];
    }
    for (const std::string& warning : line.warnings) {
        out << " | " << warning;
    }
    return out.str();
}

const std::string LATE = " after the program name is ignored; options come first";

const Row ROWS[] = {
    {{"prog"}, "C prog @1 (default)"},
    {{"-t", "prog", "0"}, "T prog @0"},
    {{"--trace", "-t", "prog"}, "T prog @1 (default)"},
    {{"-vt", "--verb", "prog"}, "T prog @1 (default) -v"},
    {{"-I", "a", "-Ib", "-I", "", "-tIc", "prog"}, "T prog @1 (default) -Ia -Ib -Ic"},
    {{"-Ia", "prog"}, "C prog @1 (default) -Ia -Ic -Id", {{"LORVRC_PATH", ":c::d"}}},
    {{"--", "-t", "1"}, "C -t @1"},
    {{"--", "-"}, "C - @1 (default)"},
    {{"prog", "x", "-1", "3"}, "C prog @3"},
    {{"prog"}, "C prog @3 (env)", {{"LORVRC_PORT", "3"}}},
    {{"prog"}, "C prog @1 (default)", {{"LORVRC_PORT", ""}}},
    {{"prog", "3"}, "C prog @3", {{"LORVRC_PORT", "abc"}}},
    {{}, "usage"},
    {{"-t"}, "usage"},
    {{"--help", "--bogus"}, "help"},
    {{"-th"}, "help"},
    {{"--version", "prog"}, "version"},
    {{"--list", "x"}, "list"},
    {{"--complete-options"}, "complete"},
    {{"--dtr=on", "--rts", "off", "--no-hangup", "--boot-wait=60000", "p"},
     "C p @1 (default) --dtr=on --rts=off --no-hangup --boot-wait=60000"},
    {{"--wait", "prog"}, "C prog @1 (default) --wait=30"},
    {{"--wait=0005", "--timeout=0000000086400", "p"}, "C p @1 (default) --wait=5 --timeout=86400"},
    {{"--error-format=gnu", "p"},
     "C p @1 (default) --error-format=gnu",
     {{"LORVRC_ERROR_FORMAT", "xml"}}},
    {{"p"}, "C p @1 (default) --error-format=github", {{"LORVRC_ERROR_FORMAT", "github"}}},
    {{"--help"}, "help", {{"LORVRC_ERROR_FORMAT", "xml"}}},
    {{"--wait", "5", "hello", "P"},
     "C 5 @P --wait=30 | \"5\" is taken as the program name; for a time, write --wait=5"},
    {{"--wait", "--", "5"}, "C 5 @1 (default) --wait=30"},
    {{"hello", "--timeout=5", "-v", "P"}, "C hello @P | --timeout=5" + LATE},
    {{"hello", "x", "-t", "P"}, "C hello @P | -t" + LATE},
    {{"-b", "115200", "prog"}, error("unknown option \"-b\"" + SEE)},
    {{"-tx", "prog"}, error("unknown option \"-x\"" + SEE)},
    {{"--version=1"}, error("unknown option \"--version=1\"" + SEE)},
    {{"--bogus=1", "prog"}, error("unknown option \"--bogus=1\"" + SEE)},
    {{"--=1", "prog"}, error("unknown option \"--=1\"" + SEE)},
    {{"-", "prog"}, error("unknown option \"-\"" + SEE)},
    {{"--ver"}, error("option \"--ver\" is ambiguous: --verbose or --version")},
    {{"--boot-wait"}, error("--boot-wait needs a value" + SEE)},
    {{"-tI"}, error("-I needs a value" + SEE)},
    {{"--boot-wait", "abc", "prog"},
     error("--boot-wait takes a number of milliseconds from 0 to 60000, not \"abc\"")},
    {{"--boot-wait=60001", "prog"},
     error("--boot-wait takes a number of milliseconds from 0 to 60000, not \"60001\"")},
    {{"--dtr=maybe", "prog"}, error("--dtr takes on or off, not \"maybe\"")},
    {{"--wait=", "prog"}, number_refused("--wait", "")},
    {{"--timeout=", "prog"}, number_refused("--timeout", "")},
    {{"--timeout=+5", "prog"}, number_refused("--timeout", "+5")},
    {{"--timeout=5s", "prog"}, number_refused("--timeout", "5s")},
    {{"--timeout=86401", "prog"}, number_refused("--timeout", "86401")},
    {{"--wait=1000000000", "prog"}, number_refused("--wait", "1000000000")},
    {{"--error-format=xml", "p"}, error("unknown error format \"xml\"; give plain, gnu or github")},
    {{"p"},
     error("unknown error format \"xml\" (from LORVRC_ERROR_FORMAT); give plain, gnu or github"),
     {{"LORVRC_ERROR_FORMAT", "xml"}}},
    {{"--", ""}, error("the program name is empty")},
};

class CommandLineRows : public testing::TestWithParam<Row> {};

TEST_P(CommandLineRows, Read) { EXPECT_EQ(read(GetParam()), GetParam().out); }

INSTANTIATE_TEST_SUITE_P(Rows, CommandLineRows, testing::ValuesIn(ROWS));

// The help lists the table's options, not the hidden one, each by its
// names alone, and then the environment.
TEST(Help, ListsTheOptionsAndTheEnvironment) {
    EXPECT_THAT(help_text(),
                testing::MatchesRegex(
                    "Remote Control for Lorvan\nusage: lorvrc \\[<options>\\] <program "
                    "name> \\[<port>\\]\n.*a number 0 to 15 .*ttyUSB0 is /dev/ttyUSB0.*"));
    std::istringstream help(help_text());
    std::string listed; // the first column of each line that names an option or a variable
    for (std::string line; std::getline(help, line);) {
        listed += line.starts_with("  -") || line.starts_with("  LORVRC_")
                      ? line.substr(2, line.find("  ", 2) - 2) + "|"
                      : "";
    }
    EXPECT_EQ(listed, "-t, --trace|--error-format=FORMAT|-I DIR|-v, --verbose|--dtr=on|off|"
                      "--rts=on|off|--no-hangup|--boot-wait=MS|--wait[=SECONDS]|--timeout=SECONDS|"
                      "--list|-h, --help|--version|LORVRC_PORT|LORVRC_PATH|LORVRC_ERROR_FORMAT|");
    EXPECT_THAT(version_text(), testing::MatchesRegex("lorvrc [0-9]+\\.[0-9]+\\.[0-9]+\n"));
}

} // namespace
