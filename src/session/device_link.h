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
// Also thrown, as `no_answer`, by a reader whose device stayed silent past
// the patience's time-out.
class LinkLost : public std::runtime_error {
  public:
    enum class Cause { lost, no_answer };
    explicit LinkLost(Cause cause = Cause::lost)
        : std::runtime_error(cause == Cause::lost ? "lost the connection" : "no answer"),
          cause_(cause) {}
    Cause cause() const { return cause_; }

  private:
    Cause cause_;
};

// How long a reader waits for a silent device, and what it says meanwhile.
struct Patience {
    std::string port_name;   // the port as messages name it
    int timeout_seconds = 0; // silence that ends the run; 0: none, wait as long as it takes
    bool notice = false;     // say once when the device is still silent 3 s after the start
};

// Sets the patience of every later reader, and forgets any byte heard: the
// notice's 3 s count from the first read after this.
void set_patience(const Patience& patience);

// Returns the next byte from the device (0 to 255), waiting through read
// time-outs (one a second) as the patience allows; the silence counts from
// this call. Throws LinkLost on any other failure, and with Cause::no_answer
// when the device has sent nothing for the time-out (seen within the read
// time-out after it).
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

// As receive_string, into `received`, which holds what had come when it
// throws.
void receive_string(int port, std::size_t keep, DeviceString& received);

// Sends one byte. Throws LinkLost when it cannot be written.
void send_byte(int port, unsigned char byte);

// Sends a text that fits (text.fits()) followed by `line_end` (LINE_END_*).
// Throws LinkLost when a byte cannot be written; the bytes before it have
// gone out.
void send_text(int port, const DeviceText& text, std::int32_t line_end);

// Sends the start byte, the program name and a 0 byte. Throws LinkLost.
void send_start_sequence(int port, char start_byte, const DeviceText& program_name);
