#include "run.h"

#include <unistd.h>

#include "device_link.h"
#include "port_choice.h"
#include "port_wait.h"
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
    if (const std::optional<Failure> failure = take_port_waiting(
            *port, command_line.program_name, command_line.board, command_line.wait_seconds)) {
        return failed(failure->message);
    }
    // The notice is for someone watching a terminal, never for a log.
    const Patience patience{port->path, command_line.timeout_seconds, isatty(STDERR_FILENO) == 1};
    if (const std::optional<Failure> failure = wait_for_boot(*port, command_line.board)) {
        release_port_for_run(*port);
        return failed(failure->message);
    }
    int status = 1;
    try {
        const SessionSettings settings{
            command_line.serving, command_line.error_format.value_or(ErrorFormat::plain), patience};
        status = serve_device(port->slot, command_line.start_byte, *name, settings);
    } catch (const LinkLost& lost) {
        tell_user(lost.cause() == LinkLost::Cause::no_answer
                      ? "no answer from the device on " + port->path + " for " +
                            std::to_string(command_line.timeout_seconds) + " s"
                      : "lost the connection on " + port->path);
    }
    release_port_for_run(*port);
    return status;
}
