#include "command_line.h"

#include <cstdlib>
#include <cstring>

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

std::optional<CommandLine> read_command_line(int argc, const char* const* argv) {
    int name_index = 1;
    char start_byte = 'C';
    if (argc > 1 && std::strcmp(argv[1], "-t") == 0) {
        start_byte = 'T';
        name_index = 2;
    }
    if (argc <= name_index) {
        return std::nullopt;
    }
    if (argc > name_index + 1) {
        return CommandLine{start_byte, argv[name_index], argv[argc - 1], false};
    }
    const char* variable = std::getenv("LORVRC_PORT");
    if (variable != nullptr && *variable != '\0') {
        return CommandLine{start_byte, argv[name_index], variable, true};
    }
    return CommandLine{start_byte, argv[name_index], "1", false};
}

void usage() {
    write_to_user("Remote Control for Lorvan\n");
    write_to_user("usage:\n");
    write_to_user("lorvrc <program name>\n");
    std::exit(1);
}

int print_help() { return write_to_output(HELP) ? 0 : 1; }

int print_version() { return write_to_output("lorvrc " LORVRC_VERSION "\n") ? 0 : 1; }
