#include "port_open.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "open_failure.h"
#include "own_terminal.h"
#include "port_lock.h"
#include "serial.h"
#include "serial_line.h"

namespace {

// 38400 baud 8N1, and a one-second read time-out so a silent device costs
// one wake-up a second.
constexpr std::int32_t BAUD = 38400;
constexpr std::uint8_t READ_TIMEOUT_TENTHS = 10;

// A lock directory anyone may write can hold anything at the lock name:
// what we cannot read is no holder we could see leave, so it is not waited on.
Failure held_by_lock(const std::string& shown, const LockHolder& holder) {
    if (!holder.readable) {
        return {shown + " is in use: " + holder.lock_file + " is not a lock file lorvrc can read"};
    }
    const std::string detail = " (process " + std::to_string(holder.pid) + " holds the lock file " +
                               holder.lock_file + ")";
    return {in_use(shown, detail).message, "to be free" + detail};
}

Failure own_terminal(const PortChoice& port) {
    return {port.shown + " is your own terminal, not a serial port"};
}

// Opens the device as the serial module would, unless it turns out to be
// our own terminal (a link swapped since we looked at the path): the
// line is then closed untouched. -1 with errno set otherwise.
int open_unless_own_terminal(const PortChoice& port, bool& own) {
    const int fd = open(port.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    struct stat opened {};
    own = fd >= 0 && fstat(fd, &opened) == 0 && is_own_terminal(opened);
    if (own) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

Result<std::unique_ptr<DeviceLine>>
take_port(const PortChoice& port, const std::string& program_name, const BoardLines& lines) {
    // Before any lock file, flock or setting: our own terminal stays as it was.
    struct stat named {};
    if (stat(port.path.c_str(), &named) == 0 && is_own_terminal(named)) {
        return own_terminal(port);
    }
    const LockHolder holder = lock_port(port.path);
    if (holder.holds()) {
        return held_by_lock(port.shown, holder);
    }
    bool own = false;
    const int fd = open_unless_own_terminal(port, own);
    const std::int32_t result = fd < 0 ? SERIAL_IO_ERROR
                                       : serial_open_descriptor(port.slot, fd, 8, PARITY_NONE, 1,
                                                                BAUD, READ_TIMEOUT_TENTHS);
    if (result == SERIAL_OK) {
        const Result<void> set = set_board_lines(port, lines);
        if (!set) {
            release_port(port);
            return set.failure();
        }
        return std::unique_ptr<DeviceLine>(std::make_unique<SerialLine>(port.slot));
    }
    const int error = errno;
    unlock_port();
    if (own) {
        return own_terminal(port);
    }
    // EWOULDBLOCK: another program's flock; EBUSY: its TIOCEXCL.
    const bool held = error == EWOULDBLOCK || error == EBUSY;
    Failure failure = open_failure(port, error, program_name);
    failure.awaited = held ? "to be free" : error == ENOENT ? "to appear" : "";
    return failure;
}

void release_port(const PortChoice& port) {
    serial_close(port.slot);
    unlock_port();
}
