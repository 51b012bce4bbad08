#include "device_link.h"

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

void send_text(int port, const DeviceText& text, std::int32_t line_end) {
    if (serial_puts(port, text.codes().c_str(), line_end) < 0) {
        throw LinkLost();
    }
}

void send_start_sequence(int port, char start_byte, const DeviceText& program_name) {
    send_byte(port, static_cast<unsigned char>(start_byte));
    send_text(port, program_name, LINE_END_NONE);
    send_byte(port, 0);
}
