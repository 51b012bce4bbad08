#include "file_lookup.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "file_paths.h"

namespace {

FileStamp stamp_of(const struct stat& info) {
    return {static_cast<std::uint64_t>(info.st_size), info.st_mtim};
}

// What trying one path gave.
enum class Seen { missing, not_regular, unknown, unreadable, opened };

struct Attempt {
    Seen seen = Seen::missing;
    int fd = -1;
    FileStamp stamp;
    int error = 0;
};

// Opens `path` when it is a regular file or a link to one. A FIFO, a
// device or a directory could block the open, never end, or hold no text:
// the path is looked at before the open so that no device is even opened,
// and the open file again so that nothing swapped in between is read.
Attempt try_open(const std::string& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) {
        const bool missing = errno == ENOENT || errno == ENOTDIR;
        return {missing ? Seen::missing : Seen::unknown, -1, {}, errno};
    }
    if (!S_ISREG(info.st_mode)) {
        return {Seen::not_regular, -1, {}, 0};
    }
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return {Seen::unreadable, -1, {}, errno};
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return {Seen::not_regular, -1, {}, 0};
    }
    return {Seen::opened, fd, stamp_of(info)};
}

std::string cannot_open(const std::string& path, int error) {
    return "cannot open " + absolute_path(path) + ": " + std::strerror(error);
}

// Why the attempt sent nothing, for the user.
std::string reason(const std::string& name, const std::string& path, const Attempt& attempt) {
    if (attempt.seen == Seen::not_regular) {
        return (path == name ? "" : absolute_path(path) + " is ") + "not a regular file";
    }
    return attempt.seen == Seen::missing ? "" : cannot_open(path, attempt.error);
}

char ascii_lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool same_apart_from_case(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return ascii_lower(x) == ascii_lower(y);
           });
}

// The names in `directory` ("" is the current one) of the regular files
// whose names differ from `base` only in ASCII case, in byte order. Only
// that directory is listed; opendir() opens nothing but a directory.
std::vector<std::string> case_matches(const std::string& directory, const std::string& base) {
    std::vector<std::string> found;
    DIR* listing = opendir(directory.empty() ? "." : directory.c_str());
    if (listing == nullptr) {
        return found;
    }
    for (const dirent* entry = readdir(listing); entry != nullptr; entry = readdir(listing)) {
        const std::string entry_name = entry->d_name;
        struct stat info {};
        if (entry_name != base && same_apart_from_case(entry_name, base) &&
            stat(joined_path(directory, entry_name).c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            found.push_back(entry_name);
        }
    }
    closedir(listing);
    std::sort(found.begin(), found.end());
    return found;
}

// The matches as the name would be written: "a and b", "a, b and c".
std::string ambiguous(const std::string& name, const std::string& place,
                      const std::vector<std::string>& matches) {
    const std::string directory = split_path(name).directory;
    std::string listed;
    for (std::size_t i = 0; i < matches.size(); ++i) {
        listed += i == 0 ? "" : i + 1 == matches.size() ? " and " : ", ";
        listed += joined_path(directory, matches[i]);
    }
    return "not found; " + listed + (place.empty() ? "" : " in " + absolute_path(place)) +
           " differ from it only in case, so " +
           (matches.size() == 2 ? "neither was sent" : "none was sent");
}

std::string not_found(const std::string& name, const std::vector<std::string>& places) {
    if (name.starts_with('/')) {
        return "not found";
    }
    std::string text = "not found in ";
    for (std::size_t i = 0; i < places.size(); ++i) {
        text += i == 0 ? "" : ", ";
        text += absolute_path(places[i]);
    }
    return text;
}

Lookup sent(const std::string& path, const Attempt& attempt) {
    return {FoundFile(attempt.fd, path, attempt.stamp), ""};
}

// The case rule in one place: a file, a refusal, or nothing (no match).
std::optional<Lookup> by_case(const std::string& name, const std::string& place) {
    const PathParts parts = split_path(joined_path(place, name));
    const std::vector<std::string> matches = case_matches(parts.directory, parts.base);
    if (matches.size() > 1) {
        return Lookup{FoundFile(), ambiguous(name, place, matches), true};
    }
    if (matches.empty()) {
        return std::nullopt;
    }
    const std::string path = joined_path(parts.directory, matches.front());
    const Attempt attempt = try_open(path);
    if (attempt.seen == Seen::opened) {
        return sent(path, attempt);
    }
    return Lookup{FoundFile(), reason(name, path, attempt)};
}

} // namespace

FoundFile::FoundFile(int fd, std::string path, const FileStamp& stamp)
    : fd_(fd), path_(std::move(path)), stamp_(stamp) {}

FoundFile::~FoundFile() {
    if (fd_ >= 0) {
        close(fd_);
    }
}

FoundFile::FoundFile(FoundFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), path_(std::move(other.path_)), stamp_(other.stamp_) {}

bool FoundFile::changed() const {
    struct stat info {};
    if (fstat(fd_, &info) != 0) {
        return true;
    }
    const FileStamp now = stamp_of(info);
    return now.size != stamp_.size || now.modified.tv_sec != stamp_.modified.tv_sec ||
           now.modified.tv_nsec != stamp_.modified.tv_nsec;
}

Lookup look_up_file(const std::string& name, const std::vector<std::string>& search_dirs) {
    std::vector<std::string> places = {""};
    if (!name.starts_with('/')) {
        places.insert(places.end(), search_dirs.begin(), search_dirs.end());
    }
    std::string why;
    for (const std::string& place : places) {
        const std::string path = joined_path(place, name);
        const Attempt attempt = try_open(path);
        if (attempt.seen == Seen::opened) {
            return sent(path, attempt);
        }
        if (attempt.seen == Seen::unreadable) {
            return {FoundFile(), reason(name, path, attempt)};
        }
        why = why.empty() ? reason(name, path, attempt) : why;
    }
    for (const std::string& place : places) {
        if (std::optional<Lookup> found = by_case(name, place)) {
            return std::move(*found);
        }
    }
    return {FoundFile(), why.empty() ? not_found(name, places) : why};
}
