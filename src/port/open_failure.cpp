#include "open_failure.h"

#include <cstring>
#include <grp.h>
#include <sys/stat.h>
#include <vector>

#include "host_paths.h"
#include "links.h"
#include "sysfs_ports.h"

namespace {

constexpr std::size_t PORTS_NAMED = 3;

bool is_ttyS(const std::string& path) {
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string target = resolved_path(path).value_or("");
    return name.starts_with("ttyS") || target.substr(target.rfind('/') + 1).starts_with("ttyS");
}

// The group whose members may open the device, when joining it is the fix.
std::string group_fix(const std::string& path) {
    struct stat device {};
    if (stat(path.c_str(), &device) != 0 || device.st_gid == 0 ||
        (device.st_mode & (S_IRGRP | S_IWGRP)) != (S_IRGRP | S_IWGRP)) {
        return "";
    }
    const group* owner = getgrgid(device.st_gid);
    if (owner == nullptr) {
        return "";
    }
    const std::string name = owner->gr_name;
    return " (the port belongs to the group " + name + ": sudo usermod -aG " + name +
           " $USER, then log in again)";
}

// What a user knows the hardware by: the maker and product of an adapter
// (its ids and serial number left out), the UART of a built-in port.
std::string known_as(const SysfsPort& port) {
    std::string words;
    std::string rest = port.hardware + "  ";
    for (std::size_t end = rest.find("  "); end != std::string::npos; end = rest.find("  ")) {
        const std::string field = rest.substr(0, end);
        rest.erase(0, end + 2);
        const bool ids = field.size() == 9 && field[4] == ':';
        if (!field.empty() && !ids && !field.starts_with("serial ")) {
            words += (words.empty() ? "" : " ") + field;
        }
    }
    return words.empty() ? port.driver : words;
}

// The program name as a shell reads it back: quoted unless it is plain.
std::string shell_word(const std::string& text) {
    if (!text.empty() &&
        text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                               "0123456789._/+-") == std::string::npos) {
        return text;
    }
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

// For a port that is not there: the ports that are and how to use one,
// or `otherwise` when there are none.
std::string ports_here(const std::string& program_name, const std::string& otherwise) {
    // Never steer anyone to the console: the kernel and a login prompt
    // share that line.
    std::vector<SysfsPort> ports = find_sysfs_ports();
    std::erase_if(ports, [](const SysfsPort& port) { return port.console; });
    if (ports.empty()) {
        return otherwise;
    }
    std::string named;
    for (std::size_t i = 0; i < ports.size() && i < PORTS_NAMED; ++i) {
        named += dev_root() + "/" + ports[i].name + ", " + known_as(ports[i]) + "; ";
    }
    return "ports with hardware here: " + named + "use " + (ports.size() == 1 ? "it" : "one") +
           " with: lorvrc " + shell_word(program_name) + " " + ports[0].name;
}

std::string fix_for(const std::string& path, int error, const std::string& program_name) {
    switch (error) {
    case EACCES: return group_fix(path);
    case ENOENT:
        return " (" + ports_here(program_name, "lorvrc --list shows the ports there are") + ")";
    case EIO:
        // A ttyS port with no UART behind it fails so at open.
        return is_ttyS(path)
                   ? " (no serial hardware answers at this port; " +
                         ports_here(program_name, "lorvrc --list shows the ports that have some") +
                         ")"
                   : "";
    default: return "";
    }
}

} // namespace

Failure in_use(const std::string& shown, const std::string& detail) {
    return {shown + " is in use by another program" + detail};
}

Failure open_failure(const PortChoice& port, int error, const std::string& program_name) {
    switch (error) {
    case EWOULDBLOCK:
    case EBUSY: return in_use(port.shown, "");
    case ENOTTY: return {port.shown + " is not a serial port"};
    default:
        return {"cannot open " + port.shown + ": " + std::strerror(error) +
                fix_for(port.path, error, program_name)};
    }
}
