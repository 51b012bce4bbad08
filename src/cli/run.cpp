#include "run.h"

#include <unistd.h>

#include "device_link.h"
#include "port_choice.h"
#include "port_wait.h"
#include "run_port.h"
#include "session.h"
#include "user_output.h"

namespace {

// Serves the device on the taken line; the device's last word, or the
// failure that ended the session early, gives the status.
int serve(DeviceLine& line, const CommandLine& command_line, const DeviceText& name,
          const PortChoice& port) {
    // The notice is for someone watching a terminal, never for a log.
    const Patience patience{port.path, command_line.timeout_seconds, isatty(STDERR_FILENO) == 1};
    const SessionSettings settings{
        command_line.serving, command_line.error_format.value_or(ErrorFormat::plain), patience};
    try {
        return serve_device(line, command_line.start_byte, name, settings);
    } catch (const LinkLost& lost) {
        return failed(lost.failure());
    }
}

} // namespace

int failed(const Failure& failure) {
    tell_user(failure.message);
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
    Result<std::unique_ptr<DeviceLine>> line = take_port_waiting(
        *port, command_line.program_name, command_line.board, command_line.wait_seconds);
    if (!line) {
        return failed(line.failure());
    }
    const Result<std::size_t> booted = wait_for_boot(**line, *port, command_line.board);
    if (booted && command_line.serving.verbose && command_line.board.boot_wait_ms > 0) {
        tell_user("dropped " + std::to_string(*booted) +
                  " bytes the device sent during the boot "
                  "wait");
    }
    const int status =
        booted ? serve(**line, command_line, *name, *port) : failed(booted.failure());
    release_port_for_run(*port);
    return status;
}
