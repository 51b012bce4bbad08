#include "board_lines.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "serial.h"
#include "user_output.h"

void warn_no_modem_lines(const PortChoice& port, const BoardLines& lines) {
    const char* ignored = lines.dtr && lines.rts ? "--dtr and --rts are ignored"
                          : lines.dtr            ? "--dtr is ignored"
                                                 : "--rts is ignored";
    tell_user(port.path + " has no modem control lines; " + ignored);
}

namespace {

// A banner that outlasts --boot-wait is discarded until the line has been
// this quiet, for at most BANNER_MOST more.
constexpr std::chrono::milliseconds QUIET(100);
constexpr std::chrono::seconds BANNER_MOST(5);

} // namespace

Result<void> set_board_lines(const PortChoice& port, const BoardLines& lines) {
    if (lines.keep_at_close && serial_keep_lines_at_close(port.slot) != SERIAL_OK) {
        return Failure{"cannot clear HUPCL on " + port.path + ": " + std::strerror(errno)};
    }
    const std::pair<std::int32_t, std::optional<bool>> wanted[] = {{MODEM_LINE_DTR, lines.dtr},
                                                                   {MODEM_LINE_RTS, lines.rts}};
    for (const auto& [line, on] : wanted) {
        if (!on || serial_set_modem_line(port.slot, line, *on ? 1 : 0) == SERIAL_OK) {
            continue;
        }
        if (errno != ENOTTY && errno != EINVAL) {
            return Failure{"cannot set " + std::string(line == MODEM_LINE_DTR ? "DTR" : "RTS") +
                           " on " + port.path + ": " + std::strerror(errno)};
        }
        warn_no_modem_lines(port, lines);
        break;
    }
    return {};
}

Result<std::size_t> wait_for_boot(DeviceLine& line, const PortChoice& port,
                                  const BoardLines& lines) {
    if (lines.boot_wait_ms <= 0) {
        return std::size_t{0};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(lines.boot_wait_ms));
    const auto give_up = std::chrono::steady_clock::now() + BANNER_MOST;
    std::size_t dropped = 0;
    for (;;) {
        const std::size_t waiting = line.input_waiting();
        if (!line.discard_input()) {
            return line_lost(port.path);
        }
        dropped += waiting;
        if (waiting == 0) {
            return dropped;
        }
        if (std::chrono::steady_clock::now() >= give_up) {
            tell_user("the device on " + port.path +
                      " was still sending 5 s after --boot-wait; starting anyway");
            return dropped;
        }
        std::this_thread::sleep_for(QUIET);
    }
}
