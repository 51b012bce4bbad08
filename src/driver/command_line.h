// The command line: [-t] <program name> [... <port>].
#pragma once

#include <optional>
#include <string>

struct CommandLine {
    char start_byte;          // 'C', or 'T' with the option -t
    std::string program_name; // the program the device is to run
    int port;                 // serial port number; 1 unless given
};

// Reads the arguments (argv[0] is not looked at). Only an exact "-t" as
// the first argument is the option. With an argument after the program
// name, the last argument is the port, converted as strtol does in base 10
// (a text without digits gives 0); values beyond int's range are clamped
// so they stay out of range. Returns nothing when no program name is given.
std::optional<CommandLine> read_command_line(int argc, const char* const* argv);

// Prints the three-line usage text on standard error and exits with 1.
[[noreturn]] void usage();
