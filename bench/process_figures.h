// Figures of a running process that the benchmarks watch: a "<field>:"
// line of /proc/<pid>/status in KiB (e.g. "VmRSS", "VmHWM") and the number
// of descriptors it has open; -1 when they cannot be read.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <sys/types.h>

inline long status_kib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.starts_with(field + ":")) {
            return std::stol(line.substr(field.size() + 1));
        }
    }
    return -1;
}

inline int open_descriptors(pid_t pid) {
    std::error_code error;
    const std::filesystem::directory_iterator fds("/proc/" + std::to_string(pid) + "/fd", error);
    return error ? -1 : static_cast<int>(std::distance(begin(fds), end(fds)));
}
