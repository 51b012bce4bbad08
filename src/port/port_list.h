// lorvrc --list: the serial ports that have hardware behind them.
#pragma once

#include <string>

// One line per port, "<device file>  <driver>  <what is behind it>", with
// "  console" after a port the kernel's console writes to, each followed by an indented line for
// every name under <dev>/serial/by-id and <dev>/serial/by-path whose link resolves to that device
// file; "" when there is no port. Device files are shown under dev_root(). Reads sysfs and those
// links only; opens no port, prints nothing.
std::string port_list();
