// Opening a network port: the connection, and on RFC 2217 the line set
// up at the server's end as a local port is set up here.
#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "failure.h"
#include "network_address.h"
#include "network_line.h"

// The modem lines to set over RFC 2217; nothing: as the server has them.
struct ModemRequests {
    std::optional<bool> dtr;
    std::optional<bool> rts;
};

// How long a connection may take to complete.
constexpr std::chrono::seconds CONNECT_LIMIT(10);

// Connects (see connect_tcp). On RFC 2217 then negotiates BINARY both
// ways, SGA and COM-PORT; sets 38400 baud, 8 data bits, no parity, 1 stop
// bit, no flow control; sends DTR and RTS as `modem` asks; purges the
// server's buffers; waits for the answers to the four settings (in any
// order, never for those to the control requests) and drops what the
// device sent before. All of the negotiation gets at most 5 s.
// Fails with a message naming the port as `shown`: the connection refused
// or not made (the resolver's or the system's words), the server turning
// us away (its own text), refusing binary, not speaking RFC 2217, not
// confirming a setting or setting another value (named). A refused or
// unreachable server, or one that does not answer, is one that waiting
// may bring. Nothing stays open after a failure.
Result<std::unique_ptr<NetworkLine>> open_network_line(const NetworkAddress& address,
                                                       const std::string& shown,
                                                       const ModemRequests& modem);
