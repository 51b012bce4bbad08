#include "file_paths.h"

#include <cerrno>
#include <unistd.h>
#include <vector>

std::optional<std::string> fetch_current_directory() {
    std::vector<char> buffer(300);
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE) {
            return std::nullopt;
        }
        buffer.resize(buffer.size() * 2);
    }
    return std::string(buffer.data());
}

std::string current_directory() { return fetch_current_directory().value_or(UNKNOWN_DIRECTORY); }

std::string absolute_path(const std::string& path) {
    if (path.empty()) {
        return current_directory();
    }
    return path.starts_with('/') ? path : joined_path(current_directory(), path);
}

std::string joined_path(const std::string& directory, const std::string& name) {
    if (directory.empty()) {
        return name;
    }
    return directory + (directory.ends_with('/') ? "" : "/") + name;
}

PathParts split_path(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return {"", path};
    }
    return {path.substr(0, slash == 0 ? 1 : slash), path.substr(slash + 1)};
}
