// Taking the port for a run and giving it back, and every message for a
// port we cannot have.
#pragma once

#include <memory>
#include <string>

#include "board_lines.h"
#include "device_line.h"
#include "failure.h"
#include "port_choice.h"

// Takes the port: refuses our own terminal (see is_own_terminal) and the
// master side of a pseudo-terminal (see is_pty_master), each looked at by
// path before anything is done and by descriptor once opened, nothing on
// it changed; then a port another program holds by a lock file,
// leaves our own lock files, then opens the line (38400 baud 8N1,
// one-second read time-out; the serial module adds flock and TIOCEXCL) and
// sets its modem lines (set_board_lines). A port the kernel's console
// writes to is taken, with a warning before any other. Fails with a message that names
// the port as port.shown, the reason and, where there is one, the fix (see
// open_failure; program_name goes into its example); nothing is then held
// and no lock file of ours is left. The failure's `awaited` says what
// waiting could bring: "to appear" for a device file that is not there,
// "to be free" and who holds it for a port another program holds, "to be
// ready" for one we may not open that appeared (or changed its owner or
// mode) in the last few seconds, as udev has yet to give it its group.
// Returns the line to the device, to be used until release_port.
Result<std::unique_ptr<DeviceLine>>
take_port(const PortChoice& port, const std::string& program_name, const BoardLines& lines);

// Gives the port back: TIOCEXCL cleared and the line closed (by the serial
// module), our lock files removed. Safe in a signal handler, so that a run
// ended by a signal leaves the port as free as one the device ended.
void release_port(const PortChoice& port);
