#include "pty_master.h"

#include <sys/sysmacros.h>

namespace {

constexpr unsigned TTYAUX_MAJOR = 5;
constexpr unsigned PTMX_MINOR = 2;
constexpr unsigned BSD_PTY_MASTER_MAJOR = 2;

} // namespace

bool is_pty_master(const struct stat& device) {
    return S_ISCHR(device.st_mode) &&
           ((major(device.st_rdev) == TTYAUX_MAJOR && minor(device.st_rdev) == PTMX_MINOR) ||
            major(device.st_rdev) == BSD_PTY_MASTER_MAJOR);
}
