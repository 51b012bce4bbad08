// The one way the port code resolves links: a stable name under
// /dev/serial, a link made by hand, a sysfs entry.
#pragma once

#include <optional>
#include <string>

// The path with every link resolved and made absolute; nothing when it
// does not resolve (no such file, or a link that leads nowhere).
std::optional<std::string> resolved_path(const std::string& path);
