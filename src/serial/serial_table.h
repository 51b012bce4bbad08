// The serial port module's slot table. serial_table.cpp owns the table and
// defines the public operations that only touch it (serial_init,
// serial_close, serial_device_path); this header gives the module's other
// files the argument checks every operation starts with.
#pragma once

#include "serial.h"

namespace serial_detail {

// Runs serial_init on first use and checks the port number (taken as
// unsigned, so -1 is as far out of range as 16). Returns the slot, or null
// with *result set to SERIAL_BAD_ARGUMENT.
SerialPort* slot_for(std::int32_t port, std::int32_t* result);

// As slot_for, and also refuses a closed slot with SERIAL_NOT_OPEN.
SerialPort* open_slot_for(std::int32_t port, std::int32_t* result);

// Clears TIOCEXCL and closes fd; returns close's result. A pseudo-terminal
// outlives our descriptor while its master is open, and would otherwise
// stay barred to everyone but root.
int release(int fd);

} // namespace serial_detail
