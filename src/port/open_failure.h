// The message for a port that could not be opened or set up.
#pragma once

#include <string>

#include "failure.h"
#include "port_choice.h"

// "<shown> is in use by another program<detail>".
Failure in_use(const std::string& shown, const std::string& detail);

// Names the port as port.shown, what failed (errno `error` of the open or
// the set-up) and, where there is one, the fix: in use for EWOULDBLOCK
// (another program's flock) and EBUSY (its TIOCEXCL); not a serial port
// for ENOTTY (/dev/null, a regular file); the group to join for EACCES;
// for a missing device (ENOENT) or a ttyS port with no UART (EIO) the
// ports with hardware here, at most three, and the command line that uses
// the first with `program_name`, or else a pointer to lorvrc --list (the
// kernel's console is never named: when it is the only port, the pointer).
// Reads sysfs, opens nothing.
Failure open_failure(const PortChoice& port, int error, const std::string& program_name);
