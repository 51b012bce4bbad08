#include "fake_serial.h"

#include <array>
#include <cstring>

#include "serial.h"

namespace {

struct Slot {
    bool open = false;
    std::uint32_t data_mask = 0xFF;
};

struct Line {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
    bool hung_up = false;
    std::uint64_t reads = 0;
    std::string sent;
    int open_calls = 0;
    fake_serial::OpenCall last_open{};
    std::array<Slot, SERIAL_PORT_COUNT> slots{};
};

Line line;

// A real line times out now and then while the device thinks; every
// seventh read does here, so each reading loop meets time-outs in the
// middle of a payload as well as between commands.
constexpr std::uint64_t TIMEOUT_EVERY = 7;

constexpr std::int32_t BAUDS[] = {0,    50,   75,   110,  134,  150,   200,   300,   600,
                                  1200, 1800, 2400, 4800, 9600, 19200, 38400, 57600, 115200};

bool in_range(std::int32_t port) { return port >= 0 && port < SERIAL_PORT_COUNT; }

Slot* open_slot(std::int32_t port, std::int32_t* result) {
    if (!in_range(port)) {
        *result = SERIAL_BAD_ARGUMENT;
        return nullptr;
    }
    Slot& slot = line.slots[static_cast<std::size_t>(port)];
    if (!slot.open) {
        *result = SERIAL_NOT_OPEN;
        return nullptr;
    }
    return &slot;
}

bool valid_baud(std::int32_t baud) {
    for (const std::int32_t known : BAUDS) {
        if (known == baud) {
            return true;
        }
    }
    return false;
}

const char* line_end_text(std::int32_t line_end) {
    switch (line_end) {
    case LINE_END_CR: return "\r";
    case LINE_END_LF: return "\n";
    case LINE_END_CRLF: return "\r\n";
    case LINE_END_LFCR: return "\n\r";
    default: return "";
    }
}

} // namespace

namespace fake_serial {

void load(const std::uint8_t* data, std::size_t size) {
    line = Line{};
    line.data = data;
    line.size = size;
}

const std::string& sent() { return line.sent; }

std::size_t bytes_read() { return line.position; }

int open_calls() { return line.open_calls; }

const OpenCall& last_open() { return line.last_open; }

bool any_port_open() {
    for (const Slot& slot : line.slots) {
        if (slot.open) {
            return true;
        }
    }
    return false;
}

} // namespace fake_serial

void serial_init() {
    for (Slot& slot : line.slots) {
        slot.open = false;
    }
}

std::int32_t serial_open(std::int32_t port, std::int32_t data_bits, std::int32_t parity,
                         std::int32_t stop_bits, std::int32_t baud, std::uint8_t read_timeout) {
    return serial_open_device(port, serial_device_path(port), data_bits, parity, stop_bits, baud,
                              read_timeout);
}

// The path names no file: the fake line is the same whatever it is.
std::int32_t serial_open_device(std::int32_t port, const std::string& /*path*/,
                                std::int32_t data_bits, std::int32_t parity, std::int32_t stop_bits,
                                std::int32_t baud, std::uint8_t read_timeout) {
    ++line.open_calls;
    line.last_open = {port, data_bits, parity, stop_bits, baud, read_timeout};
    if (!in_range(port)) {
        return SERIAL_BAD_ARGUMENT;
    }
    Slot& slot = line.slots[static_cast<std::size_t>(port)];
    slot.open = false;
    if (data_bits < 5 || data_bits > 8 || !valid_baud(baud) || (stop_bits != 1 && stop_bits != 2) ||
        parity < PARITY_NONE || parity > PARITY_EVEN) {
        return SERIAL_BAD_ARGUMENT;
    }
    slot.open = true;
    slot.data_mask = 0xFFU >> (8 - data_bits);
    return SERIAL_OK;
}

std::int32_t serial_close(std::int32_t port) {
    if (!in_range(port)) {
        return SERIAL_BAD_ARGUMENT;
    }
    line.slots[static_cast<std::size_t>(port)].open = false;
    return SERIAL_OK;
}

std::int32_t serial_putc(std::int32_t port, std::int32_t c) {
    std::int32_t result = SERIAL_OK;
    if (open_slot(port, &result) == nullptr) {
        return result;
    }
    line.sent.push_back(static_cast<char>(c & 0xFF));
    return SERIAL_OK;
}

std::int32_t serial_puts(std::int32_t port, const char* text, std::int32_t line_end) {
    if (std::strlen(text) > SERIAL_TEXT_MAX) {
        return SERIAL_TOO_LONG;
    }
    std::int32_t result = SERIAL_OK;
    if (open_slot(port, &result) == nullptr) {
        return result;
    }
    line.sent += text;
    line.sent += line_end_text(line_end);
    return SERIAL_OK;
}

std::int32_t serial_getc(std::int32_t port) {
    std::int32_t result = SERIAL_OK;
    Slot* slot = open_slot(port, &result);
    if (slot == nullptr) {
        return result;
    }
    if (line.hung_up || line.position == line.size) {
        line.hung_up = true;
        return SERIAL_IO_ERROR;
    }
    if (++line.reads % TIMEOUT_EVERY == 0) {
        return SERIAL_NO_DATA;
    }
    return static_cast<std::int32_t>(line.data[line.position++] & slot->data_mask);
}

std::string serial_device_path(std::int32_t port) {
    return "fake-line/ttyS" + std::to_string(port);
}
