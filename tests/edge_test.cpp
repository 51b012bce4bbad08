// Ports at the edges, end to end: the kernel's console, the master side
// of a pseudo-terminal, a device that stops taking bytes, a device node
// that udev has not given its group yet, a banner longer than the boot wait.
#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "device_session.h"
#include "session_rows.h"
#include "timing.h"

using namespace testing_support;
using std::string_literals::operator""s;
namespace fs = std::filesystem;

namespace {

class Console : public testing::Test {
    void SetUp() override { TearDown(); }
    void TearDown() override { fs::remove_all(fs::path(test_root()) / "sys"); }
};

// Here a pseudo-terminal stands in for ttyS2, the console's UART.
TEST_F(Console, IsMarkedNeverSuggestedAndWarnedOfOnce) {
    PtyDevice device;
    struct stat pty {};
    ASSERT_EQ(stat(device.slave_path().c_str(), &pty), 0);
    plant("sys/class/tty/console/active", "tty0 ttyS2");
    plant("sys/class/tty/ttyS2/dev",
          std::to_string(major(pty.st_rdev)) + ":" + std::to_string(minor(pty.st_rdev)));
    make_tty("ttyS2", "platform", "serial8250", "serial8250", {"4"}); // a 16550A
    const SessionRow missing = {"missing", {"prog", test_root() + "/dev/ttyUSB5"}, {}, {}, ""};
    const std::string cannot_open =
        "lorvrc: cannot open <root>/dev/ttyUSB5: No such file or directory (";
    EXPECT_EQ(play(missing).stderr_text,
              cannot_open + "lorvrc --list shows the ports there are)\n");
    make_tty("ttyS3", "platform", "serial8250", "serial8250", {"4"});
    EXPECT_EQ(
        play({"list", {"--list"}, {}, {}, ""}).stdout_text,
        "<root>/dev/ttyS2  serial8250  16550A  console\n<root>/dev/ttyS3  serial8250  16550A\n");
    EXPECT_EQ(play(missing).stderr_text,
              cannot_open + "ports with hardware here: <root>/dev/ttyS3, 16550A; use it with: "
                            "lorvrc prog ttyS3)\n");
    // The run goes on; the warning comes first.
    ToolProcess tool(tool_under_test(), {"--dtr=on", "prog", device.slave_path()});
    EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    device.send("O");
    EXPECT_EQ(tool.wait(DEADLINE), 0);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + device.slave_path() +
                                      " is the kernel's console; its messages and a login prompt "
                                      "there will disturb the device\nlorvrc: " +
                                      device.slave_path() +
                                      " has no modem control lines; --dtr is ignored\n");
}

// The multiplexer would make a pseudo-terminal that nobody answers on; a
// master reached by another name is refused once opened.
TEST(PtyMaster, IsRefusedAsNoSerialPort) {
    PtyDevice device;
    const std::string held =
        "/proc/" + std::to_string(getpid()) + "/fd/" + std::to_string(device.master());
    for (const std::string& port : {"/dev/ptmx"s, held}) {
        const SessionRow row = {"",
                                {"--timeout=1", "prog", port},
                                {},
                                {},
                                "lorvrc: " + port +
                                    " is the master side of a pseudo-terminal, not a serial "
                                    "port; give its other side, /dev/pts/N\n",
                                1};
        EXPECT_EQ(play(row), expected(row)) << port;
    }
}

// --timeout bounds a write too: a device that asks for a large file and
// then reads nothing ends the run, the port given back.
TEST(Stalled, DeviceThatTakesNothingEndsTheRun) {
    TempDir dir;
    std::string lines;
    for (int i = 0; i < 20000; ++i, lines += "10 PRINT \"x\"\n") {
    }
    dir.write_file("big.bas", lines); // far more than a pty's buffers hold
    DeviceSession session({"--timeout=1", "prog"}, 1, dir.path());
    session.device.send("Mbig\0"s);
    EXPECT_EQ(session.tool->wait(DEADLINE), 1);
    EXPECT_EQ(session.tool->stderr_text(),
              "lorvrc: the device on " + port_path(1) + " took nothing for 1 s\n");
}

// A node we may not open, just made (or changed): --wait waits for udev
// to set its mode, saying so once. (Past the limit the open's message
// stands, as for any wait: Wait.ForAPortToAppearAndToBeFree.)
TEST(HotPlug, NodeWithoutItsModeYetIsWaitedFor) {
    const bool root = geteuid() == 0;
    if (root && access("/usr/bin/setpriv", X_OK) != 0) {
        GTEST_SKIP() << "needs setpriv to act as an unprivileged user";
    }
    PtyDevice device;
    const std::string slave = device.slave_path();
    ASSERT_EQ(chmod(slave.c_str(), 0), 0);
    std::vector<std::string> as = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                   "--clear-groups"};
    as = root ? as : std::vector<std::string>{};
    as.insert(as.end(), {tool_under_test(), "--wait=2", "prog", slave});
    ToolProcess tool(as[0], {as.begin() + 1, as.end()});
    const std::string waiting = "lorvrc: waiting for " + slave +
                                " to be ready (it has just appeared; its permissions are not "
                                "set yet)\n";
    EXPECT_TRUE(tool.wait_for_stderr(waiting, DEADLINE));
    chmod(slave.c_str(), 0666);
    EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    device.send("O");
    EXPECT_EQ(tool.wait(DEADLINE), 0);
    EXPECT_EQ(tool.stderr_text(), waiting);
}

// A banner that outlasts --boot-wait is dropped until the line is quiet:
// its letters are never read as requests. One that never falls quiet is
// given up on 5 s after the wait; what it sends after the run starts is
// the device's to answer for.
TEST(Banner, OutlastingTheBootWaitIsDroppedUntilQuietOrFiveSeconds) {
    const std::string banner = "Init BASIC\r\n";
    for (const bool endless : {false, true}) {
        PtyDevice device;
        ToolProcess tool(tool_under_test(), {"-v", "--boot-wait=100", "prog", device.slave_path()});
        ASSERT_TRUE(wait_until( // the line is raw: nothing sent from now on is echoed
            [&device] {
                termios line{};
                return tcgetattr(device.master(), &line) == 0 && (line.c_lflag & ICANON) == 0;
            },
            DEADLINE));
        const auto started = std::chrono::steady_clock::now();
        std::string heard;
        for (int i = 0; heard.empty() && (endless || i < 20) && i < 200; ++i) {
            device.send(banner);
            heard = device.receive(1, milliseconds(50));
        }
        EXPECT_GT(std::chrono::steady_clock::now() - started, milliseconds(endless ? 5100 : 1000));
        EXPECT_EQ(heard + device.receive_through_zero(DEADLINE), "Cprog\0"s);
        device.send("\0O"s); // ends a request the banner's tail began
        EXPECT_EQ(tool.wait(DEADLINE), 0);
        const std::string gave_up = "lorvrc: the device on " + device.slave_path() +
                                    " was still sending 5 s after --boot-wait; starting anyway\n";
        const std::string text = tool.stderr_text() + "dropped "; // the count follows the first
        const std::size_t dropped = std::strtoul(&text[text.find("dropped ") + 8], nullptr, 10);
        EXPECT_EQ(tool.stderr_text(), (endless ? gave_up : "") + "lorvrc: dropped " +
                                          std::to_string(dropped) +
                                          " bytes the device sent during the boot wait\n");
        EXPECT_TRUE(dropped > 0 && dropped <= 200 * banner.size()) << dropped;
    }
}

} // namespace
