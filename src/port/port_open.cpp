#include "port_open.h"

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <sys/stat.h>

#include "links.h"
#include "port_lock.h"
#include "serial.h"

namespace {

// 38400 baud 8N1, and a one-second read time-out so a silent device costs
// one wake-up a second.
constexpr std::int32_t BAUD = 38400;
constexpr std::uint8_t READ_TIMEOUT_TENTHS = 10;

Refusal in_use(const std::string& path, const std::string& detail) {
    return {{path + " is in use by another program" + detail}, "to be free" + detail};
}

// A lock directory anyone may write can hold anything at the lock name:
// what we cannot read is no holder we could see leave, so it is not waited on.
Refusal held_by_lock(const std::string& path, const LockHolder& holder) {
    if (!holder.readable) {
        return {{path + " is in use: " + holder.lock_file + " is not a lock file lorvrc can read"},
                ""};
    }
    return in_use(path, " (process " + std::to_string(holder.pid) + " holds the lock file " +
                            holder.lock_file + ")");
}

bool is_ttyS(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string target = resolved_path(path);
    return name.starts_with("ttyS") || target.substr(target.rfind('/') + 1).starts_with("ttyS");
}

// The group whose members may open the device, when joining it is the fix.
std::string group_fix(const std::string& path) {
    struct stat device {};
    if (stat(path.c_str(), &device) != 0 || device.st_gid == 0 ||
        (device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return "";
    }
    const group* owner = getgrgid(device.st_gid);
    if (owner == nullptr) {
        return "";
    }
    const std::string name = owner->gr_name;
    return " (the port belongs to the group " + name + ": sudo usermod -aG " + name +
           " $USER, then log in again)";
}

// What to do about a failed open, for the errors that have a fix.
std::string fix_for(const std::string& path, int error) {
    switch (error) {
    case EACCES: return group_fix(path);
    case ENOENT: return " (lorvrc --list shows the ports there are)";
    case EIO:
        // A ttyS port with no UART behind it fails so at open.
        return is_ttyS(path)
                   ? " (no serial hardware answers at this port; lorvrc --list shows the ports "
                     "that have some)"
                   : "";
    default: return "";
    }
}

} // namespace

std::optional<Refusal> take_port(const PortChoice& port, const BoardLines& lines) {
    const LockHolder holder = lock_port(port.path);
    if (holder.holds()) {
        return held_by_lock(port.path, holder);
    }
    const std::int32_t result =
        serial_open_device(port.slot, port.path, 8, PARITY_NONE, 1, BAUD, READ_TIMEOUT_TENTHS);
    if (result == SERIAL_OK) {
        std::optional<Failure> failure = set_board_lines(port, lines);
        if (failure) {
            release_port(port);
            return Refusal{*failure, ""};
        }
        return std::nullopt;
    }
    const int error = errno;
    unlock_port();
    // EWOULDBLOCK: another program's flock; EBUSY: its TIOCEXCL.
    if (error == EWOULDBLOCK || error == EBUSY) {
        return in_use(port.path, "");
    }
    return Refusal{
        {"cannot open " + port.path + ": " + std::strerror(error) + fix_for(port.path, error)},
        error == ENOENT ? "to appear" : ""};
}

void release_port(const PortChoice& port) {
    serial_close(port.slot);
    unlock_port();
}
