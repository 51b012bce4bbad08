#include "serial_line.h"

#include <algorithm>
#include <cstdint>

#include "serial.h"

namespace {

// The line interface's "about a second" of waiting for room.
constexpr std::int32_t WRITE_WAIT_MS = 1000;

} // namespace

long SerialLine::read_byte() {
    const std::int32_t result = serial_getc(slot_);
    if (result >= 0) {
        return result;
    }
    return result == SERIAL_NO_DATA ? LINE_NOTHING_YET : LINE_LOST;
}

// What the device takes within a second, in as few writes as it allows:
// a local tty takes a line at once.
long SerialLine::write_some(const char* data, std::size_t size) {
    const auto block = static_cast<std::int32_t>(std::min<std::size_t>(size, INT32_MAX));
    const std::int32_t taken = serial_write(slot_, data, block, WRITE_WAIT_MS);
    return taken >= 0 ? taken : LINE_LOST;
}

bool SerialLine::discard_input() { return serial_discard_input(slot_) == SERIAL_OK; }

std::size_t SerialLine::input_waiting() {
    const std::int32_t count = serial_input_waiting(slot_);
    return count > 0 ? static_cast<std::size_t>(count) : 0;
}
