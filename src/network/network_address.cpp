#include "network_address.h"

#include <algorithm>

namespace {

constexpr const char* RFC2217_SCHEME = "rfc2217://";
constexpr const char* RAW_SCHEME = "tcp://";
constexpr unsigned long HIGHEST_PORT = 65535;

bool all_digits(const std::string& text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// "HOST:PORT" split at the colon that ends the host: after the closing
// bracket of an IPv6 address, else the only colon there is.
std::optional<std::pair<std::string, std::string>> split_host_port(const std::string& rest) {
    std::string::size_type colon = 0;
    std::string host;
    if (rest.starts_with('[')) {
        const auto close = rest.find(']');
        if (close == std::string::npos || close + 1 >= rest.size() || rest[close + 1] != ':') {
            return std::nullopt;
        }
        host = rest.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = rest.find(':');
        if (colon == std::string::npos || rest.find(':', colon + 1) != std::string::npos) {
            return std::nullopt;
        }
        host = rest.substr(0, colon);
    }
    if (host.empty() || host.find_first_of("[]/ ") != std::string::npos) {
        return std::nullopt;
    }
    return std::make_pair(host, rest.substr(colon + 1));
}

} // namespace

bool is_network_port(const std::string& text) {
    return text.starts_with(RFC2217_SCHEME) || text.starts_with(RAW_SCHEME);
}

std::optional<NetworkAddress> read_network_address(const std::string& text) {
    NetworkAddress address;
    std::string rest;
    if (text.starts_with(RFC2217_SCHEME)) {
        address.framing = NetworkFraming::rfc2217;
        rest = text.substr(std::string(RFC2217_SCHEME).size());
    } else if (text.starts_with(RAW_SCHEME)) {
        rest = text.substr(std::string(RAW_SCHEME).size());
    } else {
        return std::nullopt;
    }
    const auto parts = split_host_port(rest);
    // At most five digits, so the number cannot overflow while it is read.
    if (!parts || !all_digits(parts->second) || parts->second.size() > 5) {
        return std::nullopt;
    }
    const unsigned long port = std::stoul(parts->second);
    if (port == 0 || port > HIGHEST_PORT) {
        return std::nullopt;
    }
    address.host = parts->first;
    address.service = std::to_string(port);
    return address;
}
