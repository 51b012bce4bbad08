// The command line: [-t] <program name> [... <port>], and the options
// that stand alone as the first argument.
#pragma once

#include <string>

// What the command line asks for.
enum class Action { run, usage, help, version, list };

struct CommandLine {
    Action action = Action::run;
    char start_byte = 'C';              // 'C', or 'T' with the option -t
    std::string program_name;           // the program the device is to run
    std::string port;                   // the port as the user named it (see choose_port)
    bool port_from_environment = false; // the port came from LORVRC_PORT
};

// Reads the arguments (argv[0] is not looked at). --help or -h, --version
// and --list are options only as the exact first argument, and so is -t
// before the program name. With an argument after the program name, the
// last argument is the port text, taken as it is; otherwise LORVRC_PORT
// when it is set and not empty, else "1". No program name: Action::usage.
CommandLine read_command_line(int argc, const char* const* argv);

// Prints the three-line usage text on standard error.
void print_usage();

// --help: the full usage on standard output. --version: "lorvrc <version>"
// on standard output. False, with errno set, when standard output cannot
// be written.
bool print_help();
bool print_version();
