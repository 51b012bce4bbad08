// Talking with the device: bytes in and out, and the one failure that
// travels as an exception, the line lost in the middle of the session.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "device_text.h"

// Thrown by every reader and sender when the port reports a failure that
// will not go away (the line hung up, a read or write failed, the port is
// not open): a blocking line that refused a byte refuses the next one too.
class LinkLost : public std::runtime_error {
  public:
    LinkLost() : std::runtime_error("lost the connection") {}
};

// Returns the next byte from the device (0 to 255), waiting through read
// time-outs for as long as it takes. Throws LinkLost on any other failure.
int next_byte(int port);

// A string from the device: at most the first `keep` bytes of it, and how
// many bytes after those were read and dropped.
struct DeviceString {
    std::string bytes;
    std::uint64_t cut = 0;
};

// Reads the device's next string up to and including its 0 byte (which is
// not stored). Bytes past `keep` are read and counted but not stored, so
// memory stays bounded whatever the device sends. Throws LinkLost.
DeviceString receive_string(int port, std::size_t keep);

// Sends one byte. Throws LinkLost when it cannot be written.
void send_byte(int port, unsigned char byte);

// Sends a text that fits (text.fits()) followed by `line_end` (LINE_END_*).
// Throws LinkLost when a byte cannot be written; the bytes before it have
// gone out.
void send_text(int port, const DeviceText& text, std::int32_t line_end);

// Sends the start byte, the program name and a 0 byte. Throws LinkLost.
void send_start_sequence(int port, char start_byte, const DeviceText& program_name);
