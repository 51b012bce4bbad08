// Whether a device is lorvrc's own terminal: a run must never set it raw
// or write the start sequence into it.
#pragma once

#include <sys/stat.h>

// True when `device` (a stat or fstat of the port) is a character device
// that is the terminal of our standard input, output or error, our
// controlling terminal, /dev/tty, the console or a virtual console
// (/dev/tty0 to /dev/tty63). Decided by device numbers, so a link or
// another name for one of them is caught too. Changes nothing on any
// terminal.
bool is_own_terminal(const struct stat& device);
