#include "links.h"

#include <climits>
#include <cstdlib>

std::optional<std::string> resolved_path(const std::string& path) {
    char buffer[PATH_MAX];
    if (realpath(path.c_str(), buffer) == nullptr) {
        return std::nullopt;
    }
    return std::string(buffer);
}
