// Taking a network port for a run: what the options mean there.
#pragma once

#include <memory>

#include "board_lines.h"
#include "device_line.h"
#include "failure.h"
#include "port_choice.h"

// Connects to port.network and sets the line up (see open_network_line),
// with DTR and RTS as `lines` asks over RFC 2217. Says once, and goes on,
// when an option cannot apply: --no-hangup (nothing hangs up over the
// network), --dtr and --rts on raw TCP (no modem control lines). Fails as
// open_network_line does, naming the port as port.shown.
Result<std::unique_ptr<DeviceLine>> take_network_port(const PortChoice& port,
                                                      const BoardLines& lines);
