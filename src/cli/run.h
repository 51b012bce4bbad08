// One run from start to end: the only place that knows both the ports and
// the session.
#pragma once

#include "command_line.h"
#include "failure.h"

// Prints the failure as one "lorvrc: " line and returns the exit status 1.
int failed(const Failure& failure);

// Makes the program name ready for the device, chooses the port, takes it,
// serves the device and gives the port back. Returns the exit status: 0
// when the device ended the session with "O"; 1 after its error report, a
// failure before the start, or a lost line, each said on standard error.
int run(const CommandLine& command_line);
