// The command line: [options] <program name> [... <port>].
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "board_lines.h"
#include "error_format.h"
#include "failure.h"
#include "file_serving.h"
#include "port_choice.h"

// What the command line asks for; complete_options is the hidden
// --complete-options, which the bash completion asks.
enum class Action { run, usage, help, version, list, complete_options };

struct CommandLine {
    Action action = Action::run;
    char start_byte = 'C';    // 'C', or 'T' with --trace
    std::string program_name; // the program the device is to run
    std::string port;         // the port as the user named it (see choose_port)
    PortSource port_source = PortSource::argument;
    // --error-format, else LORVRC_ERROR_FORMAT when set and not empty;
    // neither: nullopt, the plain report.
    std::optional<ErrorFormat> error_format;
    FileServing serving;             // -I directories, then LORVRC_PATH's; -v
    BoardLines board;                // --dtr, --rts, --no-hangup, --boot-wait
    std::optional<int> wait_seconds; // --wait: for a port missing or held
    int timeout_seconds = 0;         // --timeout: for a silent device; 0: none
    // Said before the run, which goes on: what the command line holds that
    // is surely not what the user meant.
    std::vector<std::string> warnings;
};

// Reads the arguments (argv[0] is not looked at) with getopt_long, from the
// one table of options, as GNU tools do: short options group (-tv), a short
// option's value is attached or the next argument (-IDIR, -I DIR), a long
// one's follows '=' or is the next argument, except --wait's, which is
// optional and only takes "=SECONDS"; a long name may be cut short while
// it names one option only (--verb). Options come first, in any order,
// up to the program name or "--"; --help, --version and --list end the
// reading (what follows is not looked at). After the program name the last
// argument is the port text, taken as it is, those between are ignored;
// with none, LORVRC_PORT when it is set and not empty, else "1".
// The error format comes from LORVRC_ERROR_FORMAT only when no
// --error-format was given, and only when a program is to run.
// The search directories are the -I ones in order, then those of
// LORVRC_PATH (separated by ':'); empty ones are left out.
// Numbers are digits only, leading zeros allowed.
// Warns (in `warnings`) once about options after the program name, and
// about a program name in digits right after a bare --wait.
// No program name: Action::usage. Fails, before anything is opened, on an
// unknown or ambiguous option, a missing value, an option given a value it
// does not take, a value it cannot use (an unknown error format, from the
// option or the variable) and an empty program name.
Result<CommandLine> read_command_line(int argc, const char* const* argv);

// Prints the three-line usage text on standard error.
void print_usage();

// --help: the usage, the port forms, the options listed from the same
// table the reading uses, and the environment variables.
std::string help_text();

// --version: "lorvrc <version>" and a newline.
std::string version_text();

// --complete-options: one line per option name, from the same table,
// for the bash completion: "<name> <kind>[ <value>...]", the kind one of
// flag, value (needs one), optional (only with '='), final (ends the
// reading), then the values it takes when there are few.
std::string completion_text();
