#include "sysfs_ports.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <tuple>

#include "console.h"
#include "host_paths.h"
#include "links.h"

namespace fs = std::filesystem;

namespace {

// The first line of a sysfs attribute; nothing when the device has no
// such attribute or it cannot be read.
std::optional<std::string> read_attribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || (!std::getline(in, line) && !in.eof())) {
        return std::nullopt;
    }
    return line;
}

// The names the kernel's serial core gives its UART types (the numbers of
// <linux/serial.h>; 0, no UART, is never listed). Types not named here
// show as their number.
std::string uart_name(const std::string& type) {
    static const char* const NAMES[] = {
        "unknown", "8250",     "16450",  "16550", "16550A", "Cirrus", "16650",    "16650V2",
        "16750",   "Startech", "16C950", "16654", "16850",  "RSA",    "NS16550A", "XScale"};
    unsigned number = 0;
    const char* const end = type.data() + type.size();
    const auto [stop, error] = std::from_chars(type.data(), end, number);
    if (error == std::errc() && stop == end && number < std::size(NAMES)) {
        return NAMES[number];
    }
    return "UART type " + type;
}

// Ids, maker, product and serial number of the USB device above `device`
// (two levels up for usb-serial adapters, one for ACM); empty for a device
// that is not on USB. The walk stops at the root of sysfs.
std::string usb_details(const fs::path& device) {
    const fs::path top = resolved_path(sysfs_root()).value_or("/");
    for (fs::path dir = device.parent_path(); dir != top && dir.has_relative_path();
         dir = dir.parent_path()) {
        const std::optional<std::string> vendor = read_attribute(dir / "idVendor");
        if (!vendor) {
            continue;
        }
        const auto field = [&](const char* name) {
            return read_attribute(dir / name).value_or("");
        };
        std::string details = *vendor + ":" + field("idProduct");
        std::string name = field("manufacturer");
        const std::string product = field("product");
        name += name.empty() || product.empty() ? product : " " + product;
        if (!name.empty()) {
            details += "  " + name;
        }
        const std::string serial = field("serial");
        if (!serial.empty()) {
            details += "  serial " + serial;
        }
        return details;
    }
    return "";
}

// The port behind one entry of class/tty, if it has hardware.
bool describe(const fs::path& tty, SysfsPort& port) {
    const std::optional<std::string> device = resolved_path(tty / "device");
    if (!device) {
        return false; // virtual: consoles, pseudo-terminals
    }
    port.name = tty.filename().string();
    std::error_code error;
    port.driver = fs::read_symlink(fs::path(*device) / "driver", error).filename().string();
    // Only the serial core's UARTs have a type; 0 is a port where nothing answers.
    const std::optional<std::string> type = read_attribute(tty / "type");
    if (type == "0") {
        return false;
    }
    port.hardware = type ? uart_name(*type) : usb_details(*device);
    port.console = is_console_name(port.name);
    return true;
}

// Tty names are a stem and a number ("ttyS", "10"): by stem, then by the
// number's value, so ttyS2 comes before ttyS10.
bool natural_less(const std::string& a, const std::string& b) {
    const auto split = [](const std::string& name) {
        const std::size_t stem = name.find_last_not_of("0123456789") + 1;
        std::size_t digits = name.find_first_not_of('0', stem);
        digits = digits == std::string::npos ? name.size() : digits;
        return std::make_tuple(name.substr(0, stem), name.size() - digits, name.substr(digits));
    };
    return split(a) < split(b);
}

} // namespace

std::vector<SysfsPort> find_sysfs_ports() {
    std::vector<SysfsPort> ports;
    std::error_code error;
    for (fs::directory_iterator entry(fs::path(sysfs_root()) / "class" / "tty", error), end;
         !error && entry != end; entry.increment(error)) {
        SysfsPort port;
        if (describe(entry->path(), port)) {
            ports.push_back(port);
        }
    }
    std::sort(ports.begin(), ports.end(),
              [](const SysfsPort& a, const SysfsPort& b) { return natural_less(a.name, b.name); });
    return ports;
}
