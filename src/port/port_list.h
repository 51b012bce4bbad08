// lorvrc --list: the serial ports that have hardware behind them.
#pragma once

#include <optional>

#include "failure.h"

// Prints one line per port on standard output, "<device file>  <driver>
// <what is behind it>", each followed by an indented line for every name
// under <dev>/serial/by-id and <dev>/serial/by-path whose link resolves to
// that device file. Device files are shown under dev_root(). Reads sysfs
// and those links only; opens no port. With no port at all it says
// "lorvrc: no serial ports found" on standard error. Fails when the list
// could not be written.
std::optional<Failure> list_ports();
