#include "command_line.h"

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "user_output.h"

#ifndef LORVRC_VERSION
#define LORVRC_VERSION "unknown"
#endif

namespace {

const char* const HELP_HEAD =
    R"(Remote Control for Lorvan
usage: lorvrc [<options>] <program name> [<port>]
       lorvrc --list | --help | --version

Starts <program name> on the device at the serial port and serves it (the
files it asks for, its trace text and error report) until it ends.

<port> is the last argument, one of
  a number 0 to 15   /dev/ttyS0 to /dev/ttyS15
  a device path      /dev/ttyUSB0, /dev/serial/by-id/...
  a name tty...      ttyUSB0 is /dev/ttyUSB0
without it, the environment variable LORVRC_PORT, else 1.

Options come before the program name; -- ends them (for a name that
starts with -).

)";

enum class Takes { nothing, value, optional_value };

using Apply = std::optional<Failure> (*)(CommandLine& line, const std::string& value);

// One option: its names, whether it takes a value (--name=VALUE or
// --name VALUE; a short name -xVALUE or -x VALUE; an optional value only
// with '='), the help line, and what it sets.
struct Option {
    const char* short_name; // "-t", or nullptr
    const char* long_name;  // "--trace", or nullptr
    Takes takes;
    const char* value_name; // shown in the help: "--wait[=SECONDS]"
    const char* help;
    Apply apply;
};

std::optional<Failure> set_action(CommandLine& line, Action action) {
    line.action = action;
    return std::nullopt;
}

// `source` says where a name from elsewhere than the option came from.
std::optional<Failure> set_error_format(CommandLine& line, const std::string& name,
                                        const std::string& source = "") {
    line.error_format = error_format_named(name);
    if (!line.error_format) {
        return Failure{"unknown error format \"" + name + "\"" + source +
                       "; give plain, gnu or github"};
    }
    return std::nullopt;
}

std::optional<Failure> read_switch(const std::string& value, const char* option,
                                   std::optional<bool>& into) {
    if (value != "on" && value != "off") {
        return Failure{std::string(option) + " takes on or off, not \"" + value + "\""};
    }
    into = value == "on";
    return std::nullopt;
}

// A whole number from 0 to `most`, in digits only: no sign, no blanks, no
// unit, so a typo is never read as something else.
template <typename Number>
std::optional<Failure> read_number(const std::string& value, const char* option, const char* unit,
                                   int most, Number& into) {
    const bool digits = !value.empty() && value.size() <= 9 &&
                        value.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoi(value) > most) {
        return Failure{std::string(option) + " takes a number of " + unit + " from 0 to " +
                       std::to_string(most) + ", not \"" + value + "\""};
    }
    into = std::stoi(value);
    return std::nullopt;
}

// A day: longer waits are surely a typo.
constexpr int MOST_SECONDS = 86400;
constexpr int MOST_BOOT_WAIT_MS = 60000;
constexpr int DEFAULT_WAIT_SECONDS = 30;

const Option OPTIONS[] = {
    {"-t", "--trace", Takes::nothing, "", "start the program with tracing (start byte T)",
     [](CommandLine& line, const std::string&) -> std::optional<Failure> {
         line.start_byte = 'T';
         return std::nullopt;
     }},
    {nullptr, "--error-format", Takes::value, "FORMAT",
     "error report as plain (the default), gnu or github",
     [](CommandLine& line, const std::string& value) { return set_error_format(line, value); }},
    {"-I", nullptr, Takes::value, "DIR", "look in DIR too for the files asked for (repeatable)",
     [](CommandLine& line, const std::string& directory) -> std::optional<Failure> {
         if (!directory.empty()) {
             line.serving.search_dirs.push_back(directory);
         }
         return std::nullopt;
     }},
    {"-v", "--verbose", Takes::nothing, "", "tell for each file request what was sent, or why not",
     [](CommandLine& line, const std::string&) -> std::optional<Failure> {
         line.serving.verbose = true;
         return std::nullopt;
     }},
    {nullptr, "--dtr", Takes::value, "on|off", "set DTR right after the open, for the whole run",
     [](CommandLine& line, const std::string& value) {
         return read_switch(value, "--dtr", line.board.dtr);
     }},
    {nullptr, "--rts", Takes::value, "on|off", "set RTS right after the open, for the whole run",
     [](CommandLine& line, const std::string& value) {
         return read_switch(value, "--rts", line.board.rts);
     }},
    {nullptr, "--no-hangup", Takes::nothing, "", "leave DTR and RTS up at the close (clear HUPCL)",
     [](CommandLine& line, const std::string&) -> std::optional<Failure> {
         line.board.keep_at_close = true;
         return std::nullopt;
     }},
    {nullptr, "--boot-wait", Takes::value, "MS",
     "after the open, wait MS ms (0-60000), drop what came",
     [](CommandLine& line, const std::string& value) {
         return read_number(value, "--boot-wait", "milliseconds", MOST_BOOT_WAIT_MS,
                            line.board.boot_wait_ms);
     }},
    {nullptr, "--wait", Takes::optional_value, "SECONDS",
     "wait up to SECONDS (30) for the port to appear, be free",
     [](CommandLine& line, const std::string& value) -> std::optional<Failure> {
         if (value.empty()) {
             line.wait_seconds = DEFAULT_WAIT_SECONDS;
             return std::nullopt;
         }
         return read_number(value, "--wait", "seconds", MOST_SECONDS, line.wait_seconds);
     }},
    {nullptr, "--timeout", Takes::value, "SECONDS",
     "end the run when the device sends nothing for SECONDS",
     [](CommandLine& line, const std::string& value) {
         return read_number(value, "--timeout", "seconds", MOST_SECONDS, line.timeout_seconds);
     }},
    {nullptr, "--list", Takes::nothing, "", "list the serial ports that have hardware behind them",
     [](CommandLine& line, const std::string&) { return set_action(line, Action::list); }},
    {"-h", "--help", Takes::nothing, "", "show this text",
     [](CommandLine& line, const std::string&) { return set_action(line, Action::help); }},
    {nullptr, "--version", Takes::nothing, "", "show the version",
     [](CommandLine& line, const std::string&) { return set_action(line, Action::version); }},
};

Failure unknown_option(const std::string& argument) {
    return {"unknown option \"" + argument + "\" (lorvrc --help lists the options)"};
}

// The option an argument names, and its value when it has one there.
struct Match {
    const Option* option = nullptr;
    std::optional<std::string> value;
};

Match match(const std::string& argument) {
    const bool long_form = argument.starts_with("--");
    const std::size_t equals = long_form ? argument.find('=') : std::string::npos;
    const std::string name = argument.substr(0, equals);
    for (const Option& option : OPTIONS) {
        if (long_form && option.long_name != nullptr && name == option.long_name) {
            return {&option, equals == std::string::npos
                                 ? std::nullopt
                                 : std::optional(argument.substr(equals + 1))};
        }
        if (!long_form && option.short_name != nullptr && argument.starts_with(option.short_name)) {
            const std::string rest = argument.substr(2);
            if (rest.empty()) {
                return {&option, std::nullopt};
            }
            if (option.takes == Takes::value) {
                return {&option, rest};
            }
        }
    }
    return {};
}

// Reads the option at argv[index] (and its value in the next argument when
// it takes one there); index is left on the last argument used.
std::optional<Failure> read_option(int argc, const char* const* argv, int& index,
                                   CommandLine& line) {
    const std::string argument = argv[index];
    Match found = match(argument);
    if (found.option == nullptr || (found.option->takes == Takes::nothing && found.value)) {
        return unknown_option(argument);
    }
    if (found.option->takes == Takes::value && !found.value) {
        if (index + 1 >= argc) {
            return Failure{argument + " needs a value (lorvrc --help lists the options)"};
        }
        found.value = argv[++index];
    }
    return found.option->apply(line, found.value.value_or(""));
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

std::string option_names(const Option& option) {
    std::string names = option.short_name != nullptr ? option.short_name : "";
    if (option.long_name != nullptr) {
        names += (names.empty() ? "" : ", ") + std::string(option.long_name);
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
    int index = 1;
    for (; index < argc && line.action == Action::run; ++index) {
        const std::string argument = argv[index];
        if (argument == "--" || !argument.starts_with("-")) {
            index += argument == "--" ? 1 : 0;
            break;
        }
        if (std::optional<Failure> failure = read_option(argc, argv, index, line)) {
            return *failure;
        }
    }
    if (line.action != Action::run) {
        return line;
    }
    if (index >= argc) {
        line.action = Action::usage;
        return line;
    }
    line.program_name = argv[index];
    read_port(argc, argv, index, line);
    const char* variable = std::getenv("LORVRC_ERROR_FORMAT");
    if (!line.error_format && variable != nullptr && *variable != '\0') {
        if (std::optional<Failure> failure =
                set_error_format(line, variable, " (from LORVRC_ERROR_FORMAT)")) {
            return *failure;
        }
    }
    read_search_path(line);
    return line;
}

void print_usage() {
    write_to_stderr("Remote Control for Lorvan\n");
    write_to_stderr("usage:\n");
    write_to_stderr("lorvrc <program name>\n");
}

bool print_help() {
    std::size_t width = 0;
    for (const Option& option : OPTIONS) {
        width = std::max(width, option_names(option).size());
    }
    std::string text = HELP_HEAD;
    for (const Option& option : OPTIONS) {
        const std::string names = option_names(option);
        text += "  " + names + std::string(width + 2 - names.size(), ' ') + option.help + "\n";
    }
    return write_to_stdout(text);
}

bool print_version() { return write_to_stdout("lorvrc " LORVRC_VERSION "\n"); }
