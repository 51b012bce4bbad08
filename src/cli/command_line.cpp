#include "command_line.h"

#include <cstdlib>

#include "user_output.h"

#ifndef LORVRC_VERSION
#define LORVRC_VERSION "unknown"
#endif

namespace {

const char* const HELP =
    R"(Remote Control for Lorvan
usage: lorvrc [-t] <program name> [<port>]
       lorvrc --list | --help | --version

Starts <program name> on the device at the serial port and serves it (the
files it asks for, its trace text and error report) until it ends.

  -t            start the program with tracing (start byte T)
  <port>        the last argument, one of
                  a number 0 to 15   /dev/ttyS0 to /dev/ttyS15
                  a device path      /dev/ttyUSB0, /dev/serial/by-id/...
                  a name tty...      ttyUSB0 is /dev/ttyUSB0
                without it, the environment variable LORVRC_PORT, else 1
  --list        list the serial ports that have hardware behind them
  -h, --help    show this text
  --version     show the version
)";

} // namespace

CommandLine read_command_line(int argc, const char* const* argv) {
    CommandLine line;
    const std::string first = argc > 1 ? argv[1] : "";
    if (first == "--help" || first == "-h") {
        line.action = Action::help;
        return line;
    }
    if (first == "--version" || first == "--list") {
        line.action = first == "--list" ? Action::list : Action::version;
        return line;
    }
    int name_index = 1;
    if (first == "-t") {
        line.start_byte = 'T';
        name_index = 2;
    }
    if (argc <= name_index) {
        line.action = Action::usage;
        return line;
    }
    line.program_name = argv[name_index];
    const char* variable = std::getenv("LORVRC_PORT");
    if (argc > name_index + 1) {
        line.port = argv[argc - 1];
    } else if (variable != nullptr && *variable != '\0') {
        line.port = variable;
        line.port_from_environment = true;
    } else {
        line.port = "1";
    }
    return line;
}

void print_usage() {
    write_to_stderr("Remote Control for Lorvan\n");
    write_to_stderr("usage:\n");
    write_to_stderr("lorvrc <program name>\n");
}

bool print_help() { return write_to_stdout(HELP); }

bool print_version() { return write_to_stdout("lorvrc " LORVRC_VERSION "\n"); }
