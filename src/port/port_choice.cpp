#include "port_choice.h"

#include <cerrno>
#include <cstdlib>

#include "host_paths.h"
#include "serial.h"

Result<PortChoice> choose_port(const std::string& text, bool from_environment) {
    if (text.find('/') != std::string::npos) {
        return PortChoice{0, text};
    }
    if (text.starts_with("tty")) {
        return PortChoice{0, dev_root() + "/" + text};
    }
    const char* start = text.c_str();
    char* end = nullptr;
    errno = 0;
    const long number = std::strtol(start, &end, 10);
    if (end == start) {
        // Once any text without digits silently meant port 0, which on
        // many hosts is the console.
        const std::string source = from_environment ? " (from LORVRC_PORT)" : "";
        return Failure{"\"" + text + "\"" + source +
                       " is not a port; give a number from 0 to 15, a device path such as "
                       "/dev/ttyUSB0, or a name such as ttyUSB0"};
    }
    if (errno == ERANGE || number < 0 || number >= SERIAL_PORT_COUNT) {
        return Failure{"there is no serial port " + text + "; port numbers go from 0 to " +
                       std::to_string(SERIAL_PORT_COUNT - 1)};
    }
    const int slot = static_cast<int>(number);
    return PortChoice{slot, serial_device_path(slot)};
}
