#include "run.h"

#include "device_link.h"
#include "port_choice.h"
#include "session.h"
#include "signal_ending.h"
#include "user_output.h"

int failed(const std::string& message) {
    tell_user(message);
    return 1;
}

int run(const CommandLine& command_line) {
    const Result<DeviceText> name = program_name_for_device(command_line.program_name);
    if (!name) {
        return failed(name.failure());
    }
    const Result<PortChoice> port = choose_port(command_line.port, command_line.port_source);
    if (!port) {
        return failed(port.failure());
    }
    if (const std::optional<Failure> failure =
            take_port_for_run(*port, command_line.program_name)) {
        return failed(failure->message);
    }
    int status = 1;
    try {
        const SessionSettings settings{command_line.serving,
                                       command_line.error_format.value_or(ErrorFormat::plain)};
        status = serve_device(port->slot, command_line.start_byte, *name, settings);
    } catch (const LinkLost&) {
        tell_user("lost the connection on " + port->path);
    }
    release_port_for_run(*port);
    return status;
}
