#include "device_link.h"

#include "device_charset.h"
#include "serial.h"

int next_byte(int port) {
    for (;;) {
        const std::int32_t result = serial_getc(port);
        if (result >= 0) {
            return result;
        }
        if (result != SERIAL_NO_DATA) {
            throw LinkLost();
        }
    }
}

DeviceString receive_string(int port, std::size_t keep) {
    DeviceString received;
    for (int byte = next_byte(port); byte != 0; byte = next_byte(port)) {
        if (received.bytes.size() < keep) {
            received.bytes.push_back(static_cast<char>(byte));
        } else {
            ++received.cut;
        }
    }
    return received;
}

void send_byte(int port, unsigned char byte) {
    if (serial_putc(port, byte) < 0) {
        throw LinkLost();
    }
}

bool send_text(int port, const std::string& device_text, std::int32_t line_end) {
    const std::int32_t result = serial_puts(port, device_text.c_str(), line_end);
    if (result == SERIAL_TOO_LONG) {
        return false;
    }
    if (result < 0) {
        throw LinkLost();
    }
    return true;
}

void send_start_sequence(int port, char start_byte, const std::string& program_name) {
    send_byte(port, static_cast<unsigned char>(start_byte));
    send_text(port, to_device_charset(program_name), LINE_END_NONE);
    send_byte(port, 0);
}
