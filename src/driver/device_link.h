// Reading from the device, and the one way a run ends when the line fails.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

// Thrown by every reader when the port reports a failure that will not go
// away (the line hung up, a read failed, the port is not open). The session
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

// Sends the start byte, the program name in device codes and a 0 byte.
// Write results are not examined: a dead line shows at the first read.
void send_start_sequence(int port, char start_byte, const std::string& program_name);
