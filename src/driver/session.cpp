#include "session.h"

#include <optional>

#include "device_link.h"
#include "file_request.h"
#include "port_open.h"
#include "program_name.h"
#include "reports.h"
#include "user_output.h"

namespace {

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
    const PortChoice port = choose_port(command_line.port, command_line.port_from_environment);
    if (!port.refusal.empty()) {
        tell_user(port.refusal);
        return 1;
    }
    if (!take_port(port)) {
        return 1;
    }
    int status = 1;
    try {
        send_start_sequence(port.slot, command_line.start_byte, *program_name);
        status = serve_device(port.slot);
    } catch (const LinkLost&) {
        tell_user("lost the connection on " + port.path);
    }
    release_port(port);
    return status;
}
