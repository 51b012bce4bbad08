#include "console.h"

#include <fstream>
#include <sys/sysmacros.h>
#include <vector>

#include "host_paths.h"

namespace {

std::string class_tty(const std::string& entry) { return sysfs_root() + "/class/tty/" + entry; }

std::vector<std::string> console_names() {
    std::ifstream active(class_tty("console/active"));
    std::vector<std::string> names;
    for (std::string name; active >> name;) {
        names.push_back(name);
    }
    return names;
}

} // namespace

bool is_console_name(const std::string& name) {
    for (const std::string& console : console_names()) {
        if (console == name) {
            return true;
        }
    }
    return false;
}

bool is_console_device(dev_t device) {
    for (const std::string& name : console_names()) {
        unsigned int major_number = 0;
        unsigned int minor_number = 0;
        char colon = 0;
        std::ifstream numbers(class_tty(name + "/dev"));
        if (numbers >> major_number >> colon >> minor_number && colon == ':' &&
            makedev(major_number, minor_number) == device) {
            return true;
        }
    }
    return false;
}
