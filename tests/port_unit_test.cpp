// The port code's pure functions against tables of cases: the grammar of
// the port argument, and the name of a port's lock file.
#include <gtest/gtest.h>

#include "host_paths.h"
#include "links.h"
#include "network_address.h"
#include "port_choice.h"
#include "port_lock.h"
#include "serial.h"

using std::string_literals::operator""s;

namespace {

const std::string NOT_A_PORT = " is not a port; give a number from 0 to 15, a device path such as "
                               "/dev/ttyUSB0, or a name such as ttyUSB0";
const std::string RANGE = "; port numbers go from 0 to 15";

constexpr PortSource ARG = PortSource::argument, ENV = PortSource::environment;

// The text, where it came from, and the slot, path and name chosen, or -1,
// "" and the failure's words.
TEST(PortChoice, FollowsTheOneGrammar) {
    const std::string dev = dev_root(), env = " (from LORVRC_PORT)";
    const std::tuple<std::string, PortSource, int, std::string, std::string> rows[] = {
        {"/dev/ttyUSB0", ARG, 0, "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"x/3", PortSource::default_port, 0, "x/3", "x/3 (the default port)"},
        {"ttyACM0", ENV, 0, dev + "/ttyACM0", dev + "/ttyACM0" + env},
        {"0", ARG, 0, serial_device_path(0), serial_device_path(0)},
        // As strtol reads it: leading blanks, a sign, and the rest ignored.
        {" +15x", ARG, 15, serial_device_path(15), serial_device_path(15)},
        {"3", ENV, 3, serial_device_path(3), serial_device_path(3) + env},
        {"16", ARG, -1, "", "there is no serial port 16" + RANGE},
        {"-1", ENV, -1, "", "there is no serial port -1" + env + RANGE},
        // Never wrapped into range: this would be port 1 in an int.
        {"4294967297", ARG, -1, "", "there is no serial port 4294967297" + RANGE},
        {"99999999999999999999", ARG, -1, "",
         "there is no serial port 99999999999999999999" + RANGE},
        // Once any text without digits meant port 0, often the console.
        {"-t", ARG, -1, "", "\"-t\"" + NOT_A_PORT},
        {"abc", ENV, -1, "", "\"abc\"" + env + NOT_A_PORT},
        {"", ARG, -1, "", "\"\"" + NOT_A_PORT},
        {"rfc2217://h:1", ARG, 0, "rfc2217://h:1", "rfc2217://h:1"},
        {"tcp://127.0.0.1", ENV, -1, "",
         "\"tcp://127.0.0.1\"" + env + " is not a network port; give " + NETWORK_PORT_FORMS}};
    for (const auto& [text, source, slot, path, shown] : rows) {
        const Result<PortChoice> chosen = choose_port(text, source);
        EXPECT_EQ(chosen ? std::tuple(chosen->slot, chosen->path, chosen->shown)
                         : std::tuple(-1, ""s, chosen.failure().message),
                  std::tuple(slot, path, shown))
            << '"' << text << '"';
    }
}

// Named as other terminal programs name it: relative to /dev (or the
// build's device directory), every further '/' a '_'.
TEST(PortLock, NamesTheLockFileAfterTheDevice) {
    const std::pair<std::string, std::string> rows[] = {
        {"/dev/ttyUSB0", "LCK..ttyUSB0"},
        {"/dev/pts/3", "LCK..pts_3"},
        {*resolved_path(dev_root()) + "/ttyACM0", "LCK..ttyACM0"},
        {"/devices/ttyS0", "LCK..devices_ttyS0"},
        {"/srv/dev/ttyS0", "LCK..srv_dev_ttyS0"}};
    for (const auto& [device, name] : rows) {
        EXPECT_EQ(lock_name(device), name) << device;
    }
}

} // namespace
