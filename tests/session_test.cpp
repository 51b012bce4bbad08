// The whole run, end to end: the built tool against a scripted device on a
// pseudo-terminal, from the command line to its exit.
#include <gmock/gmock.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <regex>
#include <sstream>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>

#include "device_session.h"
#include "session_rows.h"

using namespace testing_support;
using std::string_literals::operator""s;

namespace {

const milliseconds DEADLINE(3000);
// Long enough for a tool that wrongly sends something to have sent it.
const milliseconds QUIET(200);
const std::string USAGE = "Remote Control for Lorvan\nusage:\nlorvrc <program name>\n";
const std::string N300(300, 'n');
const std::string E_ACUTE_300 = std::regex_replace(N300, std::regex("n"), "\u00E9");
const std::vector<std::string> SERVED = {"Cprog\0"s, "O"};
const std::string NOT_A_PORT = " is not a port; give a number from 0 to 15, a device path such as "
                               "/dev/ttyUSB0, or a name such as ttyUSB0";

// A run that sends nothing and ends with status 1 and this one line.
SessionRow refused(const char* what, const std::vector<std::string>& args, const std::string& line,
                   const char* variable = nullptr) {
    return {what, args, {}, {}, line.empty() ? USAGE : "lorvrc: " + line + "\n", 1, variable};
}

std::string out_of_range(const std::string& text) {
    return "there is no serial port " + text + "; port numbers go from 0 to 15";
}

const SessionRow ROWS[] = {
    {"default_port", {"prog"}, {}, SERVED, ""},
    {"trace_option_port_zero", {"-t", "prog", "0"}, {}, {"Tprog\0"s, "O"}, ""},
    {"option_with_suffix_is_a_name", {"-tx", "1"}, {}, {"C-tx\0"s, "O"}, ""},
    {"last_argument_is_the_port", {"prog", "x", "y", "3"}, {}, SERVED, ""},
    {"device_path", {"prog", "<pty>"}, {}, SERVED, ""},
    {"variable_number", {"prog"}, {}, SERVED, "", 0, "3"},
    {"empty_variable", {"prog"}, {}, SERVED, "", 0, ""},
    {"argument_over_variable", {"prog", "3"}, {}, SERVED, "", 0, "abc"},
    {"empty_name", {""}, {}, {"C\0"s, "O"}, ""},
    {"name_translated", {"a|\xE9z"}, {}, {"Ca\xCD\x91z\0"s, "O"}, ""},
    // Typed in UTF-8, sent in Windows-1252, its length counted after that.
    {"utf8_name", {"caf\u00E9\u20AC"}, {}, {"Ccaf\x91\xE7\0"s, "O"}, ""},
    {"longest_name", {N300}, {}, {"C" + N300 + "\0"s, "O"}, ""},
    {"longest_utf8_name", {E_ACUTE_300}, {}, {"C" + std::string(300, '\x91') + "\0"s, "O"}, ""},
    {"unheld_character",
     {"a\u4E2Db"},
     {},
     {"Ca b\0"s, "O"},
     "lorvrc: the program name holds characters the device cannot show (U+4E2D); sent as blanks\n"},
    // The device would take an empty name and start something else.
    refused("name_too_long", {N300 + "n"},
            "the program name is 301 bytes long; the device takes at most 300"),
    refused("no_arguments", {}, ""),
    refused("option_alone", {"-t"}, ""),
    // "-t", as any text without digits, once meant port 0: often the console.
    refused("not_a_port", {"prog", "-t"}, "\"-t\"" + NOT_A_PORT),
    refused("variable_not_a_port", {"prog"}, "\"abc\" (from LORVRC_PORT)" + NOT_A_PORT, "abc"),
    // Wrapped into an int, this one would be port 1.
    refused("huge_number", {"prog", "4294967297"}, out_of_range("4294967297")),
    refused("above_range", {"prog", "16"}, out_of_range("16")),
    refused("below_range", {"prog", "-1"}, out_of_range("-1")),
    refused(
        "missing_tty_name", {"prog", "ttyUSB5"},
        "cannot open <root>/dev/ttyUSB5: No such file or directory (lorvrc --list shows the ports "
        "there are)"),
    refused("not_a_terminal", {"prog", "/dev/null"},
            "cannot open /dev/null: Inappropriate ioctl for device"),
    // Bytes that are no command are skipped; "O" ends the run at once, the
    // request behind it unserved.
    {"ignored_bytes",
     {"prog"},
     {{"prog.bas", "A"}},
     {"Cprog\0"s, "\0BCZaem\xFFMprog\0"s, "OA\r\0"s, "OMprog\0"s},
     ""},
};

class Session : public testing::TestWithParam<SessionRow> {};

TEST_P(Session, Plays) { EXPECT_EQ(play(GetParam()), expected(GetParam())); }

INSTANTIATE_TEST_SUITE_P(Rows, Session, testing::ValuesIn(ROWS),
                         [](const auto& info) { return std::string(info.param.what); });

// Whether the line's TIOCEXCL flag is `flag`, as far as this user can see:
// an open that TIOCEXCL refuses counts as set.
bool exclusive(const std::string& slave, int flag) {
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int set = fd < 0 && errno == EBUSY ? 1 : -1;
    if (fd >= 0 && ioctl(fd, TIOCGEXCL, &set) == 0) {
        close(fd);
    }
    return set == flag;
}

// Another program may have left the line in any state: every setting the
// tool relies on is its own, and the line is its alone until it ends. Then
// a silent device is waited for through its read time-outs.
TEST(Line, IsSetUpHeldAndWaitedOn) {
    PtyDevice device;
    device.link_as_port(1);
    termios line{};
    ASSERT_EQ(tcgetattr(device.master(), &line), 0);
    cfsetspeed(&line, B9600);
    line.c_cflag = (line.c_cflag & ~tcflag_t{CSIZE}) | CS7 | PARENB | CSTOPB;
    ASSERT_EQ(tcsetattr(device.master(), TCSANOW, &line), 0);
    ToolProcess tool(tool_under_test(), {"prog"});
    ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    // The master reads the slave's settings, for any user.
    ASSERT_EQ(tcgetattr(device.master(), &line), 0);
    EXPECT_EQ(std::pair(cfgetispeed(&line), cfgetospeed(&line)),
              std::pair(speed_t{B38400}, speed_t{B38400}));
    EXPECT_EQ(line.c_cflag & tcflag_t{CSIZE | PARENB | CSTOPB | CREAD | CLOCAL},
              tcflag_t{CS8 | CREAD | CLOCAL});
    EXPECT_EQ(line.c_iflag & tcflag_t{BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON}, 0u);
    EXPECT_EQ(line.c_oflag & tcflag_t{OPOST}, 0u);
    EXPECT_EQ(line.c_lflag & tcflag_t{ECHO | ECHONL | ICANON | ISIG | IEXTEN}, 0u);
    EXPECT_EQ(std::pair(line.c_cc[VTIME], line.c_cc[VMIN]), std::pair(cc_t{10}, cc_t{0}));
    // TIOCEXCL: others get EBUSY; root, whom it lets in, sees the flag.
    EXPECT_TRUE(exclusive(device.slave_path(), 1));
    EXPECT_EQ(device.receive(1, milliseconds(2500)), "");
    device.send("O");
    EXPECT_EQ(tool.wait(DEADLINE), 0);
    EXPECT_TRUE(exclusive(device.slave_path(), 0)); // released with the port
}

// In a session of its own the tool could make the line its controlling
// terminal; the hang-up would then kill it before it could say anything.
TEST(Line, HangUpInANewSessionEndsTheRunWithOneLine) {
    PtyDevice device;
    device.link_as_port(1);
    ToolProcess tool(tool_under_test(), {"prog"}, "", true);
    ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    device.hang_up();
    EXPECT_EQ(tool.wait(DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: lost the connection on " + port_path(1) + "\n");
}

// Arguments for /bin/sh to run the tool on "prog" with `redirections`.
std::vector<std::string> via_shell(const std::string& redirections) {
    return {"-c", "exec \"$0\" prog " + redirections, tool_under_test()};
}

// With standard error closed the port could take descriptor 2, and our
// text (trace, warnings) would go down the line; with its reader gone a
// write could kill us. Either way the device is served exactly.
TEST(UnusableStderr, DeviceIsServedExactly) {
    const std::pair<std::string, ChildStderr> launches[] = {{"2>&-", ChildStderr::captured},
                                                            {"<&- 2>&-", ChildStderr::captured},
                                                            {"", ChildStderr::broken_pipe}};
    for (const auto& [redirections, child_stderr] : launches) {
        TempDir dir;
        dir.write_file("prog.bas", std::string(400, 'x') + "\nB");
        PtyDevice device;
        device.link_as_port(1);
        ToolProcess tool("/bin/sh", via_shell(redirections), dir.path(), false, child_stderr);
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        device.send("Thello\0Mprog\0"s);
        EXPECT_EQ(device.receive_file_reply(DEADLINE), "OB\r\0"s);
        device.send("O");
        EXPECT_EQ(tool.wait(DEADLINE), 0) << redirections;
        EXPECT_EQ(device.receive_until_quiet(QUIET, QUIET), "");
    }
}

// A report longer than a small pipe reaches the reader whole: a blocking
// write cut short (by a stop and continue) is followed by the rest, and a
// non-blocking standard error that is full is waited on.
TEST(UnusableStderr, ShortWritesAreCompleted) {
    for (const bool nonblocking : {false, true}) {
        TempDir dir;
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        ASSERT_EQ(fcntl(ends[0], F_SETPIPE_SZ, 4096), 4096);
        fcntl(ends[1], F_SETFD, 0); // the tool's standard error, through the shell
        fcntl(ends[1], F_SETFL, nonblocking ? O_NONBLOCK : 0);
        PtyDevice device;
        device.link_as_port(1);
        ToolProcess tool("/bin/sh", via_shell("2>&" + std::to_string(ends[1])), dir.path());
        close(ends[1]);
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        const std::string report(20000, 'r');
        device.send("E" + report + "\0"s);
        // By then the tool is inside the one write of the report, which the
        // pipe cannot take whole.
        usleep(300000);
        siginfo_t stopped{};
        if (!nonblocking && kill(tool.pid(), SIGSTOP) == 0) {
            waitid(P_PID, static_cast<id_t>(tool.pid()), &stopped, WSTOPPED | WEXITED | WNOWAIT);
            kill(tool.pid(), SIGCONT);
        }
        std::string text;
        char buffer[4096];
        const auto until = std::chrono::steady_clock::now() + DEADLINE;
        for (ssize_t got = -1; got != 0 && std::chrono::steady_clock::now() < until;) {
            pollfd ready{ends[0], POLLIN, 0};
            poll(&ready, 1, 100);
            got = read(ends[0], buffer, sizeof buffer);
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        close(ends[0]);
        EXPECT_EQ(tool.wait(DEADLINE), 1);
        EXPECT_EQ(text, "Error " + dir.path() + "\\ " + report + "\n") << nonblocking;
    }
}

TEST(Options, HelpAndVersionGoToStandardOutputAndOpenNothing) {
    PtyDevice device;
    device.link_as_port(1);
    const std::string help = "Remote Control for Lorvan\nusage: lorvrc \\[-t\\] <program name> "
                             "\\[<port>\\]\n.*--list.*ttyUSB0 is /dev/ttyUSB0.*LORVRC_PORT.*";
    for (const auto& [option, text] : {std::pair{"--help", help},
                                       {"-h", help},
                                       {"--version", "lorvrc [0-9]+\\.[0-9]+\\.[0-9]+\n"s}}) {
        ToolProcess tool(tool_under_test(), {option, "prog"});
        EXPECT_EQ(tool.wait(DEADLINE), 0) << option;
        EXPECT_EQ(tool.stderr_text(), "") << option;
        EXPECT_THAT(tool.stdout_text(), testing::MatchesRegex(text));
    }
    EXPECT_EQ(device.receive(1, QUIET), "");
}

// The lock file other programs look for, LCK..pts_N for /dev/pts/N, and
// what it holds for a process.
std::string lock_file_of(const std::string& slave) {
    return test_root() + "/run/lock/LCK..pts_" + slave.substr(9);
}

std::string lock_text(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

// A stale lock (its process is gone) is replaced by ours, which goes at
// the end of the session (0) and on each signal that ends the run.
TEST(LockFile, StaleOneReplacedOursRemovedAtEveryEnd) {
    for (const int signal : {0, SIGINT, SIGTERM, SIGHUP}) {
        PtyDevice device;
        const pid_t gone = 99999999; // above any pid_max
        const std::string lock_file = lock_file_of(device.slave_path());
        std::ofstream(lock_file) << lock_text(gone);
        device.link_as_port(1);
        ToolProcess tool(tool_under_test(), {"prog"});
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        std::ostringstream text;
        text << std::ifstream(lock_file).rdbuf();
        EXPECT_EQ(text.str(), lock_text(tool.pid()));
        signal == 0 ? device.send("O") : static_cast<void>(kill(tool.pid(), signal));
        EXPECT_EQ(tool.wait(DEADLINE), signal == 0 ? 0 : 128 + signal);
        EXPECT_NE(access(lock_file.c_str(), F_OK), 0) << signal;
    }
}

const std::string IN_USE = " is in use by another program";

// Runs the tool on `port` (as nobody: root ignores TIOCEXCL and file
// modes) and expects one line that names the port, the reason and the
// fix, status 1, and nothing sent.
void expect_refusal(const PtyDevice& device, const std::string& port, bool as_nobody,
                    const std::string& line) {
    const std::vector<std::string> args = {"prog", port};
    ToolProcess tool(as_nobody ? "/usr/bin/setpriv" : tool_under_test(),
                     as_nobody ? std::vector<std::string>{"--reuid=65534", "--regid=65534",
                                                          "--clear-groups", tool_under_test(),
                                                          "prog", port}
                               : args);
    EXPECT_EQ(device.receive(1, QUIET), "");
    EXPECT_EQ(tool.wait(DEADLINE), 1) << line;
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + line + "\n");
}

TEST(Refused, HeldByALockFileOrFlock) {
    PtyDevice device;
    const std::string slave = device.slave_path();
    const std::string lock_file = lock_file_of(slave);
    std::ofstream(lock_file) << lock_text(getpid());
    expect_refusal(device, slave, false,
                   slave + IN_USE + " (process " + std::to_string(getpid()) +
                       " holds the lock file " + lock_file + ")");
    unlink(lock_file.c_str());
    const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(flock(held, LOCK_EX | LOCK_NB), 0);
    expect_refusal(device, slave, false, slave + IN_USE);
    close(held);
}

// A pseudo-terminal never unlockpt()-ed fails at open with EIO, as a ttyS
// port with no UART behind it does.
TEST(Refused, NoHardware) {
    PtyDevice device;
    const int never_unlocked = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_TRUE(link_port(1, ptsname(never_unlocked)));
    expect_refusal(device, "1", false,
                   "cannot open " + port_path(1) +
                       ": Input/output error (no serial hardware answers at this port; lorvrc "
                       "--list shows the ports that have some)");
    link_port(1, "");
    close(never_unlocked);
}

TEST(Refused, NoAccessOrExclusive) {
    const group* dialout = getgrnam("dialout");
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 || dialout == nullptr) {
        GTEST_SKIP() << "needs root, setpriv and a group dialout to act as an unprivileged user";
    }
    PtyDevice device;
    const std::string slave = device.slave_path();
    ASSERT_EQ(chown(slave.c_str(), 0, dialout->gr_gid) + chmod(slave.c_str(), 0660), 0);
    expect_refusal(device, slave, true,
                   "cannot open " + slave +
                       ": Permission denied (the port belongs to the group dialout: sudo usermod "
                       "-aG dialout $USER, then log in again)");
    const int held = open(slave.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_EQ(chmod(slave.c_str(), 0666) + ioctl(held, TIOCEXCL), 0);
    expect_refusal(device, slave, true, slave + IN_USE);
    close(held);
}

} // namespace
