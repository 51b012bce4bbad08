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

void send_start_sequence(int port, char start_byte, const std::string& program_name) {
    serial_putc(port, static_cast<unsigned char>(start_byte));
    serial_puts(port, to_device_charset(program_name).c_str(), LINE_END_NONE);
    serial_putc(port, 0);
}
