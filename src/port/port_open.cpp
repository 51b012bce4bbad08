#include "port_open.h"

#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "console.h"
#include "open_failure.h"
#include "own_terminal.h"
#include "port_lock.h"
#include "pty_master.h"
#include "serial.h"
#include "serial_line.h"
#include "user_output.h"

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
    const std::string detail = holder.pid
                                   ? " (process " + std::to_string(*holder.pid) +
                                         " holds the lock file " + holder.lock_file + ")"
                                   : " (its lock file " + holder.lock_file + " is being written)";
    return {in_use(shown, detail).message, "to be free" + detail};
}

// A device a run must not use as its port, though it is a terminal.
enum class Unfit { no, own_terminal, pty_master };

Unfit unfit(const struct stat& device) {
    return is_own_terminal(device) ? Unfit::own_terminal
           : is_pty_master(device) ? Unfit::pty_master
                                   : Unfit::no;
}

Failure unfit_failure(const PortChoice& port, Unfit why) {
    if (why == Unfit::own_terminal) {
        return {port.shown + " is your own terminal, not a serial port"};
    }
    return {port.shown + " is the master side of a pseudo-terminal, not a serial port; give its "
                         "other side, /dev/pts/N"};
}

// Opens the device as the serial module would, unless it turns out unfit
// (a link swapped since we looked at the path): the line is then closed
// untouched. -1 with errno set otherwise; `opened` is the device's stat.
int open_if_fit(const PortChoice& port, Unfit& why, struct stat& opened) {
    const int fd = open(port.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    why = Unfit::no;
    if (fd >= 0 && fstat(fd, &opened) == 0) {
        why = unfit(opened);
    }
    if (why != Unfit::no) {
        close(fd);
        return -1;
    }
    return fd;
}

// A device node appears as root's alone and gets its group and mode a
// moment later, when udev has run; each change moves its ctime.
constexpr long JUST_APPEARED_SECONDS = 5;

bool just_appeared(const std::string& path) {
    struct stat node {};
    timespec now{};
    return stat(path.c_str(), &node) == 0 && clock_gettime(CLOCK_REALTIME, &now) == 0 &&
           now.tv_sec - node.st_ctim.tv_sec < JUST_APPEARED_SECONDS;
}

// What waiting could bring for an open that failed with `error`.
std::string awaited_after(const PortChoice& port, int error) {
    switch (error) {
    case EWOULDBLOCK:                // another program's flock
    case EBUSY: return "to be free"; // its TIOCEXCL
    case ENOENT: return "to appear";
    case EACCES:
        return just_appeared(port.path)
                   ? "to be ready (it has just appeared; its permissions are not set yet)"
                   : "";
    default: return "";
    }
}

// Some boards share their only UART with the console: the run goes on.
void warn_if_console(const PortChoice& port, const struct stat& opened) {
    if (is_console_device(opened.st_rdev)) {
        tell_user(port.path +
                  " is the kernel's console; its messages and a login prompt there will disturb "
                  "the device");
    }
}

} // namespace

Result<std::unique_ptr<DeviceLine>>
take_port(const PortChoice& port, const std::string& program_name, const BoardLines& lines) {
    // Before any lock file, flock or setting: our own terminal stays as it
    // was, and no pseudo-terminal is made by opening /dev/ptmx.
    struct stat named {};
    if (stat(port.path.c_str(), &named) == 0 && unfit(named) != Unfit::no) {
        return unfit_failure(port, unfit(named));
    }
    if (const std::optional<LockHolder> holder = lock_port(port.path)) {
        return held_by_lock(port.shown, *holder);
    }
    Unfit why = Unfit::no;
    struct stat opened {};
    const int fd = open_if_fit(port, why, opened);
    const std::int32_t result = fd < 0 ? SERIAL_IO_ERROR
                                       : serial_open_descriptor(port.slot, fd, 8, PARITY_NONE, 1,
                                                                BAUD, READ_TIMEOUT_TENTHS);
    if (result == SERIAL_OK) {
        warn_if_console(port, opened);
        const Result<void> set = set_board_lines(port, lines);
        if (!set) {
            release_port(port);
            return set.failure();
        }
        return std::unique_ptr<DeviceLine>(std::make_unique<SerialLine>(port.slot));
    }
    const int error = errno;
    unlock_port();
    if (why != Unfit::no) {
        return unfit_failure(port, why);
    }
    Failure failure = open_failure(port, error, program_name);
    failure.awaited = awaited_after(port, error);
    return failure;
}

void release_port(const PortChoice& port) {
    serial_close(port.slot);
    unlock_port();
}
