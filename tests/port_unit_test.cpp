// The port code's pure functions against tables of cases: the grammar of
// the port argument, and the name of a port's lock file.
#include <gtest/gtest.h>

#include "host_paths.h"
#include "links.h"
#include "port_choice.h"
#include "port_lock.h"
#include "serial.h"

namespace {

const std::string NOT_A_PORT = " is not a port; give a number from 0 to 15, a device path such as "
                               "/dev/ttyUSB0, or a name such as ttyUSB0";
const std::string RANGE = "; port numbers go from 0 to 15";

// The text, where it came from, and the slot, path and name chosen, or
// the failure's words.
struct PortRow {
    std::string text;
    PortSource source;
    int slot;
    std::string path, shown;
};

TEST(PortChoice, FollowsTheOneGrammar) {
    const std::string dev = dev_root();
    const PortRow rows[] = {
        {"/dev/ttyUSB0", PortSource::argument, 0, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"x/3", PortSource::default_port, 0, "x/3", "x/3 (the default port)"},
        {"ttyACM0", PortSource::environment, 0, dev + "/ttyACM0",
         dev + "/ttyACM0 (from LORVRC_PORT)"},
        {"0", PortSource::argument, 0, serial_device_path(0), serial_device_path(0)},
        // As strtol reads it: leading blanks, a sign, and the rest ignored.
        {" +15x", PortSource::argument, 15, serial_device_path(15), serial_device_path(15)},
        {"3", PortSource::environment, 3, serial_device_path(3),
         serial_device_path(3) + " (from LORVRC_PORT)"},
        {"16", PortSource::argument, -1, "", "there is no serial port 16" + RANGE},
        {"-1", PortSource::environment, -1, "",
         "there is no serial port -1 (from LORVRC_PORT)" + RANGE},
        // Wrapped into an int, these would be ports 1 and 0.
        {"4294967297", PortSource::argument, -1, "", "there is no serial port 4294967297" + RANGE},
        {"99999999999999999999", PortSource::argument, -1, "",
         "there is no serial port 99999999999999999999" + RANGE},
        // Once any text without digits meant port 0, often the console.
        {"-t", PortSource::argument, -1, "", "\"-t\"" + NOT_A_PORT},
        {"abc", PortSource::environment, -1, "", "\"abc\" (from LORVRC_PORT)" + NOT_A_PORT},
        {"", PortSource::argument, -1, "", "\"\"" + NOT_A_PORT}};
    for (const PortRow& row : rows) {
        const Result<PortChoice> chosen = choose_port(row.text, row.source);
        const PortRow got =
            chosen ? PortRow{row.text, row.source, chosen->slot, chosen->path, chosen->shown}
                   : PortRow{row.text, row.source, -1, "", chosen.failure().message};
        EXPECT_EQ(std::tuple(got.slot, got.path, got.shown),
                  std::tuple(row.slot, row.path, row.shown))
            << '"' << row.text << '"';
    }
}

// Named as other terminal programs name it: relative to /dev (or the
// build's device directory), every further '/' a '_'.
TEST(PortLock, NamesTheLockFileAfterTheDevice) {
    const std::pair<std::string, std::string> rows[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/pts/3", "LCK..pts_3"},
        {resolved_path(dev_root()) + "/ttyACM0", "LCK..ttyACM0"},
        {"/devices/ttyS0", "LCK..devices_ttyS0"},
        {"/srv/dev/ttyS0", "LCK..srv_dev_ttyS0"}};
    for (const auto& [device, name] : rows) {
        EXPECT_EQ(lock_name(device), name) << device;
    }
}

} // namespace
