// Serving the device for one run, on a port that is open.
#pragma once

#include "device_link.h"
#include "device_text.h"

// Sends the start sequence (start_byte 'C', or 'T' to trace), then serves
// the device's commands until it ends the session, waiting for it as
// `patience` allows. Returns the exit status: 0 when the device ended with
// "O", 1 after its error report. Throws LinkLost when the line fails or the
// device stays silent past the time-out; the port stays open for the caller
// to release either way.
int serve_device(int port, char start_byte, const DeviceText& program_name,
                 const Patience& patience);
