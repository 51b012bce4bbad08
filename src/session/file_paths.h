// Paths of the files the session looks at, and of the directory it runs in,
// as the user is shown them.
#pragma once

#include <optional>
#include <string>

// Printed when the current directory cannot be fetched (it was removed).
inline constexpr const char* UNKNOWN_DIRECTORY = "(unknown directory)";

// The current directory in full, however long; nothing when it cannot be
// fetched (it was removed).
std::optional<std::string> fetch_current_directory();

// The same, with UNKNOWN_DIRECTORY standing for one that cannot be fetched.
std::string current_directory();

// The path as it is when it starts with '/', else the current directory,
// a '/' and the path; the current directory for an empty path. Nothing is resolved: the user sees
// what was opened.
std::string absolute_path(const std::string& path);

// `name` inside `directory`: the name alone when the directory is empty,
// else the two joined by one '/'.
std::string joined_path(const std::string& directory, const std::string& name);

// A path cut at its last '/': what is before it ("/" for "/x", "" when
// there is no '/') and the name after it.
struct PathParts {
    std::string directory;
    std::string base;
};
PathParts split_path(const std::string& path);
