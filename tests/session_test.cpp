// The whole run, end to end: the built tool against a scripted device on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;
using std::string_literals::operator""s;

namespace {

const milliseconds EXIT_DEADLINE(2000);
// Long enough for a tool that wrongly answers to have answered.
const milliseconds QUIET(200);

const std::string USAGE = "Remote Control for Lorvan\nusage:\nlorvrc <program name>\n";

// True while the child has not ended; leaves it to ToolProcess to reap.
bool still_running(const ToolProcess& tool) {
    siginfo_t info{};
    waitid(P_PID, static_cast<id_t>(tool.pid()), &info, WEXITED | WNOHANG | WNOWAIT);
    return info.si_pid == 0;
}

// The master reports a hang-up once no one holds the slave open any more.
bool slave_released(const PtyDevice& device) {
    pollfd p{device.master(), POLLIN, 0};
    return poll(&p, 1, 100) > 0 && (p.revents & POLLHUP) != 0;
}

// --- start sequence ---------------------------------------------------------

struct StartCase {
    const char* what;
    std::vector<std::string> args;
    int port;
    std::string expected;
    std::string err = "";
};

std::ostream& operator<<(std::ostream& out, const StartCase& c) { return out << c.what; }

const std::string NAME_300(300, 'n');

// `count` times the UTF-8 bytes of `character`.
std::string repeated(const std::string& character, std::size_t count) {
    std::string text;
    for (std::size_t i = 0; i < count; ++i) {
        text += character;
    }
    return text;
}

const StartCase START_CASES[] = {
    {"default_port", {"prog"}, 1, "Cprog\0"s},
    {"trace_option_port_zero", {"-t", "prog", "0"}, 0, "Tprog\0"s},
    {"option_after_name", {"prog", "-t"}, 0, "Cprog\0"s},
    {"option_with_suffix", {"-tx", "prog"}, 0, "C-tx\0"s},
    {"last_argument_is_port", {"prog", "x", "y", "3"}, 3, "Cprog\0"s},
    {"empty_name", {""}, 1, "C\0"s},
    {"name_translated", {"a|\xE9z"}, 1, "Ca\xCD\x91z\0"s},
    {"longest_name", {NAME_300}, 1, "C" + NAME_300 + "\0"s},
    // Typed in UTF-8, sent in Windows-1252, its length counted after that.
    {"utf8_name", {"caf\u00E9\u20AC"}, 1, "Ccaf\x91\xE7\0"s},
    {"longest_utf8_name", {repeated("\u00E9", 300)}, 1, "C" + std::string(300, '\x91') + "\0"s},
    {"unheld_character",
     {"a\u4E2Db"},
     1,
     "Ca b\0"s,
     "lorvrc: the program name holds characters the device cannot show (U+4E2D); sent as "
     "blanks\n"},
};

class StartSequence : public testing::TestWithParam<StartCase> {};

TEST_P(StartSequence, ReachesTheDeviceOnItsPort) {
    const StartCase& c = GetParam();
    DeviceSession session(c.args, c.port);
    EXPECT_EQ(session.start_sequence, c.expected);
    // Nothing follows the start sequence until the device speaks.
    EXPECT_EQ(session.device.receive_until_quiet(milliseconds(50), QUIET), "");
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(EXIT_DEADLINE), 0);
    EXPECT_EQ(session.tool->stderr_text(), c.err);
}

INSTANTIATE_TEST_SUITE_P(Table, StartSequence, testing::ValuesIn(START_CASES),
                         [](const testing::TestParamInfo<StartCase>& info) {
                             return std::string(info.param.what);
                         });

// The device would receive an empty name and start something else.
TEST(StartSequence, NameLongerThanTheDeviceTakesIsRefusedBeforeTheLineIsTouched) {
    const std::pair<std::string, std::string> cases[] = {
        {std::string(301, 'n'), "301"},
        {repeated("\u00E9", 412), "412"},
    };
    for (const auto& [name, length] : cases) {
        SCOPED_TRACE(length);
        PtyDevice device;
        device.link_as_port(1);
        ToolProcess tool(tool_under_test(), {name});
        EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
        EXPECT_EQ(tool.stderr_text(), "lorvrc: the program name is " + length +
                                          " bytes long; the device takes at most 300\n");
        EXPECT_EQ(device.receive(1, milliseconds(100)), "") << "something was sent";
    }
}

// --- usage ------------------------------------------------------------------

class UsageRun : public testing::TestWithParam<std::vector<std::string>> {};

TEST_P(UsageRun, PrintsUsageAndOpensNoPort) {
    PtyDevice device;
    device.link_as_port(1);
    ToolProcess tool(tool_under_test(), GetParam());
    EXPECT_EQ(device.receive(1, QUIET), "");
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), USAGE);
    EXPECT_EQ(tool.stdout_text(), "");
}

INSTANTIATE_TEST_SUITE_P(Args, UsageRun,
                         testing::Values(std::vector<std::string>{},
                                         std::vector<std::string>{"-t"}));

// --- serving and ending -----------------------------------------------------

TEST(Session, IgnoresNonCommandBytesAndEndsCleanlyOnO) {
    TempDir dir;
    dir.write_file("prog.bas", "A\n");
    DeviceSession session({"prog"}, 1, dir.path());
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);

    session.device.send("\x00\x42\x43\x5A\x61\x65\x6D\xFF"s);
    EXPECT_EQ(session.device.receive_until_quiet(QUIET, milliseconds(1000)), "");
    EXPECT_TRUE(still_running(*session.tool));

    // "O" ends the session at once: the request behind it is never served.
    session.device.send("OMprog\0"s);
    EXPECT_EQ(session.tool->wait(EXIT_DEADLINE), 0);
    EXPECT_EQ(session.tool->stderr_text(), "");
    EXPECT_EQ(session.tool->stdout_text(), "");
    EXPECT_TRUE(slave_released(session.device));
}

TEST(Session, WaitsThroughReadTimeOutsAndThenServes) {
    TempDir dir;
    dir.write_file("prog.bas", "A\nB");
    DeviceSession session({"prog"}, 1, dir.path());
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);

    // Two and a half read time-outs of silence: the tool says nothing and
    // does not give up.
    EXPECT_EQ(session.device.receive(1, milliseconds(2500)), "");
    ASSERT_TRUE(still_running(*session.tool));

    session.device.send("Mprog\0"s);
    EXPECT_EQ(session.device.receive_file_reply(milliseconds(2000)), "OA\rB\r\0"s);
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(EXIT_DEADLINE), 0);
    EXPECT_EQ(session.tool->stderr_text(), "");
}

// --- standard error unusable ------------------------------------------------

class UnusableStderr : public testing::TestWithParam<ChildStderr> {};

// With standard error closed the port could take its descriptor, and our
// text would go down the line; with its reader gone a write could kill us.
// Either way the device must be served exactly as always.
TEST_P(UnusableStderr, DeviceIsServedExactly) {
    TempDir dir;
    dir.write_file("prog.bas", std::string(400, 'x') + "\nB");
    PtyDevice device;
    device.link_as_port(1);
    ToolProcess tool(tool_under_test(), {"prog"}, dir.path(), false, GetParam());
    ASSERT_EQ(device.receive_through_zero(milliseconds(3000)), "Cprog\0"s);

    device.send("Thello\0Mprog\0"s);
    EXPECT_EQ(device.receive_file_reply(milliseconds(3000)), "OB\r\0"s);
    device.send("O");
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 0);
    EXPECT_EQ(device.receive_until_quiet(QUIET, QUIET), "");
}

INSTANTIATE_TEST_SUITE_P(Session, UnusableStderr,
                         testing::Values(ChildStderr::closed, ChildStderr::broken_pipe),
                         [](const testing::TestParamInfo<ChildStderr>& info) {
                             return std::string(info.param == ChildStderr::closed ? "closed"
                                                                                  : "broken_pipe");
                         });

// --- the device hangs up ----------------------------------------------------

class HangUp : public testing::TestWithParam<bool> {};

// In a session of its own the tool could make the line its controlling
// terminal; then the hang-up would kill it before it could say anything.
TEST_P(HangUp, EndsWithOneLineAndStatusOne) {
    const bool new_session = GetParam();
    PtyDevice device;
    device.link_as_port(1);
    ToolProcess tool(tool_under_test(), {"prog"}, "", new_session);
    ASSERT_EQ(device.receive_through_zero(milliseconds(3000)), "Cprog\0"s);

    device.hang_up();
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: lost the connection on " + port_path(1) + "\n");
    EXPECT_EQ(tool.stdout_text(), "");
}

INSTANTIATE_TEST_SUITE_P(Session, HangUp, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return std::string(info.param ? "new_session" : "same_session");
                         });

// --- ports that cannot be used ----------------------------------------------

struct UnusablePort {
    const char* what;
    int port;
    std::string target; // what the port's link points at; empty: no link
    std::string reason;
};

std::ostream& operator<<(std::ostream& out, const UnusablePort& c) { return out << c.what; }

class CannotOpen : public testing::TestWithParam<UnusablePort> {};

TEST_P(CannotOpen, NamesTheDeviceAndTheReason) {
    const UnusablePort& c = GetParam();
    ASSERT_TRUE(link_port(c.port, c.target));
    ToolProcess tool(tool_under_test(), {"prog", std::to_string(c.port)});
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(),
              "lorvrc: cannot open " + port_path(c.port) + ": " + c.reason + "\n");
    EXPECT_EQ(tool.stdout_text(), "");
    ASSERT_TRUE(link_port(c.port, ""));
}

INSTANTIATE_TEST_SUITE_P(
    Ports, CannotOpen,
    testing::Values(
        UnusablePort{"missing", 7, "", "No such file or directory"},
        UnusablePort{"not_a_terminal", 5, "/dev/null", "Inappropriate ioctl for device"},
        UnusablePort{"link_loop", 4, port_path(4), "Too many levels of symbolic links"}),
    [](const testing::TestParamInfo<UnusablePort>& info) { return std::string(info.param.what); });

TEST(CannotOpen, UnreadableDevice) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop root";
    }
    TempDir dir;
    const std::string device = dir.write_file("ttyS", "");
    ASSERT_EQ(chmod(device.c_str(), 0), 0);
    ASSERT_TRUE(link_port(6, device));
    ToolProcess tool(tool_under_test(), {"prog", "6"});
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: cannot open " + port_path(6) + ": Permission denied\n");
    ASSERT_TRUE(link_port(6, ""));
}

class PortOutOfRange : public testing::TestWithParam<int> {};

TEST_P(PortOutOfRange, SaysWhichNumbersExist) {
    const std::string number = std::to_string(GetParam());
    ToolProcess tool(tool_under_test(), {"prog", number});
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    const std::string text = tool.stderr_text();
    EXPECT_EQ(text.rfind("lorvrc: ", 0), 0u) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_EQ(text.back(), '\n');
    EXPECT_NE(text.find(" " + number), std::string::npos) << text;
    EXPECT_NE(text.find("0 to 15"), std::string::npos) << text;
    EXPECT_EQ(tool.stdout_text(), "");
}

INSTANTIATE_TEST_SUITE_P(Numbers, PortOutOfRange, testing::Values(16, -1));

// Another program holds the line: the tool must leave it exactly as it was
// (settings, pending input) and send nothing on it.
TEST(PortInUse, IsRefusedWithoutTouchingTheLine) {
    PtyDevice device;
    device.link_as_port(1);
    const int held = open(device.slave_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    termios before{};
    ASSERT_EQ(tcgetattr(held, &before), 0);
    cfmakeraw(&before);
    before.c_cc[VMIN] = 0;
    before.c_cc[VTIME] = 0;
    ASSERT_EQ(tcsetattr(held, TCSANOW, &before), 0);
    device.send("xyz");

    ToolProcess tool(tool_under_test(), {"prog"});
    EXPECT_EQ(device.receive(1, QUIET), "");
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + port_path(1) + " is in use by another program\n");
    EXPECT_EQ(tool.stdout_text(), "");

    termios after{};
    ASSERT_EQ(tcgetattr(held, &after), 0);
    EXPECT_EQ(after.c_iflag, before.c_iflag);
    EXPECT_EQ(after.c_oflag, before.c_oflag);
    EXPECT_EQ(after.c_cflag, before.c_cflag);
    EXPECT_EQ(after.c_lflag, before.c_lflag);
    EXPECT_EQ(after.c_cc[VTIME], before.c_cc[VTIME]);
    pollfd p{held, POLLIN, 0};
    ASSERT_GT(poll(&p, 1, 500), 0);
    char pending[8] = {};
    EXPECT_EQ(read(held, pending, sizeof pending), 3);
    EXPECT_EQ(std::string(pending), "xyz");
    close(held);
}

} // namespace
