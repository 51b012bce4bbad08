#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <unistd.h>

#include "command_line.h"
#include "port_list.h"
#include "session.h"

namespace {

// open() takes the lowest free descriptor: started with standard error
// closed, the port would become descriptor 2 and our messages would go
// down the line into the device. Fill any closed standard descriptor first.
void fill_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) == -1) {
            return;
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    fill_standard_descriptors();
    // Text for the user that cannot be written is lost, but the session
    // goes on: a reader of standard error that went away (`| head`) must
    // not kill us in the middle of serving the device.
    std::signal(SIGPIPE, SIG_IGN);
    // The options stand alone as the exact first argument; a program name
    // never starts with '-'.
    if (argc > 1 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
        return print_help();
    }
    if (argc > 1 && std::strcmp(argv[1], "--version") == 0) {
        return print_version();
    }
    if (argc > 1 && std::strcmp(argv[1], "--list") == 0) {
        return list_ports();
    }
    const std::optional<CommandLine> command_line = read_command_line(argc, argv);
    if (!command_line) {
        usage();
    }
    return run_session(*command_line);
}
