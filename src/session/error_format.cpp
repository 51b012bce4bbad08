#include "error_format.h"

#include <algorithm>
#include <filesystem>

namespace {

std::string escaped(const std::string& text, bool property) {
    std::string out;
    for (const char c : text) {
        switch (c) {
        case '%': out += "%25"; break;
        case '\r': out += "%0D"; break;
        case '\n': out += "%0A"; break;
        case ':': out += property ? "%3A" : ":"; break;
        case ',': out += property ? "%2C" : ","; break;
        default: out += c;
        }
    }
    return out;
}

std::string gnu_line(const std::string& path, std::optional<std::uint64_t> line,
                     std::string message) {
    // One report, one line: editors read up to the first line end.
    std::replace_if(
        message.begin(), message.end(), [](char c) { return c == '\r' || c == '\n'; }, ' ');
    if (path.empty()) {
        return "lorvrc: error: " + message + "\n";
    }
    return path + (line ? ":" + std::to_string(*line) : "") + ": error: " + message + "\n";
}

std::string github_line(const std::string& path, std::optional<std::uint64_t> line,
                        const std::string& message) {
    std::string properties;
    if (!path.empty()) {
        properties =
            " file=" + escaped(path, true) + (line ? ",line=" + std::to_string(*line) : "");
    }
    return "::error" + properties + "::" + escaped(message, false) + "\n";
}

} // namespace

std::optional<ErrorFormat> error_format_named(const std::string& name) {
    if (name == "plain") {
        return ErrorFormat::plain;
    }
    if (name == "gnu") {
        return ErrorFormat::gnu;
    }
    if (name == "github") {
        return ErrorFormat::github;
    }
    return std::nullopt;
}

std::string path_for_editors(const std::string& path, const std::optional<std::string>& directory) {
    if (path.empty() || !directory) {
        return path;
    }
    namespace fs = std::filesystem;
    // An absolute path replaces the directory it is appended to.
    const fs::path full = (fs::path(*directory) / path).lexically_normal();
    const fs::path relative = full.lexically_relative(fs::path(*directory).lexically_normal());
    if (!relative.empty() && *relative.begin() != "..") {
        return relative.string();
    }
    return full.string();
}

std::string error_line(ErrorFormat format, const std::string& path,
                       std::optional<std::uint64_t> line, const std::string& message) {
    return format == ErrorFormat::github ? github_line(path, line, message)
                                         : gnu_line(path, line, message);
}
