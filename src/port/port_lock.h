// Lock files "LCK..<name>", the mark that terminal programs which do not
// use flock (minicom, uucp-era tools) leave in the lock directories while
// they hold a port. We honour theirs and leave our own.
//
// <name> is the device's path with every link resolved, relative to the
// device directory, any further '/' written as '_': /dev/serial/by-id/x
// and /dev/ttyUSB0 are both "LCK..ttyUSB0", /dev/pts/3 is "LCK..pts_3". A
// lock file holds the process id in ten characters and a newline (older
// tools wrote it as four bytes in the machine's own order; both are read).
// Ours is written under a temporary name and linked to the lock name, so
// the name never exists without its pid, and the link fails when another
// program got there first.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>

// Someone who holds a port by a lock file: a live process (`pid`); a
// program still writing its lock file (one that names no process, empty
// or not a pid, and is only seconds old: no pid yet); or something at the
// lock name that is no lock file we can read (a FIFO, a link, a file we
// may not read: not `readable`).
struct LockHolder {
    std::string lock_file;
    std::optional<pid_t> pid;
    bool readable = true;
};

// "LCK..<name>" for a device path whose links are already resolved.
std::string lock_name(const std::string& device);

// Looks for a lock file of the device at `path` in each lock directory
// (one that is a link to another is searched once). When someone holds
// one, returns them and leaves no lock file of ours. Otherwise replaces
// stale ones (their process is gone, or they name none and are older than
// a few seconds), makes ours where a directory is writable (one that is
// not is no error), checks that each is still ours once made (another run
// that found the same stale file may have replaced it) and returns
// nothing. A path that does not resolve (no such device) gets no lock
// file: opening it fails.
std::optional<LockHolder> lock_port(const std::string& path);

// Removes the lock files lock_port() made, each only while it still holds
// our pid (another program may have replaced it since). Does nothing when
// there are none, so it may be called at every end. Safe in a signal
// handler: system calls on storage made at lock time only.
void unlock_port();
