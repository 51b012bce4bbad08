// What a run does to the line for boards that reset when the port opens:
// DTR and RTS set right after the open, HUPCL cleared, and a wait for the
// board's boot with whatever it printed meanwhile discarded.
#pragma once

#include <optional>
#include <string>

#include "device_line.h"
#include "failure.h"
#include "port_choice.h"

struct BoardLines {
    std::optional<bool> dtr; // raised (true) or lowered; nothing: as the open left it
    std::optional<bool> rts;
    bool keep_at_close = false; // clear HUPCL: the close leaves DTR and RTS up
    int boot_wait_ms = 0;
};

// The one warning for a port without modem control lines (a
// pseudo-terminal, raw TCP) asked for --dtr or --rts (at least one): it
// names the port and the options it ignores; the run goes on.
void warn_no_modem_lines(const PortChoice& port, const BoardLines& lines);

// On the open port: clears HUPCL when asked, then sets DTR, then RTS. A port
// with no modem control lines (a pseudo-terminal) gets one warning, naming
// the options it ignores, and the run goes on. Fails on any other refusal,
// naming the port and the reason; the lines already set then stay so, and
// the caller releases the port.
Result<void> set_board_lines(const PortChoice& port, const BoardLines& lines);

// Waits boot_wait_ms, then discards everything the device sent since the
// open, and goes on discarding until the line has been quiet for 100 ms,
// so that a boot banner is never read as commands. A device still sending
// 5 s after the wait gets a warning, and the session starts anyway.
// Returns how many bytes were dropped, as far as the line can count them;
// does nothing for 0 (and returns 0). Fails with line_lost() when the
// line can no longer be flushed (it has hung up).
Result<std::size_t> wait_for_boot(DeviceLine& line, const PortChoice& port,
                                  const BoardLines& lines);
