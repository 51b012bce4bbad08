// The network port forms: rfc2217://HOST:PORT and tcp://HOST:PORT.
#pragma once

#include <optional>
#include <string>

// How the line's bytes travel over the connection.
enum class NetworkFraming {
    rfc2217, // telnet with the COM-PORT option (RFC 2217): line settings, DTR and RTS
    raw,     // the bytes as they are; the server sets the line
};

struct NetworkAddress {
    NetworkFraming framing = NetworkFraming::raw;
    std::string host;    // a name or an address, without the brackets of an IPv6 one
    std::string service; // the TCP port, digits only, 1 to 65535
};

// Whether the text names a network port (starts with "rfc2217://" or
// "tcp://"), well formed or not.
bool is_network_port(const std::string& text);

// Reads "rfc2217://HOST:PORT" or "tcp://HOST:PORT". HOST is a name, an IPv4
// address or an IPv6 address in brackets ("[::1]"); PORT is 1 to 65535 in
// digits. Nothing when the text is no such form: no host, no port, a port
// out of range, anything after the port, or an IPv6 address without
// brackets. Looks nothing up.
std::optional<NetworkAddress> read_network_address(const std::string& text);

// What a network port looks like, for messages about one that is not.
constexpr const char* NETWORK_PORT_FORMS =
    "rfc2217://HOST:PORT or tcp://HOST:PORT, where HOST is a name, an IPv4 address or an IPv6 "
    "address in brackets ([::1]) and PORT a number from 1 to 65535";
