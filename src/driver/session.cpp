#include "session.h"

#include <cerrno>
#include <cstring>
#include <optional>

#include "device_link.h"
#include "file_request.h"
#include "program_name.h"
#include "reports.h"
#include "serial.h"
#include "user_output.h"

namespace {

// 38400 baud 8N1, and a one-second read time-out so a silent device costs
// one wake-up a second.
constexpr std::int32_t BAUD = 38400;
constexpr std::uint8_t READ_TIMEOUT_TENTHS = 10;

bool open_port(int port) {
    const std::int32_t result = serial_open(port, 8, PARITY_NONE, 1, BAUD, READ_TIMEOUT_TENTHS);
    if (result == SERIAL_OK) {
        return true;
    }
    if (result == SERIAL_BAD_ARGUMENT) {
        tell_user("there is no serial port " + std::to_string(port) +
                  "; port numbers go from 0 to " + std::to_string(SERIAL_PORT_COUNT - 1));
    } else if (errno == EWOULDBLOCK) {
        tell_user(serial_device_path(port) + " is in use by another program");
    } else {
        const int error = errno;
        tell_user("cannot open " + serial_device_path(port) + ": " + std::strerror(error));
    }
    return false;
}

// Serves command bytes until "E" or "O"; returns the exit status.
int serve_device(int port) {
    std::string current_file_name;
    int status = 0;
    bool running = true;
    while (running) {
        const int command = next_byte(port);
        switch (command) {
        case 'M':
        case 'I':
        case 'A': serve_file_request(port, command, current_file_name); break;
        case 'T': print_trace_text(port); break;
        case 'E':
            running = false;
            status = 1;
            print_error_report(port, current_file_name);
            break;
        case 'O': running = false; break;
        default: break; // a 0 byte, or any byte that is no command
        }
    }
    return status;
}

} // namespace

int run_session(const CommandLine& command_line) {
    const std::optional<std::string> program_name =
        program_name_for_device(command_line.program_name);
    if (!program_name) {
        return 1;
    }
    const int port = command_line.port;
    if (!open_port(port)) {
        return 1;
    }
    int status = 1;
    try {
        send_start_sequence(port, command_line.start_byte, *program_name);
        status = serve_device(port);
    } catch (const LinkLost&) {
        tell_user("lost the connection on " + serial_device_path(port));
    }
    serial_close(port);
    return status;
}
