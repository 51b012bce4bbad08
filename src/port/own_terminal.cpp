#include "own_terminal.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// Linux gives these fixed numbers: /dev/tty 5:0, /dev/console 5:1, the
// virtual consoles /dev/tty0 to /dev/tty63 4:0 to 4:63.
constexpr unsigned TTYAUX_MAJOR = 5;
constexpr unsigned VIRTUAL_CONSOLE_MAJOR = 4;
constexpr unsigned VIRTUAL_CONSOLES = 64;

bool is_fixed_terminal(dev_t device) {
    return (major(device) == TTYAUX_MAJOR && minor(device) <= 1) ||
           (major(device) == VIRTUAL_CONSOLE_MAJOR && minor(device) < VIRTUAL_CONSOLES);
}

bool is_standard_terminal(dev_t device) {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        struct stat standard {};
        if (isatty(fd) && fstat(fd, &standard) == 0 && S_ISCHR(standard.st_mode) &&
            standard.st_rdev == device) {
            return true;
        }
    }
    return false;
}

// The terminal behind /dev/tty, which may be none of the three standard
// descriptors' (`lorvrc prog /dev/pts/3 </dev/null >log 2>&1` typed on
// /dev/pts/3). TIOCGDEV names the real device.
bool is_controlling_terminal(dev_t device) {
    const int fd = open("/dev/tty", O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return false; // no controlling terminal
    }
    unsigned int real = 0;
    const bool known = ioctl(fd, TIOCGDEV, &real) == 0;
    close(fd);
    return known && static_cast<dev_t>(real) == device;
}

} // namespace

bool is_own_terminal(const struct stat& device) {
    return S_ISCHR(device.st_mode) &&
           (is_fixed_terminal(device.st_rdev) || is_standard_terminal(device.st_rdev) ||
            is_controlling_terminal(device.st_rdev));
}
