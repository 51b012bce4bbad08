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
#include <csignal>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>

#include "command_line.h"
#include "port_list.h"
#include "run.h"
#include "run_port.h"
#include "user_output.h"

namespace {

// open() takes the lowest free descriptor: started with standard error
// closed, the port would become descriptor 2 and our messages would go
// down the line into the device. Fill any closed standard descriptor
// first. Standard output gets a read-only one: for --help, --version and
// --list, whose output is the point of the call, a closed standard output
// must fail as a write to it would (EBADF), and nothing else writes there.
void fill_standard_descriptors() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 &&
            open("/dev/null", fd == STDOUT_FILENO ? O_RDONLY : O_RDWR) == -1) {
            break;
        }
    }
}

// What an action other than a run writes on standard output, and its name
// for a message.
std::pair<std::string, std::string> output_of(Action action) {
    switch (action) {
    case Action::help: return {help_text(), "the help"};
    case Action::version: return {version_text(), "the version"};
    case Action::complete_options: return {completion_text(), "the options"};
    default: return {port_list(), "the list of ports"};
    }
}

// The texts asked for on the command line: 0, or 1 when standard output
// did not take them all. No port at all is an answer, not a failure.
int print(Action action) {
    const auto [text, what] = output_of(action);
    if (action == Action::list && text.empty()) {
        tell_user("no serial ports found");
        return 0;
    }
    const Result<void> written = write_to_stdout(text, what);
    return written ? 0 : failed(written.failure());
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
    for (const std::string& warning : command_line.warnings) {
        tell_user(warning);
    }
    switch (command_line.action) {
    case Action::usage: print_usage(); return 1;
    case Action::run: return run(command_line);
    case Action::help:
    case Action::version:
    case Action::list:
    case Action::complete_options: return print(command_line.action);
    }
    return 1;
}
