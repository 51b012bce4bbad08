// lorvrc --list, end to end, against a fake sysfs and /dev in the test
// build's own tree.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "pty_device.h"
#include "tool_process.h"

using namespace testing_support;
namespace fs = std::filesystem;

namespace {

const fs::path SYS = fs::path(test_root()) / "sys";
const fs::path DEV = fs::path(test_root()) / "dev";

void write_file(const fs::path& file, const std::string& text) {
    fs::create_directories(file.parent_path());
    std::ofstream(file) << text << '\n';
}

// Devices share drivers: a link that is there already stays.
void make_link(const fs::path& target, const fs::path& link) {
    fs::create_directories(link.parent_path());
    std::error_code exists;
    fs::create_symlink(target, link, exists);
}

// A tty as the kernel shows it: its class entry, its device under
// sys/devices ("": a virtual tty) with that device's driver, and the UART
// type of a serial-core port ("": not one).
void make_tty(const std::string& name, const std::string& device, const std::string& driver,
              const std::string& type) {
    const fs::path dir = SYS / "devices" / (device.empty() ? "virtual" : device) / "tty" / name;
    fs::create_directories(dir);
    make_link(dir, SYS / "class/tty" / name);
    if (!device.empty()) {
        make_link(SYS / "devices" / device, dir / "device");
        make_link(SYS / "bus/drivers" / driver, SYS / "devices" / device / "driver");
    }
    if (!type.empty()) {
        write_file(dir / "type", type);
    }
}

// What the kernel shows of a USB device: ids, then the strings it has.
void make_usb(const std::string& dir, const std::vector<std::string>& attributes) {
    const char* const NAMES[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        write_file(SYS / "devices" / dir / NAMES[i], attributes[i]);
    }
}

void remove_tree() {
    for (const fs::path& made : {SYS, DEV / "serial", DEV / "ttyUSB0", DEV / "ttyACM0"}) {
        fs::remove_all(made);
    }
}

void expect_list(const std::string& out, const std::string& err) {
    ToolProcess tool(tool_under_test(), {"--list", "ignored"});
    EXPECT_EQ(tool.wait(milliseconds(2000)), 0);
    EXPECT_EQ(tool.stdout_text(), out);
    EXPECT_EQ(tool.stderr_text(), err);
}

// Every tree has ttys without hardware: a virtual console, a ttyS with no
// UART. Alone they make no port.
TEST(PortList, ListsUartsAndUsbAdaptersWithTheirStableNames) {
    remove_tree();
    make_tty("tty1", "", "", "");
    make_tty("ttyS0", "platform/serial8250", "serial8250", "0");
    expect_list("", "lorvrc: no serial ports found\n");

    make_tty("ttyS10", "platform/serial8250", "serial8250", "99");
    make_tty("ttyS2", "platform/serial8250", "serial8250", "4");
    make_tty("ttyUSB0", "usb1/1-2/1-2:1.0/ttyUSB0", "ftdi_sio", ""); // two levels below USB
    make_tty("ttyACM0", "usb1/1-3/1-3:1.0", "cdc_acm", "");          // one level below
    make_usb("usb1/1-2", {"0403", "6001", "FTDI", "FT232R USB UART", "A10K3Z5M"});
    make_usb("usb1/1-3", {"2e8a", "000a", "Raspberry Pi", "Pico"});
    write_file(DEV / "ttyUSB0", "");
    write_file(DEV / "ttyACM0", "");
    // Relative, as udev makes them; the names are never read for a device.
    make_link("../../ttyUSB0", DEV / "serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0");
    make_link("../../ttyUSB0", DEV / "serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0");
    make_link("../../ttyACM0", DEV / "serial/by-path/pci-0000:00:14.0-usb-0:3:1.0");
    make_link("../../ttyUSB9", DEV / "serial/by-id/usb-gone-if00-port0");
    // "@" stands for the test tree's dev/.
    std::string listed = "@ttyACM0  cdc_acm  2e8a:000a  Raspberry Pi Pico\n"
                         "  @serial/by-path/pci-0000:00:14.0-usb-0:3:1.0\n"
                         "@ttyS2  serial8250  16550A\n"
                         "@ttyS10  serial8250  UART type 99\n"
                         "@ttyUSB0  ftdi_sio  0403:6001  FTDI FT232R USB UART  serial A10K3Z5M\n"
                         "  @serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0\n"
                         "  @serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n";
    for (std::size_t at = listed.find('@'); at != std::string::npos; at = listed.find('@')) {
        listed.replace(at, 1, DEV.string() + "/");
    }
    expect_list(listed, "");
    remove_tree();
}

} // namespace
