#include "port_list.h"

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "host_paths.h"
#include "links.h"
#include "sysfs_ports.h"

namespace fs = std::filesystem;

namespace {

// A stable name and the device file it leads to.
struct StableName {
    std::string path;
    std::string target;
};

// The links udev keeps under <dev>/serial, by-id before by-path, each in
// name order. The links are resolved, not read for a device name: a name
// says nothing reliable about where it leads.
std::vector<StableName> find_stable_names() {
    std::vector<StableName> names;
    for (const char* kind : {"by-id", "by-path"}) {
        std::vector<StableName> of_kind;
        std::error_code error;
        for (fs::directory_iterator entry(fs::path(dev_root()) / "serial" / kind, error), end;
             !error && entry != end; entry.increment(error)) {
            if (const std::optional<std::string> target = resolved_path(entry->path().string())) {
                of_kind.push_back({entry->path().string(), *target});
            }
        }
        std::sort(of_kind.begin(), of_kind.end(),
                  [](const StableName& a, const StableName& b) { return a.path < b.path; });
        names.insert(names.end(), of_kind.begin(), of_kind.end());
    }
    return names;
}

std::string port_lines(const SysfsPort& port, const std::vector<StableName>& stable_names) {
    const std::string device = dev_root() + "/" + port.name;
    std::string lines = device;
    for (const std::string& field : {port.driver, port.hardware}) {
        if (!field.empty()) {
            lines += "  " + field;
        }
    }
    lines += port.console ? "  console\n" : "\n";
    const std::optional<std::string> target = resolved_path(device);
    for (const StableName& name : stable_names) {
        if (name.target == target) {
            lines += "  " + name.path + '\n';
        }
    }
    return lines;
}

} // namespace

std::string port_list() {
    const std::vector<StableName> stable_names = find_stable_names();
    std::string text;
    for (const SysfsPort& port : find_sysfs_ports()) {
        text += port_lines(port, stable_names);
    }
    return text;
}
