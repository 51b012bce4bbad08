#include "network_open.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "tcp_connect.h"

namespace {

using Clock = NetworkLine::Clock;

constexpr std::chrono::seconds NEGOTIATION_LIMIT(5);
constexpr std::chrono::milliseconds PURGE_ANSWER_WAIT(500);
constexpr std::size_t SAID_LIMIT = 200;
constexpr std::chrono::milliseconds OPEN_NOTICE_WAIT(50);
constexpr std::uint32_t BAUD = 38400;
constexpr std::uint32_t DATA_BITS = 8;

// The four settings whose answers are waited for, and how a wrong one is named.
struct Setting {
    ComPortCommand command;
    std::uint32_t value;
    const char* name;
};
constexpr std::array<Setting, 4> SETTINGS = {{
    {ComPortCommand::set_baud_rate, BAUD, "the baud rate"},
    {ComPortCommand::set_data_size, DATA_BITS, "the data bits"},
    {ComPortCommand::set_parity, COM_PORT_PARITY_NONE, "the parity (1: none)"},
    {ComPortCommand::set_stop_size, COM_PORT_ONE_STOP_BIT, "the stop bits"},
}};

// A failure that waiting for the server may end (--wait).
Failure awaitable(const std::string& message) { return Failure{message, "to answer"}; }

Failure connect_failure(const std::string& shown, const TcpConnection& connection) {
    const std::string start = "cannot connect to " + shown + ": ";
    if (!connection.resolver_words.empty()) {
        return Failure{start + connection.resolver_words};
    }
    if (connection.error == ETIMEDOUT) {
        return awaitable(start + "no answer within " + std::to_string(CONNECT_LIMIT.count()) +
                         " s");
    }
    const std::string words = start + std::strerror(connection.error);
    const bool passing = connection.error == ECONNREFUSED || connection.error == ENETUNREACH ||
                         connection.error == EHOSTUNREACH;
    return passing ? awaitable(words) : Failure{words};
}

// The connection ended while being set up: a busy server says why first.
Failure ended(const std::string& shown, const NetworkLine& line) {
    // Its first line, as it said it.
    std::string said = line.unread();
    said.erase(std::min(said.find_first_of("\r\n"), SAID_LIMIT));
    if (said.empty()) {
        return Failure{"lost the connection on " + shown + " while setting up the line"};
    }
    // Most often another client holds the port (ser2net: "Port already in
    // use"), which --wait waits out as it does a local port's holder.
    return Failure{shown + " turned the connection away: \"" + said + "\"", "to be free"};
}

void send_settings(TelnetFraming& framing, const ModemRequests& modem) {
    for (const Setting& setting : SETTINGS) {
        framing.send_com_port(com_port_request(setting.command, setting.value));
    }
    const auto control = [&framing](std::uint32_t value) {
        framing.send_com_port(com_port_request(ComPortCommand::set_control, value));
    };
    control(COM_PORT_NO_FLOW_CONTROL);
    if (modem.dtr) {
        control(*modem.dtr ? COM_PORT_DTR_ON : COM_PORT_DTR_OFF);
    }
    if (modem.rts) {
        control(*modem.rts ? COM_PORT_RTS_ON : COM_PORT_RTS_OFF);
    }
}

// Purges the server's buffers and drops what the device sent before. The
// purges go after the settings' answers (ser2net holds the answers back
// some 40 ms when a purge comes with them), one buffer at a time (a purge
// of both at once is now and then as slow), and their answers are waited
// for a moment, so that they cannot catch the start sequence that follows.
bool purge(NetworkLine& line) {
    TelnetFraming& framing = *line.framing();
    framing.send_com_port(com_port_request(ComPortCommand::purge_data, COM_PORT_PURGE_SENT));
    framing.send_com_port(com_port_request(ComPortCommand::purge_data, COM_PORT_PURGE_RECEIVED));
    const auto purged = [&framing] {
        return std::count_if(framing.com_port_answers().begin(), framing.com_port_answers().end(),
                             [](const ComPortAnswer& answer) {
                                 return answer.command == ComPortCommand::purge_data;
                             }) == 2;
    };
    return line.exchange_until(purged, Clock::now() + PURGE_ANSWER_WAIT) && line.drop_arrived();
}

// Negotiates BINARY both ways and COM-PORT (SGA is asked for, never needed).
Result<void> negotiate(NetworkLine& line, const std::string& shown, Clock::time_point deadline) {
    TelnetFraming& framing = *line.framing();
    framing.offer_options();
    const auto settled = [&framing] {
        return framing.binary_refused() || framing.broken() ||
               (framing.binary_agreed() && framing.com_port_agreed());
    };
    if (!line.exchange_until(settled, deadline)) {
        return ended(shown, line);
    }
    if (framing.binary_refused()) {
        return Failure{shown +
                       " will not pass 8-bit data unaltered (the server refused binary mode)"};
    }
    if (!settled() || framing.broken()) {
        return Failure{shown + " does not answer as an RFC 2217 server within " +
                       std::to_string(NEGOTIATION_LIMIT.count()) +
                       " s (for a raw TCP port use tcp://)"};
    }
    // ser2net tells the modem state once it has opened the device; settings
    // that reach it before are answered some 40 ms late. A server that tells
    // nothing costs this short wait.
    const auto heard = [&framing] { return framing.com_port_heard(); };
    if (!line.exchange_until(heard, std::min(deadline, Clock::now() + OPEN_NOTICE_WAIT))) {
        return ended(shown, line);
    }
    return {};
}

// Sends the settings and waits for the four answers, in any order.
Result<void> set_line(NetworkLine& line, const std::string& shown, const ModemRequests& modem,
                      Clock::time_point deadline) {
    TelnetFraming& framing = *line.framing();
    send_settings(framing, modem);
    std::array<std::optional<std::uint32_t>, SETTINGS.size()> answered;
    const auto all_answered = [&] {
        for (const ComPortAnswer& answer : framing.com_port_answers()) {
            for (std::size_t i = 0; i < SETTINGS.size(); ++i) {
                if (SETTINGS[i].command == answer.command) {
                    answered[i] = answer.value;
                }
            }
        }
        framing.com_port_answers().clear();
        return std::all_of(answered.begin(), answered.end(), [](auto& a) { return a.has_value(); });
    };
    if (!line.exchange_until(all_answered, deadline)) {
        return ended(shown, line);
    }
    for (std::size_t i = 0; i < SETTINGS.size(); ++i) {
        if (!answered[i]) {
            return Failure{shown + " did not confirm the line settings within " +
                           std::to_string(NEGOTIATION_LIMIT.count()) + " s"};
        }
        if (*answered[i] != SETTINGS[i].value) {
            return Failure{shown + " set " + SETTINGS[i].name + " to " +
                           std::to_string(*answered[i]) + " instead of " +
                           std::to_string(SETTINGS[i].value)};
        }
    }
    return {};
}

Result<void> set_up(NetworkLine& line, const std::string& shown, const ModemRequests& modem) {
    const auto deadline = Clock::now() + NEGOTIATION_LIMIT;
    Result<void> done = negotiate(line, shown, deadline);
    if (done) {
        done = set_line(line, shown, modem, deadline);
    }
    if (done && !purge(line)) {
        return ended(shown, line);
    }
    return done;
}

} // namespace

Result<std::unique_ptr<NetworkLine>> open_network_line(const NetworkAddress& address,
                                                       const std::string& shown,
                                                       const ModemRequests& modem) {
    const TcpConnection connection = connect_tcp(address, CONNECT_LIMIT);
    if (connection.fd < 0) {
        return connect_failure(shown, connection);
    }
    std::unique_ptr<TelnetFraming> framing;
    if (address.framing == NetworkFraming::rfc2217) {
        framing = std::make_unique<TelnetFraming>();
    }
    auto line = std::make_unique<NetworkLine>(connection.fd, std::move(framing));
    if (line->framing() != nullptr) {
        if (const Result<void> set = set_up(*line, shown, modem); !set) {
            return set.failure();
        }
    }
    return line;
}
