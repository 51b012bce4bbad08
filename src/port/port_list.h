// lorvrc --list: the serial ports that have hardware behind them.
#pragma once

// Prints one line per port on standard output, "<device file>  <driver>
// <what is behind it>", with "  console" after a port the kernel's
// console writes to, each followed by an indented line for every name
// under <dev>/serial/by-id and <dev>/serial/by-path whose link resolves to
// that device file. Device files are shown under dev_root(). Reads sysfs
// and those links only; opens no port. With no port at all it says
// "lorvrc: no serial ports found" on standard error. False, with errno
// set, when the list could not be written; the caller words that, as it
// does for the other texts asked for on the command line.
bool list_ports();
