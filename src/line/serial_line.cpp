#include "serial_line.h"

#include "serial.h"

long SerialLine::read_byte() {
    const std::int32_t result = serial_getc(slot_);
    if (result >= 0) {
        return result;
    }
    return result == SERIAL_NO_DATA ? LINE_NOTHING_YET : LINE_LOST;
}

// One byte per write: a local tty takes bytes as fast as we hand them over,
// and a write that fails then loses one byte, not a block of them.
long SerialLine::write_some(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        if (serial_putc(slot_, static_cast<unsigned char>(data[i])) != SERIAL_OK) {
            return LINE_LOST;
        }
    }
    return static_cast<long>(size);
}

bool SerialLine::discard_input() { return serial_discard_input(slot_) == SERIAL_OK; }
