// Whether a device file is the master side of a pseudo-terminal. Opening
// /dev/ptmx makes a new pseudo-terminal whose other side nobody holds: a
// run on it would send the start sequence into nothing and wait for ever.
#pragma once

#include <sys/stat.h>

// By device numbers (a stat or fstat of the port): the multiplexer
// /dev/ptmx (5:2), whose every open is a master of its own, and the old
// BSD-style masters /dev/ptyXX (major 2), under any name, also another
// name for an open master (/proc/<pid>/fd/<n>).
bool is_pty_master(const struct stat& device);
