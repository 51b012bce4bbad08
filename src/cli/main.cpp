// lorvrc: runs a BASIC program on a device at the end of a serial line.
//
// Flow: main reads the command line; an option prints and ends. Otherwise
// run() readies the program name for the device, chooses the port from its
// forms, takes it (lock files, open, line settings), serves the device
// until "O" or "E" and gives the port back; the device's last word is the
// exit status. A signal gives the port back too, then ends us by itself.
//
// Folders: cli/ (this) alone knows both ports and sessions; session/
// serves the device over a DeviceLine (line/: bytes in, bytes out) and
// never knows what carries it; port/ chooses, locks, opens and lists ports
// and hands out the line; the two never include each other. Below them:
// serial/ (the serial module, which uses nothing of ours), line/ and
// output/ (writers, Failure). CMake builds one library per folder that
// exports only its own headers.
//
// Failure rule, every channel there is:
//   - an operation that can stop the run returns a Failure (in a
//     Result<T>, Result<void> when it makes no value) and prints nothing;
//     both are [[nodiscard]]. cli/ prints it once, "lorvrc: " first, and
//     exits 1. A Failure that --wait could end says what waiting would
//     bring (`awaited`);
//   - the serial module returns negative SERIAL_* codes with errno kept;
//     port/ turns them into Failures, line/ into the DeviceLine's marks
//     (LINE_NOTHING_YET, which is no error, and LINE_LOST);
//   - inside the session, the line lost, a device silent or taking nothing
//     past --timeout, is thrown as LinkLost, which carries its Failure; the
//     run catches it and prints it as any other;
//   - warnings that let the run go on are printed where they arise.
// Nothing below main ends the process.
//
// Test seams: any device path may be a port, port numbers name
// "<prefix>N", and port/host_paths gives /dev, /sys and the lock
// directories; all are build settings the test build points elsewhere.
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "command_line.h"
#include "port_list.h"
#include "run.h"
#include "run_port.h"

namespace {

// open() takes the lowest free descriptor: started with standard error
// closed, the port would become descriptor 2 and our messages would go
// down the line into the device. Fill any closed standard descriptor
// first. Returns whether standard output was closed.
bool fill_standard_descriptors() {
    const bool stdout_closed = fcntl(STDOUT_FILENO, F_GETFD) == -1;
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && open("/dev/null", O_RDWR) == -1) {
            break;
        }
    }
    return stdout_closed;
}

// For --help, --version and --list, whose output is the point of the
// call, a closed standard output fails as a write to it would.
int wrote(bool written, const char* what) {
    return written ? 0
                   : failed({std::string("cannot write ") + what + ": " + std::strerror(errno)});
}

const char* output_of(Action action) {
    return action == Action::help      ? "the help"
           : action == Action::version ? "the version"
                                       : "the list of ports";
}

} // namespace

int main(int argc, char** argv) {
    const bool stdout_closed = fill_standard_descriptors();
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
    if (stdout_closed && command_line.action != Action::run &&
        command_line.action != Action::usage) {
        errno = EBADF;
        return wrote(false, output_of(command_line.action));
    }
    switch (command_line.action) {
    case Action::usage: print_usage(); return 1;
    case Action::help: return wrote(print_help(), output_of(Action::help));
    case Action::version: return wrote(print_version(), output_of(Action::version));
    case Action::list: return wrote(list_ports(), output_of(Action::list));
    case Action::run: break;
    }
    return run(command_line);
}
