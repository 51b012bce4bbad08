// The serial ports the kernel describes in sysfs: every tty under
// <sysfs_root()>/class/tty that has hardware behind it.
#pragma once

#include <string>
#include <vector>

struct SysfsPort {
    std::string name;     // the tty's name, e.g. "ttyUSB0"; its device file is <dev_root()>/name
    std::string driver;   // name of the driver bound to its device, e.g. "ftdi_sio"; may be empty
    std::string hardware; // what sits behind it, fields two blanks apart: "16550A", or
                          // "0403:6001  FTDI FT232R USB UART  serial A10K3Z5M"; may be empty
    bool console = false; // the kernel's console writes to it (see console.h)
};

// Reads sysfs only; opens no device. A tty without a device link (virtual
// consoles, pseudo-terminals) and a UART port whose type is 0 (nothing
// answers there) are left out. Sorted by name, numbers compared as numbers
// (ttyS2 before ttyS10). An unreadable or missing sysfs gives no ports.
std::vector<SysfsPort> find_sysfs_ports();
