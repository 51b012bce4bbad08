// Taking the port for a run and giving it back, and every message for a
// port we cannot have.
#pragma once

#include <optional>

#include "failure.h"
#include "port_choice.h"

// Takes the port: refuses it when another program holds it by a lock
// file, leaves our own lock files, then opens the line (38400 baud 8N1,
// one-second read time-out; the serial module adds flock and TIOCEXCL).
// Fails with a message that names the device file, the reason and, where
// there is one, the fix; nothing is then held and no lock file of ours is
// left.
std::optional<Failure> take_port(const PortChoice& port);

// Gives the port back: TIOCEXCL cleared and the line closed (by the serial
// module), our lock files removed. Safe in a signal handler, so that a run
// ended by a signal leaves the port as free as one the device ended.
void release_port(const PortChoice& port);
