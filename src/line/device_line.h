// The line to the device as the session sees it: bytes in, bytes out,
// whatever carries them (a serial port of the host, a network connection
// to a port served elsewhere). The session never asks which it has.
//
// Error model: a read gives a byte (0 to 255) or one of the two marks
// below; a write gives how many bytes it took or LINE_LOST. Waiting is
// bounded in both directions (about a second), so the caller decides how
// much silence or stalling it bears. A line that reported LINE_LOST keeps
// reporting it.
#pragma once

#include <cstddef>
#include <string>

#include "failure.h"

// Nothing arrived, or no room came, within the line's wait: not an error.
constexpr long LINE_NOTHING_YET = -1;
// The line is gone (the far end hung up or closed) or failed for good.
constexpr long LINE_LOST = -2;

class DeviceLine {
  public:
    DeviceLine() = default;
    DeviceLine(const DeviceLine&) = delete;
    DeviceLine& operator=(const DeviceLine&) = delete;
    virtual ~DeviceLine() = default;

    // The next byte from the device, 0 to 255; LINE_NOTHING_YET when none
    // came within the read wait (about one second); LINE_LOST.
    virtual long read_byte() = 0;

    // Writes the first bytes of data[0..size), waiting at most about a
    // second for room to write. Returns how many were taken (0: no room
    // came; the caller tries again and counts the stall), or LINE_LOST,
    // after which an unknown part of them has gone out. Bytes taken may be
    // gathered by the line and sent with later ones; every write's bytes
    // are on their way by the next read_byte() or the line's close.
    virtual long write_some(const char* data, std::size_t size) = 0;

    // Drops every byte that has arrived and was not read yet (on a network
    // line: also what the far end still holds for us). False when the line
    // is lost.
    virtual bool discard_input() = 0;

    // How many bytes have arrived and were not read yet, as far as this end
    // can tell (a line that cannot tell says 0). Takes none of them.
    virtual std::size_t input_waiting() { return 0; }
};

// The one wording of a line that went away, wherever it is noticed;
// `port_name` names the port as messages do.
inline Failure line_lost(const std::string& port_name) {
    return {"lost the connection on " + port_name};
}
