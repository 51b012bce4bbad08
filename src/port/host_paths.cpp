#include "host_paths.h"

#include <sstream>

#ifndef LORVRC_DEV_ROOT
#define LORVRC_DEV_ROOT "/dev"
#endif
#ifndef LORVRC_SYSFS_ROOT
#define LORVRC_SYSFS_ROOT "/sys"
#endif
#ifndef LORVRC_LOCK_DIRS
#define LORVRC_LOCK_DIRS "/run/lock:/var/lock"
#endif

const std::string& dev_root() {
    static const std::string root = LORVRC_DEV_ROOT;
    return root;
}

const std::string& sysfs_root() {
    static const std::string root = LORVRC_SYSFS_ROOT;
    return root;
}

const std::vector<std::string>& lock_dirs() {
    static const std::vector<std::string> dirs = [] {
        std::vector<std::string> found;
        std::istringstream list(LORVRC_LOCK_DIRS);
        for (std::string dir; std::getline(list, dir, ':');) {
            found.push_back(dir);
        }
        return found;
    }();
    return dirs;
}
