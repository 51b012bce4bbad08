#include "file_request.h"

#include <climits>
#include <fstream>

#include "device_charset.h"
#include "device_link.h"
#include "serial.h"
#include "source_lines.h"
#include "user_output.h"

namespace {

const char* extension_for(int command) {
    switch (command) {
    case 'M': return ".bas";
    case 'I': return ".inc";
    case 'A': return ".app";
    default: return "";
    }
}

void warn_line_dropped(const std::string& file_name, const SourceLine& line) {
    tell_user(file_name + ": line " + std::to_string(line.number) + " is " +
              std::to_string(line.length) + " bytes long, over the device's limit of " +
              std::to_string(SERIAL_TEXT_MAX) + "; not sent");
}

} // namespace

void serve_file_request(int port, int command, std::string& current_file_name) {
    // A name longer than a path can be never opens; keeping more of it
    // would only let a confused device grow us without limit.
    const DeviceString name = receive_string(port, PATH_MAX);
    current_file_name = name.bytes + extension_for(command);
    if (name.cut > 0) {
        serial_putc(port, 'E');
        return;
    }
    send_file(port, current_file_name);
}

void send_file(int port, const std::string& file_name) {
    std::ifstream file(file_name, std::ios::in | std::ios::binary);
    if (!file.is_open()) {
        serial_putc(port, 'E');
        return;
    }
    serial_putc(port, 'O');
    SourceLineReader lines(file, SERIAL_TEXT_MAX);
    SourceLine line;
    while (lines.next(line)) {
        if (line.length > SERIAL_TEXT_MAX) {
            warn_line_dropped(file_name, line);
            continue;
        }
        serial_puts(port, to_device_charset(line.text).c_str(), LINE_END_CR);
    }
    serial_putc(port, 0);
}
