// The serial module's stand-in for fuzzing. It is linked in place of the
// real module and implements the operations the session driver uses over
// memory (serial_gets and serial_ungetc have no caller there): the
// device's bytes come from a buffer, and every byte the tool sends is
// recorded. When the buffer is used up the line counts as hung up, so every
// run of the session ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fake_serial {

// What the tool asked serial_open (or serial_open_device) for.
struct OpenCall {
    std::int32_t port;
    std::int32_t data_bits;
    std::int32_t parity;
    std::int32_t stop_bits;
    std::int32_t baud;
    std::uint8_t read_timeout;
};

// Starts a new run: all ports closed, nothing sent, and the device will
// send `size` bytes from `data` (which must outlive the run) and then hang
// up.
void load(const std::uint8_t* data, std::size_t size);

// Every byte written to any port since load().
const std::string& sent();

// How many of the device's bytes have been read.
std::size_t bytes_read();

// How many times serial_open was called since load(), and the last call.
int open_calls();
const OpenCall& last_open();

// Whether any port is open now.
bool any_port_open();

} // namespace fake_serial
