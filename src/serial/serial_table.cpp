#include "serial_table.h"

#include <cerrno>
#include <sys/ioctl.h>
#include <unistd.h>

#ifndef LORVRC_DEVICE_PREFIX
#define LORVRC_DEVICE_PREFIX "/dev/ttyS"
#endif

namespace {

SerialPort serial_ports[SERIAL_PORT_COUNT];
int serial_initialized = 0;

} // namespace

void serial_init() {
    for (SerialPort& slot : serial_ports) {
        slot.is_open = 0;
    }
    serial_initialized = 1;
}

std::int32_t serial_close(std::int32_t port) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = serial_detail::slot_for(port, &result);
    if (slot == nullptr || slot->is_open == 0) {
        return result;
    }
    // Closed first, so a failing close still leaves the slot closed.
    slot->is_open = 0;
    return serial_detail::release(slot->fd) == 0 ? SERIAL_OK : SERIAL_IO_ERROR;
}

std::string serial_device_path(std::int32_t port) {
    return LORVRC_DEVICE_PREFIX + std::to_string(port);
}

namespace serial_detail {

int release(int fd) {
    ioctl(fd, TIOCNXCL);
    return close(fd);
}

SerialPort* slot_for(std::int32_t port, std::int32_t* result) {
    if (serial_initialized == 0) {
        serial_init();
    }
    if (static_cast<std::uint32_t>(port) >= SERIAL_PORT_COUNT) {
        *result = SERIAL_BAD_ARGUMENT;
        return nullptr;
    }
    return &serial_ports[port];
}

SerialPort* open_slot_for(std::int32_t port, std::int32_t* result) {
    SerialPort* slot = slot_for(port, result);
    if (slot != nullptr && slot->is_open == 0) {
        *result = SERIAL_NOT_OPEN;
        return nullptr;
    }
    return slot;
}

} // namespace serial_detail
