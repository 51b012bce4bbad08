// The kernel's console: the ttys it writes its messages to, and where a
// login prompt often reads. A device on such a line gets the kernel's text
// as commands, and the prompt eats the device's bytes.
#pragma once

#include <string>
#include <sys/types.h>

// Whether the console writes to the tty named `name` as class/tty names it
// ("ttyS0"): one of the names in <sysfs_root()>/class/tty/console/active.
// Reads sysfs only; no console known, none is.
bool is_console_name(const std::string& name);

// Whether the character device numbered `device` is one of those ttys, by
// the numbers class/tty/<name>/dev gives each of them.
bool is_console_device(dev_t device);
