#include "port_choice.h"

#include <cerrno>
#include <cstdlib>

#include "host_paths.h"
#include "serial.h"

namespace {

std::string source_words(PortSource source) {
    switch (source) {
    case PortSource::environment: return " (from LORVRC_PORT)";
    case PortSource::default_port: return " (the default port)";
    case PortSource::argument: break;
    }
    return "";
}

PortChoice chosen(int slot, const std::string& path, PortSource source) {
    return {slot, path, path + source_words(source), std::nullopt};
}

} // namespace

Result<PortChoice> choose_port(const std::string& text, PortSource source) {
    if (is_network_port(text)) {
        std::optional<NetworkAddress> address = read_network_address(text);
        if (!address) {
            return Failure{"\"" + text + "\"" + source_words(source) +
                           " is not a network port; give " + NETWORK_PORT_FORMS};
        }
        PortChoice chosen_port = chosen(0, text, source);
        chosen_port.network = std::move(address);
        return chosen_port;
    }
    if (text.find('/') != std::string::npos) {
        return chosen(0, text, source);
    }
    if (text.starts_with("tty")) {
        return chosen(0, dev_root() + "/" + text, source);
    }
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(start, &end, 10);
    if (end == start) {
        // Once any text without digits silently meant port 0, which on
        // many hosts is the console.
        return Failure{"\"" + text + "\"" + source_words(source) +
                       " is not a port; give a number from 0 to 15, a device path such as "
                       "/dev/ttyUSB0, or a name such as ttyUSB0"};
    }
    if (errno == ERANGE || number < 0 || number >= SERIAL_PORT_COUNT) {
        return Failure{"there is no serial port " + text + source_words(source) +
                       "; port numbers go from 0 to " + std::to_string(SERIAL_PORT_COUNT - 1)};
    }
    const int slot = static_cast<int>(number);
    return chosen(slot, serial_device_path(slot), source);
}
