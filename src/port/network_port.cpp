#include "network_port.h"

#include "network_open.h"
#include "user_output.h"

Result<std::unique_ptr<DeviceLine>> take_network_port(const PortChoice& port,
                                                      const BoardLines& lines) {
    const bool rfc2217 = port.network->framing == NetworkFraming::rfc2217;
    if (lines.keep_at_close) {
        tell_user(port.path +
                  " is a network port, with no hang-up to keep; --no-hangup is ignored");
    }
    if (!rfc2217 && (lines.dtr || lines.rts)) {
        warn_no_modem_lines(port, lines);
    }
    const ModemRequests modem = rfc2217 ? ModemRequests{lines.dtr, lines.rts} : ModemRequests{};
    Result<std::unique_ptr<NetworkLine>> line = open_network_line(*port.network, port.shown, modem);
    if (!line) {
        return line.failure();
    }
    return std::unique_ptr<DeviceLine>(std::move(*line));
}
