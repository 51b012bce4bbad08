// Talking with the device, and the one way a run ends when the line fails.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Thrown by every reader and sender when the port reports a failure that
// will not go away (the line hung up, a read or write failed, the port is
// not open): a blocking line that refused a byte refuses the next one too. The session
// catches it in one place, prints one message and ends with status 1.
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

// Sends text, already in device codes, followed by `line_end` (LINE_END_*).
// Returns false, with nothing sent, when the text is longer than the device
// takes (SERIAL_TEXT_MAX). Throws LinkLost when a byte cannot be written;
// the bytes before it have gone out.
bool send_text(int port, const std::string& device_text, std::int32_t line_end);

// Sends the start byte, the program name (in Windows-1252, at most
// SERIAL_TEXT_MAX bytes) in device codes and a 0 byte. Throws LinkLost.
void send_start_sequence(int port, char start_byte, const std::string& program_name);
