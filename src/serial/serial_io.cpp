#include "serial_table.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

using serial_detail::open_slot_for;

namespace {

// The bytes each line-end mode appends; unknown modes append nothing.
const char* line_end_text(std::int32_t line_end) {
    switch (line_end) {
    case LINE_END_CR: return "\r";
    case LINE_END_LF: return "\n";
    case LINE_END_CRLF: return "\r\n";
    case LINE_END_LFCR: return "\n\r";
    default: return "";
    }
}

// A read that returns no byte is either the read time-out or a line whose
// far end has gone (a closed pseudo-terminal, an unplugged USB adapter),
// which returns nothing at once, for ever. Only poll tells them apart.
bool line_hung_up(int fd) {
    pollfd probe{fd, POLLIN, 0};
    return poll(&probe, 1, 0) > 0 && (probe.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
}

// One write that takes what fits and never waits: the descriptor blocks
// for reads (the read time-out relies on it), so it is non-blocking only
// for this write.
ssize_t write_without_waiting(int fd, const char* data, std::size_t size) {
    const int flags = fcntl(fd, F_GETFL);
    if (flags == -1 || fcntl(fd, F_SETFL, flags | O_NONBLOCK) == -1) {
        return -1;
    }
    const ssize_t written = write(fd, data, size);
    const int error = errno;
    fcntl(fd, F_SETFL, flags);
    errno = error;
    return written;
}

} // namespace

std::int32_t serial_write(std::int32_t port, const char* data, std::int32_t size,
                          std::int32_t wait_ms) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr || size < 0 || wait_ms < 0) {
        return slot == nullptr ? result : SERIAL_BAD_ARGUMENT;
    }
    const auto count = static_cast<std::size_t>(size);
    ssize_t written = write_without_waiting(slot->fd, data, count);
    if (written < 0 && (errno == EAGAIN || errno == EINTR)) {
        // poll sees room, and a hang-up, without taking a byte.
        pollfd room{slot->fd, POLLOUT, 0};
        const int ready = poll(&room, 1, wait_ms);
        if (ready > 0 && (room.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
            return SERIAL_IO_ERROR;
        }
        written = ready > 0 ? write_without_waiting(slot->fd, data, count) : 0;
        written = written < 0 && (errno == EAGAIN || errno == EINTR) ? 0 : written;
    }
    return written < 0 ? SERIAL_IO_ERROR : static_cast<std::int32_t>(written);
}

std::int32_t serial_putc(std::int32_t port, std::int32_t c) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    const auto byte = static_cast<unsigned char>(c & 0xFF);
    return write(slot->fd, &byte, 1) == 1 ? SERIAL_OK : SERIAL_IO_ERROR;
}

std::int32_t serial_puts(std::int32_t port, const char* text, std::int32_t line_end) {
    const std::size_t length = std::strlen(text);
    if (length > SERIAL_TEXT_MAX) {
        return SERIAL_TOO_LONG;
    }
    char buffer[SERIAL_TEXT_MAX + 2 + 1];
    std::strcpy(buffer, text);
    std::strcat(buffer, line_end_text(line_end));

    std::int32_t result = SERIAL_OK;
    if (open_slot_for(port, &result) == nullptr) {
        return result;
    }
    for (const char* p = buffer; *p != '\0'; ++p) {
        result = serial_putc(port, static_cast<unsigned char>(*p));
        if (result < 0) {
            return result;
        }
    }
    return SERIAL_OK;
}

std::int32_t serial_getc(std::int32_t port) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    if (slot->pushback >= 0) {
        const std::int32_t c = slot->pushback & 0xFF;
        slot->pushback = -1;
        return c;
    }
    unsigned char byte = 0;
    const ssize_t count = read(slot->fd, &byte, 1);
    if (count < 0) {
        return SERIAL_IO_ERROR;
    }
    if (count == 0) {
        return line_hung_up(slot->fd) ? SERIAL_IO_ERROR : SERIAL_NO_DATA;
    }
    return static_cast<std::int32_t>(byte & slot->data_mask);
}

std::int32_t serial_gets(std::int32_t port, char* buf, std::int32_t size, std::int32_t retries) {
    buf[0] = '\0';
    std::int32_t count = 0;
    while (count < size - 1) {
        std::int32_t c = serial_getc(port);
        for (std::int32_t reads = 1; c == SERIAL_NO_DATA && reads < retries; ++reads) {
            c = serial_getc(port);
        }
        if (c < 0) {
            return c;
        }
        if (c == '\r' || c == '\n') {
            return SERIAL_OK;
        }
        buf[count++] = static_cast<char>(c);
        buf[count] = '\0';
    }
    return SERIAL_OK;
}

std::int32_t serial_ungetc(std::int32_t port, std::int32_t c) {
    std::int32_t result = SERIAL_OK;
    SerialPort* slot = open_slot_for(port, &result);
    if (slot == nullptr) {
        return result;
    }
    slot->pushback = c;
    return SERIAL_OK;
}
