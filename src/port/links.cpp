#include "links.h"

#include <climits>
#include <cstdlib>

std::string resolved_path(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? buffer : "";
}
