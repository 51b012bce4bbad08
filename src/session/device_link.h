// Talking with the device: bytes in and out over its line, and the one
// failure that travels as an exception, the line lost in the middle of the
// session.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "device_line.h"
#include "device_text.h"
#include "failure.h"

// Thrown by every reader and sender when the session cannot go on with the
// device: the line reported LINE_LOST (it hung up, a read or write failed;
// a line that refused once refuses again), the device stayed silent past
// the patience's time-out, or it took no byte for that long. Carries the
// failure in words, naming the port as the patience does.
class LinkLost : public std::runtime_error {
  public:
    explicit LinkLost(Failure failure)
        : std::runtime_error(failure.message), failure_(std::move(failure)) {}
    const Failure& failure() const { return failure_; }

  private:
    Failure failure_;
};

// How long the session bears a device that neither speaks nor takes
// bytes, and what it says meanwhile.
struct Patience {
    std::string port_name;   // the port as messages name it
    int timeout_seconds = 0; // silence, or no byte taken, that ends the run; 0: wait for ever
    bool notice = false;     // say once when the device is still silent 3 s after the start
};

// Sets the patience of every later reader and sender, and forgets any byte
// heard: the notice's 3 s count from the first read after this.
void set_patience(const Patience& patience);

// Returns the next byte from the device (0 to 255), waiting through the
// line's read waits as the patience allows; the silence counts from this
// call. Throws LinkLost when the line is lost, and when the device has sent
// nothing for the time-out (seen within a read wait after it).
int next_byte(DeviceLine& line);

// A string from the device: at most the first `keep` bytes of it, and how
// many bytes after those were read and dropped.
struct DeviceString {
    std::string bytes;
    std::uint64_t cut = 0;
};

// Reads the device's next string up to and including its 0 byte (which is
// not stored). Bytes past `keep` are read and counted but not stored, so
// memory stays bounded whatever the device sends. Throws LinkLost.
DeviceString receive_string(DeviceLine& line, std::size_t keep);

// As receive_string, into `received`, which holds what had come when it
// throws.
void receive_string(DeviceLine& line, std::size_t keep, DeviceString& received);

// Sends bytes as they are, all of them, waiting for room as the patience
// allows: a device that takes no byte for the time-out ends the session.
// Throws LinkLost; the bytes before the failure may have gone out.
void send_bytes(DeviceLine& line, const std::string& bytes);

// Sends one byte. Throws LinkLost.
void send_byte(DeviceLine& line, unsigned char byte);

// Sends a text that fits (text.fits()) in device codes, then a CR when
// `with_cr`, as one piece. Throws LinkLost.
void send_text(DeviceLine& line, const DeviceText& text, bool with_cr);

// Sends the start byte, the program name and a 0 byte. Throws LinkLost.
void send_start_sequence(DeviceLine& line, char start_byte, const DeviceText& program_name);
