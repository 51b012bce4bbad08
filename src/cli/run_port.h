// The port held for the run, and given back at every end: the device's,
// a failure's, and a signal's. SIGINT, SIGTERM and SIGHUP end a run the
// way the device's end does: the port given back (TIOCEXCL cleared, the
// line closed, our lock files removed), then the process ends by the same
// signal, status 128 + n.
#pragma once

#include <memory>
#include <string>

#include "port_open.h"

// Installed by main for the whole run. A signal that was ignored when we
// started (nohup, background jobs) stays ignored.
void install_signal_endings();

// take_port and release_port with those signals held back meanwhile, so a
// signal finds the port either not taken or taken and known to the
// handler. `port` must outlive the run.
Result<std::unique_ptr<DeviceLine>>
take_port_for_run(const PortChoice& port, const std::string& program_name, const BoardLines& lines);
void release_port_for_run(const PortChoice& port);
