// The command line: [options] <program name> [... <port>].
#pragma once

#include <optional>
#include <string>

#include "board_lines.h"
#include "failure.h"

// What the command line asks for.
enum class Action { run, usage, help, version, list };

// Where the port text came from, which messages about the port name.
enum class PortSource { argument, environment, default_port };

struct CommandLine {
    Action action = Action::run;
    char start_byte = 'C';    // 'C', or 'T' with --trace
    std::string program_name; // the program the device is to run
    std::string port;         // the port as the user named it (see choose_port)
    PortSource port_source = PortSource::argument;
    BoardLines board;                // --dtr, --rts, --no-hangup, --boot-wait
    std::optional<int> wait_seconds; // --wait: for a port missing or held
    int timeout_seconds = 0;         // --timeout: for a silent device; 0: none
};

// Reads the arguments (argv[0] is not looked at). Options come first, in
// any order, up to the program name or "--"; --help, --version and --list
// end the reading (what follows is not looked at). After the program name
// the last argument is the port text, taken as it is, those between are
// ignored; with none, LORVRC_PORT when it is set and not empty, else "1".
// No program name: Action::usage. Fails, before anything is opened, on an
// argument in option position that starts with '-' and is no option, an
// option given a value it does not take, or a value it cannot use.
Result<CommandLine> read_command_line(int argc, const char* const* argv);

// Prints the three-line usage text on standard error.
void print_usage();

// --help: the full usage on standard output, the options listed from the
// same table the reading uses. --version: "lorvrc <version>". False, with
// errno set, when standard output cannot be written.
bool print_help();
bool print_version();
