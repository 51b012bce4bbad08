// The whole run, end to end: the built tool against a scripted device on a
// pseudo-terminal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sstream>
#include <stdlib.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
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
    {"option_with_suffix", {"-tx", "1"}, 1, "C-tx\0"s},
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
        UnusablePort{"missing", 7, "",
                     "No such file or directory (lorvrc --list shows the ports there are)"},
        UnusablePort{"not_a_terminal", 5, "/dev/null", "Inappropriate ioctl for device"},
        UnusablePort{"link_loop", 4, port_path(4), "Too many levels of symbolic links"}),
    [](const testing::TestParamInfo<UnusablePort>& info) { return std::string(info.param.what); });

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

// --- the port's forms ---------------------------------------------------------

struct FormCase {
    const char* what;
    std::vector<std::string> args; // "<pty>" stands for the pty's own path
    const char* variable;          // LORVRC_PORT, "<pty>" as in args; null: unset
    std::string link;              // the one name linked to the pty: a port number or "ttyUSB5"
    std::string message;           // empty: the device is served; else the one line printed
};

std::ostream& operator<<(std::ostream& out, const FormCase& c) { return out << c.what; }

const std::string NOT_A_PORT = " is not a port; give a number from 0 to 15, a device path such "
                               "as /dev/ttyUSB0, or a name such as ttyUSB0";

const FormCase FORM_CASES[] = {
    {"number", {"prog", "3"}, nullptr, "3", ""},
    {"device_path", {"prog", "<pty>"}, nullptr, "", ""},
    {"tty_name", {"prog", "ttyUSB5"}, nullptr, "ttyUSB5", ""},
    {"variable_number", {"prog"}, "3", "3", ""},
    {"variable_path", {"prog"}, "<pty>", "", ""},
    {"empty_variable", {"prog"}, "", "1", ""},
    {"argument_over_variable", {"prog", "3"}, "abc", "3", ""},
    // Refused rows link ports 0 and 1: "-t" used to mean port 0.
    {"not_a_port", {"prog", "-t"}, nullptr, "", "\"-t\"" + NOT_A_PORT},
    {"variable_not_a_port", {"prog"}, "abc", "", "\"abc\" (from LORVRC_PORT)" + NOT_A_PORT},
    {"huge_number",
     {"prog", "99999999999"},
     nullptr,
     "",
     "there is no serial port 99999999999; port numbers go from 0 to 15"},
};

class PortForm : public testing::TestWithParam<FormCase> {};

TEST_P(PortForm, OpensTheDeviceItNamesOrSendsNothing) {
    const FormCase& c = GetParam();
    PtyDevice device;
    const std::string tty_link = test_root() + "/dev/ttyUSB5";
    unlink(tty_link.c_str());
    if (c.link == "ttyUSB5") {
        ASSERT_EQ(symlink(device.slave_path().c_str(), tty_link.c_str()), 0);
    } else if (!c.link.empty()) {
        device.link_as_port(std::stoi(c.link));
    } else if (!c.message.empty()) {
        device.link_as_port(0);
        device.link_as_port(1);
    }
    std::vector<std::string> args = c.args;
    std::string variable = c.variable != nullptr ? c.variable : "";
    for (std::string* text : {&args.back(), &variable}) {
        *text = *text == "<pty>" ? device.slave_path() : *text;
    }
    c.variable != nullptr ? setenv("LORVRC_PORT", variable.c_str(), 1) : unsetenv("LORVRC_PORT");
    ToolProcess tool(tool_under_test(), args);
    unsetenv("LORVRC_PORT");
    if (c.message.empty()) {
        EXPECT_EQ(device.receive_through_zero(milliseconds(3000)), "Cprog\0"s);
        device.send("O");
        EXPECT_EQ(tool.wait(EXIT_DEADLINE), 0);
        EXPECT_EQ(tool.stderr_text(), "");
    } else {
        EXPECT_EQ(device.receive(1, QUIET), "");
        EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
        EXPECT_EQ(tool.stderr_text(), "lorvrc: " + c.message + "\n");
    }
    unlink(tty_link.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, PortForm, testing::ValuesIn(FORM_CASES),
                         [](const testing::TestParamInfo<FormCase>& info) {
                             return std::string(info.param.what);
                         });

// --- options ------------------------------------------------------------------

TEST(Options, HelpAndVersionGoToStandardOutputAndOpenNothing) {
    PtyDevice device;
    device.link_as_port(1);
    std::string help;
    for (const char* option : {"--help", "-h", "--version"}) {
        ToolProcess tool(tool_under_test(), {option, "prog"});
        EXPECT_EQ(tool.wait(EXIT_DEADLINE), 0) << option;
        EXPECT_EQ(tool.stderr_text(), "") << option;
        const std::string text = tool.stdout_text();
        if (std::string(option) == "--version") {
            EXPECT_THAT(text, testing::MatchesRegex("lorvrc [0-9]+\\.[0-9]+\\.[0-9]+\n"));
        } else if (help.empty()) {
            help = text;
            for (const char* part : {"usage: lorvrc [-t] <program name> [<port>]\n", "--list",
                                     "LORVRC_PORT", "/dev/ttyUSB0", "ttyUSB0 is /dev/ttyUSB0"}) {
                EXPECT_NE(help.find(part), std::string::npos) << part;
            }
        } else {
            EXPECT_EQ(text, help) << option;
        }
    }
    EXPECT_EQ(device.receive(1, QUIET), "");
}

// --- lock files and other programs ---------------------------------------------

// The lock file other programs look for: LCK..pts_N for /dev/pts/N.
std::string lock_file_of(const PtyDevice& device) {
    return test_root() + "/run/lock/LCK..pts_" + device.slave_path().substr(9); // "/dev/pts/"
}

std::string lock_text(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

TEST(LockFile, OfALiveProcessRefusesThePort) {
    PtyDevice device;
    device.link_as_port(1);
    const std::string lock_file = lock_file_of(device);
    std::ofstream(lock_file) << lock_text(getpid());
    ToolProcess tool(tool_under_test(), {"prog"});
    EXPECT_EQ(device.receive(1, QUIET), "");
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(),
              "lorvrc: " + port_path(1) + " is in use by another program (process " +
                  std::to_string(getpid()) + " holds the lock file " + lock_file + ")\n");
    EXPECT_EQ(read_file(lock_file), lock_text(getpid()));
    unlink(lock_file.c_str());
}

class LockFileEnd : public testing::TestWithParam<int> {};

// A stale lock (its process is gone) is replaced by ours, which goes at
// the end of the session (0) and on each signal that ends the run.
TEST_P(LockFileEnd, StaleOneReplacedOursRemoved) {
    const int signal = GetParam();
    PtyDevice device;
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    waitpid(gone, nullptr, 0);
    const std::string lock_file = lock_file_of(device);
    std::ofstream(lock_file) << lock_text(gone);

    device.link_as_port(1);
    ToolProcess tool(tool_under_test(), {"prog"});
    ASSERT_EQ(device.receive_through_zero(milliseconds(3000)), "Cprog\0"s);
    EXPECT_EQ(read_file(lock_file), lock_text(tool.pid()));
    if (signal == 0) {
        device.send("O");
    } else {
        kill(tool.pid(), signal);
    }
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), signal == 0 ? 0 : 128 + signal);
    EXPECT_NE(access(lock_file.c_str(), F_OK), 0);
}

INSTANTIATE_TEST_SUITE_P(Ends, LockFileEnd, testing::Values(0, SIGINT, SIGTERM, SIGHUP));

// Root ignores TIOCEXCL and file permissions: these run the other side,
// or the tool, as nobody.
constexpr uid_t NOBODY = 65534;

std::vector<std::string> as_nobody(const std::vector<std::string>& args) {
    std::vector<std::string> all{"--reuid=65534", "--regid=65534", "--clear-groups",
                                 tool_under_test()};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

// The errno of an unprivileged open of `path`, 0 when it opens.
int open_error_as_nobody(const std::string& path) {
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(NOBODY) != 0 || setuid(NOBODY) != 0) {
            _exit(255);
        }
        _exit(open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK) < 0 ? errno : 0);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

#define SKIP_UNLESS_ROOT()                                                                         \
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0) {                                 \
        GTEST_SKIP() << "needs root and setpriv to act as an unprivileged user";                   \
    }

TEST(Exclusive, OthersCannotOpenTheLineWhileWeHoldIt) {
    SKIP_UNLESS_ROOT();
    DeviceSession session({"prog"});
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);
    const std::string slave = session.device.slave_path();
    ASSERT_EQ(chmod(slave.c_str(), 0666), 0);
    EXPECT_EQ(open_error_as_nobody(slave), EBUSY);
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(EXIT_DEADLINE), 0);
    EXPECT_EQ(open_error_as_nobody(slave), 0); // released with the port

    // The other way round: a program that holds the line by TIOCEXCL alone.
    const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(ioctl(held, TIOCEXCL), 0);
    ToolProcess tool("/usr/bin/setpriv", as_nobody({"prog", slave}));
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + slave + " is in use by another program\n");
    close(held);
}

TEST(CannotOpen, PermissionDeniedNamesTheGroupToJoin) {
    SKIP_UNLESS_ROOT();
    const group* dialout = getgrnam("dialout");
    if (dialout == nullptr) {
        GTEST_SKIP() << "this host has no group dialout";
    }
    PtyDevice device;
    const std::string slave = device.slave_path();
    ASSERT_EQ(chown(slave.c_str(), 0, dialout->gr_gid), 0);
    ASSERT_EQ(chmod(slave.c_str(), 0660), 0);
    ToolProcess tool("/usr/bin/setpriv", as_nobody({"prog", slave}));
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(),
              "lorvrc: cannot open " + slave +
                  ": Permission denied (the port belongs to the group dialout: sudo usermod -aG "
                  "dialout $USER, then log in again)\n");
}

// A ttyS port with no UART behind it fails at open with EIO, as does a
// pseudo-terminal that was never unlocked.
TEST(CannotOpen, NoHardwareAtATtySPort) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_TRUE(link_port(5, ptsname(master)));
    ToolProcess tool(tool_under_test(), {"prog", "5"});
    EXPECT_EQ(tool.wait(EXIT_DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(),
              "lorvrc: cannot open " + port_path(5) +
                  ": Input/output error (no serial hardware answers at this port; lorvrc --list "
                  "shows the ports that have some)\n");
    link_port(5, "");
    close(master);
}

} // namespace
