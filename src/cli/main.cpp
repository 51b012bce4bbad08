// lorvrc: runs a BASIC program on a device at the end of a serial line.
//
// Flow: main reads the command line; an option prints and ends. Otherwise
// run() readies the program name for the device, chooses the port from its
// forms, takes it (lock files, open, line settings), serves the device
// until "O" or "E" and gives the port back; the device's last word is the
// exit status. A signal gives the port back too, then ends us by itself.
//
// Folders: cli/ (this) alone knows both ports and sessions; session/
// serves the device; port/ chooses, locks, opens and lists ports, and the
// two never include each other; both may use serial/ (the serial module,
// which uses nothing of ours) and output/ (writers, Failure). CMake builds
// one library per folder that exports only its own headers.
//
// Failure rule: an operation that can stop the run returns a Failure
// (alone, or in a Result<T> with its value) and prints nothing; cli/ prints
// it once and exits 1. Warnings that let the run go on are printed where
// they arise. Only LinkLost, the line lost or the device silent past
// --timeout, is thrown; run() catches it. Nothing below main ends the process.
//
// Test seams: any device path may be a port, port numbers name
// "<prefix>N", and port/host_paths gives /dev, /sys and the lock
// directories; all are build settings the test build points elsewhere.
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include "command_line.h"
#include "port_list.h"
#include "run.h"
#include "signal_ending.h"

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

int status_of(const std::optional<Failure>& failure) {
    return failure ? failed(failure->message) : 0;
}

} // namespace

int main(int argc, char** argv) {
    fill_standard_descriptors();
    // Text for the user that cannot be written is lost, but the session
    // goes on: a reader of standard error that went away (`| head`) must
    // not kill us in the middle of serving the device.
    std::signal(SIGPIPE, SIG_IGN);
    install_signal_endings();
    const Result<CommandLine> read = read_command_line(argc, argv);
    if (!read) {
        return failed(read.failure());
    }
    const CommandLine& command_line = *read;
    switch (command_line.action) {
    case Action::usage: print_usage(); return 1;
    case Action::help: return print_help() ? 0 : 1;
    case Action::version: return print_version() ? 0 : 1;
    case Action::list: return status_of(list_ports());
    case Action::run: break;
    }
    return run(command_line);
}
