// The command line: [options] <program name> [... <port>].
#pragma once

#include <optional>
#include <string>

#include "board_lines.h"
#include "error_format.h"
#include "failure.h"
#include "file_serving.h"
#include "port_choice.h"

// What the command line asks for.
enum class Action { run, usage, help, version, list };

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
};

// Reads the arguments (argv[0] is not looked at). Options come first, in
// any order, up to the program name or "--"; --help, --version and --list
// end the reading (what follows is not looked at). After the program name
// the last argument is the port text, taken as it is, those between are
// ignored; with none, LORVRC_PORT when it is set and not empty, else "1".
// The error format comes from LORVRC_ERROR_FORMAT only when no
// --error-format was given, and only when a program is to run.
// The search directories are the -I ones in order, then those of
// LORVRC_PATH (separated by ':'); empty ones are left out.
// No program name: Action::usage. Fails, before anything is opened, on an
// argument in option position that starts with '-' and is no option, an
// option given a value it does not take, or a value it cannot use (an
// unknown error format, from the option or the variable).
Result<CommandLine> read_command_line(int argc, const char* const* argv);

// Prints the three-line usage text on standard error.
void print_usage();

// --help: the full usage on standard output, the options listed from the
// same table the reading uses. --version: "lorvrc <version>". False, with
// errno set, when standard output cannot be written.
bool print_help();
bool print_version();
