// The forms the device's error report can take: the plain line of old, and
// the forms editors and CI read to point at a file and a line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

enum class ErrorFormat { plain, gnu, github };

// The format with this name ("plain", "gnu", "github", exactly); nullopt
// for any other text.
std::optional<ErrorFormat> error_format_named(const std::string& name);

// The path as editors are to show it: from `directory` (the current one)
// when it lies under it, else absolute, both without "." and ".." steps.
// Given as it is when the directory is not known; "" stays "".
std::string path_for_editors(const std::string& path, const std::optional<std::string>& directory);

// The report's line, ended by a newline, in format gnu or github:
//   gnu     PATH:LINE: error: MESSAGE, PATH: error: MESSAGE without a line,
//           lorvrc: error: MESSAGE without a path;
//   github  ::error file=PATH,line=LINE::MESSAGE, the properties that are
//           there, with the workflow command format's escapes: "%", CR
//           and LF everywhere, "," and ":" in the path too.
// gnu writes each CR and LF of the message as a blank, so that the report
// stays one line. An empty path means that no file was requested. The
// message is otherwise kept byte for byte.
std::string error_line(ErrorFormat format, const std::string& path,
                       std::optional<std::uint64_t> line, const std::string& message);
