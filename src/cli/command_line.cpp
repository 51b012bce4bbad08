#include "command_line.h"

#include <algorithm>
#include <cstdlib>
#include <getopt.h>
#include <optional>
#include <string_view>

#include "user_output.h"

#ifndef LORVRC_VERSION
#define LORVRC_VERSION "unknown"
#endif

using std::string_view_literals::operator""sv;

namespace {

const char* const HELP_HEAD =
    R"(Remote Control for Lorvan
usage: lorvrc [<options>] <program name> [<port>]
       lorvrc --list | --help | --version

Starts <program name> on the device at the serial port and serves it (the
files it asks for, its trace text and error report) until it ends.

<port> is the last argument, one of
  a number 0 to 15      /dev/ttyS0 to /dev/ttyS15
  a device path         /dev/ttyUSB0, /dev/serial/by-id/...
  a name tty...         ttyUSB0 is /dev/ttyUSB0
  rfc2217://HOST:PORT   a port served over TCP with RFC 2217 (ser2net)
  tcp://HOST:PORT       a port served over TCP as raw bytes
without it, the environment variable LORVRC_PORT, else 1.

Options come before the program name; -- ends them (for a name that
starts with -).

)";

const char* const HELP_ENVIRONMENT = R"(
Environment:
  LORVRC_PORT          the port, when the command line names none
  LORVRC_PATH          directories, separated by ':', to look in after -I's
  LORVRC_ERROR_FORMAT  the error format, when --error-format is not given
)";

enum class Takes { nothing, value, optional_value };

// What an option does with its value (nullptr when it has none).
using Apply = Result<void> (*)(CommandLine& line, const char* value);

// One option: its names, whether it takes a value, the help line (none:
// hidden), and what it does: `apply` sets something for the run, or
// `action` (not Action::run) ends the reading and is what the call is for.
struct Option {
    char short_name;       // 't', or 0
    const char* long_name; // "trace", or nullptr
    Takes takes;
    const char* value_name; // shown in the help: "--wait[=SECONDS]"
    const char* help;
    Apply apply;
    Action action = Action::run;
    const char* choices = ""; // the values it takes, when there are few
};

// `source` says where a name from elsewhere than the option came from.
Result<void> set_error_format(CommandLine& line, const std::string& name,
                              const std::string& source = "") {
    line.error_format = error_format_named(name);
    if (!line.error_format) {
        return Failure{"unknown error format \"" + name + "\"" + source +
                       "; give plain, gnu or github"};
    }
    return {};
}

Result<void> read_switch(const std::string& value, const char* option, std::optional<bool>& into) {
    if (value != "on" && value != "off") {
        return Failure{std::string(option) + " takes on or off, not \"" + value + "\""};
    }
    into = value == "on";
    return {};
}

// A whole number from 0 to `most`, in digits only: no sign, no blanks, no
// unit, so a typo is never read as something else. Leading zeros are
// no typo; past them, more than 9 digits are surely over `most`.
template <typename Number>
Result<void> read_number(const std::string& value, const char* option, const char* unit, int most,
                         Number& into) {
    const std::string digits = value.substr(std::min(value.find_first_not_of('0'), value.size()));
    const bool number = !value.empty() && digits.size() <= 9 &&
                        digits.find_first_not_of("0123456789") == std::string::npos;
    if (!number || std::atoi(digits.c_str()) > most) {
        return Failure{std::string(option) + " takes a number of " + unit + " from 0 to " +
                       std::to_string(most) + ", not \"" + value + "\""};
    }
    into = std::atoi(digits.c_str());
    return {};
}

// A day: longer waits are surely a typo.
constexpr int MOST_SECONDS = 86400;
constexpr int MOST_BOOT_WAIT_MS = 60000;
constexpr int DEFAULT_WAIT_SECONDS = 30;

const Option OPTIONS[] = {
    {'t', "trace", Takes::nothing, "", "start the program with tracing (start byte T)",
     [](CommandLine& line, const char*) -> Result<void> {
         line.start_byte = 'T';
         return {};
     }},
    {0, "error-format", Takes::value, "FORMAT",
     "error report as plain (the default), gnu or github",
     [](CommandLine& line, const char* value) { return set_error_format(line, value); },
     Action::run, "plain gnu github"},
    {'I', nullptr, Takes::value, "DIR", "look in DIR too for the files asked for (repeatable)",
     [](CommandLine& line, const char* directory) -> Result<void> {
         if (*directory != '\0') {
             line.serving.search_dirs.emplace_back(directory);
         }
         return {};
     }},
    {'v', "verbose", Takes::nothing, "", "tell for each file request what was sent, or why not",
     [](CommandLine& line, const char*) -> Result<void> {
         line.serving.verbose = true;
         return {};
     }},
    {0, "dtr", Takes::value, "on|off", "set DTR right after the open, for the whole run",
     [](CommandLine& line, const char* value) {
         return read_switch(value, "--dtr", line.board.dtr);
     },
     Action::run, "on off"},
    {0, "rts", Takes::value, "on|off", "set RTS right after the open, for the whole run",
     [](CommandLine& line, const char* value) {
         return read_switch(value, "--rts", line.board.rts);
     },
     Action::run, "on off"},
    {0, "no-hangup", Takes::nothing, "", "leave DTR and RTS up at the close (clear HUPCL)",
     [](CommandLine& line, const char*) -> Result<void> {
         line.board.keep_at_close = true;
         return {};
     }},
    {0, "boot-wait", Takes::value, "MS", "after the open, wait MS ms (0-60000), drop what came",
     [](CommandLine& line, const char* value) {
         return read_number(value, "--boot-wait", "milliseconds", MOST_BOOT_WAIT_MS,
                            line.board.boot_wait_ms);
     }},
    {0, "wait", Takes::optional_value, "SECONDS",
     "wait up to SECONDS (30) for the port to appear, be free",
     [](CommandLine& line, const char* value) -> Result<void> {
         if (value == nullptr) {
             line.wait_seconds = DEFAULT_WAIT_SECONDS;
             return {};
         }
         return read_number(value, "--wait", "seconds", MOST_SECONDS, line.wait_seconds);
     }},
    {0, "timeout", Takes::value, "SECONDS", "end the run when nothing moves either way for SECONDS",
     [](CommandLine& line, const char* value) {
         return read_number(value, "--timeout", "seconds", MOST_SECONDS, line.timeout_seconds);
     }},
    {0, "list", Takes::nothing, "", "list the serial ports that have hardware behind them", nullptr,
     Action::list},
    {'h', "help", Takes::nothing, "", "show this text", nullptr, Action::help},
    {0, "version", Takes::nothing, "", "show the version", nullptr, Action::version},
    {0, "complete-options", Takes::nothing, "", nullptr, nullptr, Action::complete_options},
};

// getopt_long returns a short name as itself, a long-only option as this
// plus its row: past every char.
constexpr int LONG_ONLY = 256;

int code_of(std::size_t row) {
    const Option& option = OPTIONS[row];
    return option.short_name != 0 ? option.short_name : LONG_ONLY + static_cast<int>(row);
}

const Option* option_of(int code) {
    for (std::size_t row = 0; row < std::size(OPTIONS); ++row) {
        if (code_of(row) == code) {
            return &OPTIONS[row];
        }
    }
    return nullptr;
}

// The table as getopt_long takes it. The short options start with '+',
// so that the reading stops at the program name, and ':', so that a
// missing value is told from an unknown option.
struct GetoptTables {
    std::string short_options = "+:";
    std::vector<option> long_options;
};

GetoptTables getopt_tables() {
    GetoptTables tables;
    for (std::size_t row = 0; row < std::size(OPTIONS); ++row) {
        const Option& entry = OPTIONS[row];
        if (entry.short_name != 0) {
            tables.short_options += entry.short_name;
            tables.short_options += entry.takes == Takes::value ? ":" : "";
        }
        if (entry.long_name != nullptr) {
            const int has_arg = entry.takes == Takes::nothing ? no_argument
                                : entry.takes == Takes::value ? required_argument
                                                              : optional_argument;
            tables.long_options.push_back({entry.long_name, has_arg, nullptr, code_of(row)});
        }
    }
    tables.long_options.push_back({});
    return tables;
}

const char* const SEE_HELP = " (lorvrc --help lists the options)";

Failure unknown_option(const std::string& argument) {
    return {"unknown option \"" + argument + "\"" + SEE_HELP};
}

// A long option that getopt_long did not take: cut too short to name one
// option, or no option at all.
Failure unknown_long_option(const std::string& argument) {
    const std::string name = argument.substr(2, argument.find('=') - 2);
    std::string candidates;
    for (const Option& option : OPTIONS) {
        if (option.long_name != nullptr && option.help != nullptr &&
            std::string_view(option.long_name).starts_with(name)) {
            candidates += (candidates.empty() ? "--" : " or --") + std::string(option.long_name);
        }
    }
    if (name.empty() || candidates.find(" or ") == std::string::npos) {
        return unknown_option(argument);
    }
    return {"option \"" + argument + "\" is ambiguous: " + candidates};
}

// What getopt_long's refusal `code` ('?' or ':') means. optopt names the
// option (0: no long option known); a long form, and a missing value,
// were stepped over, so the argument as typed is the one before optind.
Failure refusal(int code, const char* const* argv) {
    const bool long_form = code == ':' ? std::string_view(argv[optind - 1]).starts_with("--")
                                       : optopt == 0 || option_of(optopt) != nullptr;
    const std::string shown = long_form ? argv[optind - 1] : std::string{'-', char(optopt)};
    if (code == ':') {
        return {shown + " needs a value" + SEE_HELP};
    }
    // A known option refused in its long form was given a value it does
    // not take.
    return optopt == 0 ? unknown_long_option(shown) : unknown_option(shown);
}

// A program name in digits right after a --wait without '=' was most
// likely meant as its time.
void warn_of_bare_wait(int bare_wait_end, int name_index, CommandLine& line) {
    const std::string& name = line.program_name;
    if (bare_wait_end == name_index && !name.empty() &&
        name.find_first_not_of("0123456789") == std::string::npos) {
        line.warnings.push_back("\"" + name +
                                "\" is taken as the program name; for a time, write "
                                "--wait=" +
                                name);
    }
}

// Reads the options and leaves optind on the program name. Returns the
// index after the last option when that was a --wait without a value,
// else -1.
Result<int> read_options(int argc, const char* const* argv, CommandLine& line) {
    const GetoptTables tables = getopt_tables();
    // With '+' getopt_long only reads argv, never reorders it.
    char* const* args = const_cast<char* const*>(argv); // NOLINT: see above
    optind = 0; // 0 starts glibc's reading afresh, for a second reading too
    opterr = 0;
    int bare_wait_end = -1;
    while (line.action == Action::run) {
        const int before = std::max(optind, 1);
        const int code = getopt_long(argc, args, tables.short_options.c_str(),
                                     tables.long_options.data(), nullptr);
        // A lone "-" is a program name to getopt; to us, as before, a typo
        // (but not after "--", which getopt_long steps over).
        if (code == -1 && optind == before && optind < argc && argv[optind] == "-"sv) {
            return unknown_option("-");
        }
        if (code == -1) {
            break;
        }
        const Option* option = option_of(code);
        if (option == nullptr) {
            return refusal(code, argv);
        }
        line.action = option->action;
        if (option->apply != nullptr) {
            if (Result<void> applied = option->apply(line, optarg); !applied) {
                return applied.failure();
            }
        }
        bare_wait_end = option->takes == Takes::optional_value && optarg == nullptr ? optind : -1;
    }
    return bare_wait_end;
}

// Arguments between the program name and the port are ignored, options
// too (callers may rely on the positions), but an option there was surely
// meant for us: said once, for the first one.
void warn_of_late_options(int argc, const char* const* argv, int name_index, CommandLine& line) {
    for (int index = name_index + 1; index < argc - 1; ++index) {
        const std::string_view argument = argv[index];
        if (argument.size() > 1 && argument[0] == '-' && (argument[1] < '0' || argument[1] > '9')) {
            line.warnings.push_back(std::string(argument) +
                                    " after the program name is ignored; options come first");
            return;
        }
    }
}

void read_port(int argc, const char* const* argv, int name_index, CommandLine& line) {
    const char* variable = std::getenv("LORVRC_PORT");
    if (argc > name_index + 1) {
        line.port = argv[argc - 1];
    } else if (variable != nullptr && *variable != '\0') {
        line.port = variable;
        line.port_source = PortSource::environment;
    } else {
        line.port = "1";
        line.port_source = PortSource::default_port;
    }
}

// LORVRC_PATH's directories, after those of -I.
void read_search_path(CommandLine& line) {
    const char* variable = std::getenv("LORVRC_PATH");
    std::string directories = variable != nullptr ? variable : "";
    for (std::size_t start = 0; start <= directories.size();) {
        const std::size_t colon = std::min(directories.find(':', start), directories.size());
        if (colon > start) {
            line.serving.search_dirs.push_back(directories.substr(start, colon - start));
        }
        start = colon + 1;
    }
}

// What the environment adds once a program is to run.
Result<void> read_environment(CommandLine& line) {
    read_search_path(line);
    const char* variable = std::getenv("LORVRC_ERROR_FORMAT");
    if (!line.error_format && variable != nullptr && *variable != '\0') {
        return set_error_format(line, variable, " (from LORVRC_ERROR_FORMAT)");
    }
    return {};
}

std::string option_names(const Option& option) {
    std::string names = option.short_name != 0 ? std::string{'-', option.short_name} : "";
    if (option.long_name != nullptr) {
        names += (names.empty() ? "--" : ", --") + std::string(option.long_name);
    }
    const std::string value = option.value_name;
    if (option.takes == Takes::optional_value) {
        return names + "[=" + value + "]";
    }
    if (option.takes == Takes::value) {
        names += option.long_name != nullptr ? '=' : ' '; // "-I DIR", "--wait=SECONDS"
        return names + value;
    }
    return names;
}

} // namespace

Result<CommandLine> read_command_line(int argc, const char* const* argv) {
    CommandLine line;
    const Result<int> bare_wait_end = read_options(argc, argv, line);
    if (!bare_wait_end) {
        return bare_wait_end.failure();
    }
    const int name_index = optind;
    if (line.action != Action::run || name_index >= argc) {
        line.action = line.action == Action::run ? Action::usage : line.action;
        return line;
    }
    line.program_name = argv[name_index];
    if (line.program_name.empty()) {
        return Failure{"the program name is empty"};
    }
    warn_of_bare_wait(*bare_wait_end, name_index, line);
    warn_of_late_options(argc, argv, name_index, line);
    read_port(argc, argv, name_index, line);
    if (Result<void> read = read_environment(line); !read) {
        return read.failure();
    }
    return line;
}

void print_usage() {
    write_to_stderr("Remote Control for Lorvan\n");
    write_to_stderr("usage:\n");
    write_to_stderr("lorvrc <program name>\n");
}

std::string help_text() {
    std::size_t width = 0;
    for (const Option& option : OPTIONS) {
        width = std::max(width, option_names(option).size());
    }
    std::string text = HELP_HEAD;
    for (const Option& option : OPTIONS) {
        if (option.help != nullptr) {
            const std::string names = option_names(option);
            text += "  " + names + std::string(width + 2 - names.size(), ' ') + option.help + "\n";
        }
    }
    return text + HELP_ENVIRONMENT;
}

std::string version_text() { return "lorvrc " LORVRC_VERSION "\n"; }

std::string completion_text() {
    std::string text;
    for (const Option& option : OPTIONS) {
        const char* kind = option.action != Action::run            ? "final"
                           : option.takes == Takes::nothing        ? "flag"
                           : option.takes == Takes::optional_value ? "optional"
                                                                   : "value";
        if (option.help == nullptr) {
            continue;
        }
        const std::string rest =
            std::string(" ") + kind + (*option.choices ? " " : "") + option.choices + "\n";
        if (option.short_name != 0) {
            text += std::string{'-', option.short_name} + rest;
        }
        if (option.long_name != nullptr) {
            text += "--" + std::string(option.long_name) + rest;
        }
    }
    return text;
}
