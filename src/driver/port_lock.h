// Lock files "LCK..<name>", the mark that terminal programs which do not
// use flock (minicom, uucp-era tools) leave in the lock directories while
// they hold a port. We honour theirs and leave our own.
//
// <name> is the device's path with every link resolved, relative to the
// device directory, any further '/' written as '_': /dev/serial/by-id/x
// and /dev/ttyUSB0 are both "LCK..ttyUSB0", /dev/pts/3 is "LCK..pts_3". A
// lock file holds the process id in ten characters and a newline.
#pragma once

#include <string>
#include <sys/types.h>

// The path with every link resolved; empty when it does not resolve (no
// such file).
std::string resolved_path(const std::string& path);

// Who holds a port by a lock file: pid 0 when no live process does.
struct LockHolder {
    pid_t pid = 0;
    std::string lock_file;
};

// Looks for a lock file of the device at `path` in each lock directory
// (one that is a link to another is searched once). When a live process
// holds one, returns it and leaves no lock file of ours. Otherwise replaces
// stale ones (their process is gone), creates ours where a directory is
// writable (one that is not is no error) and returns pid 0; ours are then
// removed by unlock_port(), or, on SIGINT, SIGTERM and SIGHUP, by a
// handler that removes them and ends the process by the same signal (a
// signal that was ignored when we started stays ignored). A path that
// does not resolve (no such device) gets no lock file: opening it fails.
LockHolder lock_port(const std::string& path);

// Removes the lock files lock_port() created; does nothing when there are
// none, so it may be called at every end.
void unlock_port();
