// The device line over a port of the serial module (a host serial port or
// any tty device file), in the slot it was opened in.
#pragma once

#include "device_line.h"

class SerialLine final : public DeviceLine {
  public:
    // The slot must be open for as long as the line is used; the line
    // neither opens nor closes it.
    explicit SerialLine(int slot) : slot_(slot) {}

    long read_byte() override;
    long write_some(const char* data, std::size_t size) override;
    bool discard_input() override;
    std::size_t input_waiting() override;

  private:
    int slot_;
};
