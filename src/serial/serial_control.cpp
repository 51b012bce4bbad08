#include "serial_table.h"

#include <sys/ioctl.h>
#include <termios.h>

using serial_detail::open_slot_for;

std::int32_t serial_set_modem_line(std::int32_t port, std::int32_t line, std::int32_t on) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    if (line != MODEM_LINE_DTR && line != MODEM_LINE_RTS) {
        return SERIAL_BAD_ARGUMENT;
    }
    const int bits = line == MODEM_LINE_DTR ? TIOCM_DTR : TIOCM_RTS;
    return ioctl(slot->fd, on != 0 ? TIOCMBIS : TIOCMBIC, &bits) == 0 ? SERIAL_OK : SERIAL_IO_ERROR;
}

std::int32_t serial_keep_lines_at_close(std::int32_t port) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    termios settings{};
    if (tcgetattr(slot->fd, &settings) != 0) {
        return SERIAL_IO_ERROR;
    }
    settings.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    return tcsetattr(slot->fd, TCSANOW, &settings) == 0 ? SERIAL_OK : SERIAL_IO_ERROR;
}

std::int32_t serial_discard_input(std::int32_t port) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    slot->pushback = -1;
    return tcflush(slot->fd, TCIFLUSH) == 0 ? SERIAL_OK : SERIAL_IO_ERROR;
}

std::int32_t serial_input_waiting(std::int32_t port) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    int count = 0;
    if (ioctl(slot->fd, FIONREAD, &count) != 0) {
        return SERIAL_IO_ERROR;
    }
    return count + (slot->pushback >= 0 ? 1 : 0);
}
