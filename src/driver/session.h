// One run: open the port, start the program on the device, serve the
// device until it ends the session.
#pragma once

#include "command_line.h"

// Returns the exit status: 0 when the device ended the session with "O";
// 1 after an error report, when the port text names no port, when the
// port is in use or cannot be opened, or when the line is lost. Every failure has printed one line
// on standard error.
int run_session(const CommandLine& command_line);
