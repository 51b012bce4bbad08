// Taking the port for a run, and every message for a port we cannot have.
#pragma once

#include "port_choice.h"

// Takes the port: refuses it when another program holds it by a lock
// file, leaves our own lock files, then opens the line (38400 baud 8N1,
// one-second read time-out; the serial module adds flock and TIOCEXCL).
// On failure prints one line that names the device file, the reason and,
// where there is one, the fix, leaves no lock file and returns false.
bool take_port(const PortChoice& port);

// Closes the port and removes our lock files.
void release_port(const PortChoice& port);
