// The command line: [-t] <program name> [... <port>], and the options
// that stand alone as the first argument.
#pragma once

#include <optional>
#include <string>

struct CommandLine {
    char start_byte;            // 'C', or 'T' with the option -t
    std::string program_name;   // the program the device is to run
    std::string port;           // the port as the user named it (see choose_port)
    bool port_from_environment; // the port came from LORVRC_PORT
};

// Reads the arguments (argv[0] is not looked at). Only an exact "-t" as
// the first argument is the option. With an argument after the program
// name, the last argument is the port text, taken as it is; otherwise
// LORVRC_PORT when it is set and not empty, else "1". Returns nothing when
// no program name is given.
std::optional<CommandLine> read_command_line(int argc, const char* const* argv);

// Prints the three-line usage text on standard error and exits with 1.
[[noreturn]] void usage();

// --help and -h: the full usage on standard output. --version: "lorvrc
// <version>" on standard output. Each returns the exit status: 0, or 1
// when standard output cannot be written.
int print_help();
int print_version();
