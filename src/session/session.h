// Serving the device for one run, on a port that is open.
#pragma once

#include "device_link.h"
#include "device_text.h"
#include "error_format.h"
#include "file_serving.h"

// How the session serves the device, as the user set it.
struct SessionSettings {
    FileServing files;                             // where requested files are looked for; -v
    ErrorFormat error_format = ErrorFormat::plain; // how the device's error report is printed
    Patience patience;                             // how long a silent device is waited for
};

// Sends the start sequence (start_byte 'C', or 'T' to trace), then serves
// the device's commands until it ends the session, as `settings` say.
// Returns the exit status: 0 when the device ended with "O", 1 after its
// error report. Throws LinkLost when the line fails or the device stays
// silent past the time-out; the port stays open for the caller to release
// either way.
int serve_device(DeviceLine& line, char start_byte, const DeviceText& program_name,
                 const SessionSettings& settings);
