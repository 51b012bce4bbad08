// The whole run, end to end: the built tool against a scripted device on a
// pseudo-terminal, from the command line to its exit.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <memory>
#include <poll.h>
#include <regex>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "device_session.h"
#include "port_choice.h"
#include "serial.h"
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

const SessionRow ROWS[] = {
    {"default_port", {"prog"}, {}, {"Cprog\0"s, "O"}, ""},
    {"trace_option_port_zero", {"-t", "prog", "0"}, {}, {"Tprog\0"s, "O"}, ""},
    {"option_with_suffix_is_a_name", {"-tx", "1"}, {}, {"C-tx\0"s, "O"}, ""},
    {"last_argument_is_the_port", {"prog", "x", "y", "3"}, {}, {"Cprog\0"s, "O"}, ""},
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
     "lorvrc: the program name holds characters the device cannot show (U+4E2D); sent as "
     "blanks\n"},
    // The device would take an empty name and start something else.
    {"name_too_long",
     {N300 + "n"},
     {},
     {},
     "lorvrc: the program name is 301 bytes long; the device takes at most 300\n",
     1},
    {"no_arguments", {}, {}, {}, USAGE, 1},
    {"option_alone", {"-t"}, {}, {}, USAGE, 1},
    // Bytes that are no command are skipped; "O" ends the run at once, the
    // request behind it unserved.
    {"ignored_bytes",
     {"prog"},
     {{"prog.bas", "A"}},
     {"Cprog\0"s,
      "\0BCZaem\xFF"
      "Mprog\0"s,
      "OA\r\0"s, "OMprog\0"s},
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
    const std::string slave = device.slave_path();
    const int before = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios line{};
    ASSERT_EQ(tcgetattr(before, &line), 0);
    cfsetspeed(&line, B9600);
    line.c_cflag = (line.c_cflag & ~tcflag_t{CSIZE}) | CS7 | PARENB | CSTOPB;
    ASSERT_EQ(tcsetattr(before, TCSANOW, &line), 0);
    close(before);

    ToolProcess tool(tool_under_test(), {"prog"});
    ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    // The master reads the slave's settings, for any user.
    ASSERT_EQ(tcgetattr(device.master(), &line), 0);
    EXPECT_EQ(cfgetispeed(&line), speed_t{B38400});
    EXPECT_EQ(cfgetospeed(&line), speed_t{B38400});
    EXPECT_EQ(line.c_cflag & tcflag_t{CSIZE | PARENB | CSTOPB | CREAD | CLOCAL},
              tcflag_t{CS8 | CREAD | CLOCAL});
    EXPECT_EQ(line.c_iflag & tcflag_t{BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON}, 0u);
    EXPECT_EQ(line.c_oflag & tcflag_t{OPOST}, 0u);
    EXPECT_EQ(line.c_lflag & tcflag_t{ECHO | ECHONL | ICANON | ISIG | IEXTEN}, 0u);
    EXPECT_EQ(line.c_cc[VTIME], 10);
    EXPECT_EQ(line.c_cc[VMIN], 0);
    // TIOCEXCL: others get EBUSY; root, whom it lets in, sees the flag.
    EXPECT_TRUE(exclusive(slave, 1));

    EXPECT_EQ(device.receive(1, milliseconds(2500)), "");
    device.send("O");
    EXPECT_EQ(tool.wait(DEADLINE), 0);
    EXPECT_TRUE(exclusive(slave, 0)); // released with the port
}

// In a session of its own the tool could make the line its controlling
// terminal; the hang-up would then kill it before it could say anything.
TEST(Line, HangUpEndsTheRunWithOneLine) {
    for (const bool new_session : {false, true}) {
        SCOPED_TRACE(new_session ? "new session" : "same session");
        PtyDevice device;
        device.link_as_port(1);
        ToolProcess tool(tool_under_test(), {"prog"}, "", new_session);
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        device.hang_up();
        EXPECT_EQ(tool.wait(DEADLINE), 1);
        EXPECT_EQ(tool.stderr_text(), "lorvrc: lost the connection on " + port_path(1) + "\n");
    }
}

// Arguments for /bin/sh to run the tool with `args` and `redirections`.
std::vector<std::string> via_shell(const std::string& redirections, std::vector<std::string> args) {
    args.insert(args.begin(), {"-c", "exec \"$0\" \"$@\" " + redirections, tool_under_test()});
    return args;
}

// With standard error closed the port could take descriptor 2, and our
// text (trace, warnings) would go down the line; with its reader gone a
// write could kill us. Either way the device is served exactly.
TEST(UnusableStderr, DeviceIsServedExactly) {
    const std::tuple<const char*, std::string, ChildStderr> launches[] = {
        {"closed", "", ChildStderr::closed},
        {"stdin_too", "<&- 2>&-", ChildStderr::captured},
        {"broken_pipe", "", ChildStderr::broken_pipe}};
    for (const auto& [what, redirections, child_stderr] : launches) {
        SCOPED_TRACE(what);
        TempDir dir;
        dir.write_file("prog.bas", std::string(400, 'x') + "\nB");
        PtyDevice device;
        device.link_as_port(1);
        ToolProcess tool(redirections.empty() ? tool_under_test() : "/bin/sh",
                         redirections.empty() ? std::vector<std::string>{"prog"}
                                              : via_shell(redirections, {"prog"}),
                         dir.path(), false, child_stderr);
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        device.send("Thello\0Mprog\0"s);
        EXPECT_EQ(device.receive_file_reply(DEADLINE), "OB\r\0"s);
        device.send("O");
        EXPECT_EQ(tool.wait(DEADLINE), 0);
        EXPECT_EQ(device.receive_until_quiet(QUIET, QUIET), "");
    }
}

// A write that takes only part of a message is followed by the rest. Here
// a stop and continue cuts short the write that waits on a full pipe.
TEST(UnusableStderr, ShortWriteIsCompleted) {
    TempDir dir;
    const std::string fifo = dir.path() + "/stderr";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_EQ(fcntl(reader, F_SETPIPE_SZ, 4096), 4096);
    PtyDevice device;
    device.link_as_port(1);
    ToolProcess tool("/bin/sh", via_shell("2>" + fifo, {"prog"}), dir.path());
    ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    const std::string report(20000, 'r');
    device.send("E" + report + "\0"s);
    // Once the pipe holds more than the report's first words, the tool is
    // inside the one write of the report, which the pipe cannot take whole.
    auto until = std::chrono::steady_clock::now() + DEADLINE;
    for (int queued = 0; queued < 100 && std::chrono::steady_clock::now() < until;) {
        usleep(5000);
        ioctl(reader, FIONREAD, &queued);
    }
    kill(tool.pid(), SIGSTOP);
    siginfo_t stopped{};
    waitid(P_PID, static_cast<id_t>(tool.pid()), &stopped, WSTOPPED | WEXITED | WNOWAIT);
    kill(tool.pid(), SIGCONT);
    std::string text;
    char buffer[4096];
    until = std::chrono::steady_clock::now() + DEADLINE;
    for (ssize_t got = -1; got != 0 && std::chrono::steady_clock::now() < until;) {
        pollfd ready{reader, POLLIN, 0};
        poll(&ready, 1, 100);
        got = read(reader, buffer, sizeof buffer);
        text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    close(reader);
    EXPECT_EQ(tool.wait(DEADLINE), 1);
    EXPECT_EQ(text, "Error " + dir.path() + "\\ " + report + "\n");
}

// How a port number is read: refused outside 0..15, also when too big for
// an int, and named as typed.
TEST(ChoosePort, ReadsNumbersAsStrtolDoes) {
    const std::pair<std::string, int> cases[] = {{"15", 15}, {"3x", 3},  {" +2", 2},
                                                 {"16", -1}, {"-1", -1}, {"4294967297", -1},
                                                 {"", -2},   {" +", -2}};
    for (const auto& [text, slot] : cases) {
        const PortChoice got = choose_port(text, false);
        const std::string refusal = slot == -1   ? "there is no serial port " + text + ";"
                                    : slot == -2 ? "\"" + text + "\" is not a port;"
                                                 : "";
        EXPECT_EQ(got.refusal.substr(0, refusal.size()), refusal) << text;
        EXPECT_EQ(got.refusal.empty(), refusal.empty()) << text;
        EXPECT_EQ(got.path, slot >= 0 ? serial_device_path(slot) : got.path) << text;
        EXPECT_EQ(got.slot, std::max(slot, 0)) << text;
    }
}

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
    {"device_path", {"prog", "<pty>"}, nullptr, "", ""},
    {"tty_name", {"prog", "ttyUSB5"}, nullptr, "ttyUSB5", ""},
    {"variable_number", {"prog"}, "3", "3", ""},
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
        EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        device.send("O");
    }
    EXPECT_EQ(device.receive_until_quiet(QUIET, QUIET), "");
    EXPECT_EQ(tool.wait(DEADLINE), c.message.empty() ? 0 : 1);
    EXPECT_EQ(tool.stderr_text(), c.message.empty() ? "" : "lorvrc: " + c.message + "\n");
    unlink(tty_link.c_str());
}

INSTANTIATE_TEST_SUITE_P(Table, PortForm, testing::ValuesIn(FORM_CASES),
                         [](const auto& info) { return std::string(info.param.what); });

TEST(Options, HelpAndVersionGoToStandardOutputAndOpenNothing) {
    PtyDevice device;
    device.link_as_port(1);
    std::vector<std::string> texts;
    for (const std::string option : {"--help", "-h", "--version"}) {
        ToolProcess tool(tool_under_test(), {option, "prog"});
        EXPECT_EQ(tool.wait(DEADLINE), 0) << option;
        EXPECT_EQ(tool.stderr_text(), "") << option;
        texts.push_back(tool.stdout_text());
    }
    EXPECT_THAT(texts[0], testing::StartsWith("Remote Control for Lorvan\nusage: lorvrc [-t] "
                                              "<program name> [<port>]\n"));
    for (const char* part : {"--list", "LORVRC_PORT", "ttyUSB0 is /dev/ttyUSB0"}) {
        EXPECT_THAT(texts[0], testing::HasSubstr(part));
    }
    EXPECT_EQ(texts[1], texts[0]);
    EXPECT_THAT(texts[2], testing::MatchesRegex("lorvrc [0-9]+\\.[0-9]+\\.[0-9]+\n"));
    EXPECT_EQ(device.receive(1, QUIET), "");
}

// The lock file other programs look for: LCK..pts_N for /dev/pts/N, and
// what it holds for a process.
std::string lock_file_of(const PtyDevice& device) {
    return test_root() + "/run/lock/LCK..pts_" + device.slave_path().substr(9);
}

std::string lock_text(pid_t pid) {
    char text[16];
    std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(pid));
    return text;
}

std::string read_file(const std::string& path) {
    std::ostringstream text;
    text << std::ifstream(path).rdbuf();
    return text.str();
}

// A stale lock (its process is gone) is replaced by ours, which goes at
// the end of the session (0) and on each signal that ends the run.
TEST(LockFile, StaleOneReplacedOursRemovedAtEveryEnd) {
    for (const int signal : {0, SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(signal);
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
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        EXPECT_EQ(read_file(lock_file), lock_text(tool.pid()));
        signal == 0 ? device.send("O") : static_cast<void>(kill(tool.pid(), signal));
        EXPECT_EQ(tool.wait(DEADLINE), signal == 0 ? 0 : 128 + signal);
        EXPECT_NE(access(lock_file.c_str(), F_OK), 0);
    }
}

// How another program holds the line, or why it cannot be opened.
enum class Taken { lock_file, flock, exclusive, no_access, missing, not_a_terminal, no_hardware };

struct Refusal {
    Taken line;
    std::string message; // "<port>" and "<lock>" stand for the paths, "<pid>" for ours
};

std::ostream& operator<<(std::ostream& out, const Refusal& r) { return out << r.message; }

const std::string IN_USE = "<port> is in use by another program";

const Refusal REFUSALS[] = {
    {Taken::lock_file, IN_USE + " (process <pid> holds the lock file <lock>)"},
    {Taken::flock, IN_USE},
    {Taken::exclusive, IN_USE},
    {Taken::no_access, "cannot open <port>: Permission denied (the port belongs to the group "
                       "dialout: sudo usermod -aG dialout $USER, then log in again)"},
    {Taken::missing, "cannot open <port>: No such file or directory (lorvrc --list shows the "
                     "ports there are)"},
    {Taken::not_a_terminal, "cannot open <port>: Inappropriate ioctl for device"},
    // A pseudo-terminal never unlockpt()-ed fails at open with EIO, as a
    // ttyS port with no UART behind it does.
    {Taken::no_hardware, "cannot open <port>: Input/output error (no serial hardware answers at "
                         "this port; lorvrc --list shows the ports that have some)"},
};

class Refused : public testing::TestWithParam<Refusal> {};

// One line that names the port, the reason and the fix; status 1; nothing
// sent. Root ignores TIOCEXCL and file modes: those rows run the tool as
// nobody.
TEST_P(Refused, SaysWhyAndSendsNothing) {
    const Refusal& r = GetParam();
    PtyDevice device;
    const std::string slave = device.slave_path();
    const std::string lock_file = lock_file_of(device);
    const int never_unlocked = posix_openpt(O_RDWR | O_NOCTTY);
    const int held = r.line == Taken::flock || r.line == Taken::exclusive
                         ? open(slave.c_str(), O_RDWR | O_NOCTTY)
                         : -1;
    const group* dialout = getgrnam("dialout");
    const bool as_nobody = r.line == Taken::exclusive || r.line == Taken::no_access;
    if (as_nobody && (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0 || !dialout)) {
        GTEST_SKIP() << "needs root, setpriv and a group dialout to act as an unprivileged user";
    }
    bool ready = true;
    switch (r.line) {
    case Taken::lock_file: std::ofstream(lock_file) << lock_text(getpid()); break;
    case Taken::flock: ready = flock(held, LOCK_EX | LOCK_NB) == 0; break;
    case Taken::exclusive:
        ready = chmod(slave.c_str(), 0666) == 0 && ioctl(held, TIOCEXCL) == 0;
        break;
    case Taken::no_access:
        ready = chown(slave.c_str(), 0, dialout->gr_gid) == 0 && chmod(slave.c_str(), 0660) == 0;
        break;
    case Taken::missing: break;
    case Taken::not_a_terminal: ready = link_port(1, "/dev/null"); break;
    case Taken::no_hardware: ready = link_port(1, ptsname(never_unlocked)); break;
    }
    ASSERT_TRUE(ready);
    if (r.line == Taken::lock_file || r.line == Taken::flock) {
        device.link_as_port(1);
    }
    const std::string port = as_nobody ? slave : port_path(1);
    ToolProcess tool(as_nobody ? "/usr/bin/setpriv" : tool_under_test(),
                     as_nobody ? std::vector<std::string>{"--reuid=65534", "--regid=65534",
                                                          "--clear-groups", tool_under_test(),
                                                          "prog", slave}
                               : std::vector<std::string>{"prog"});
    EXPECT_EQ(device.receive(1, QUIET), "");
    EXPECT_EQ(tool.wait(DEADLINE), 1);
    std::string message = std::regex_replace(r.message, std::regex("<port>"), port);
    message = std::regex_replace(message, std::regex("<lock>"), lock_file);
    message = std::regex_replace(message, std::regex("<pid>"), std::to_string(getpid()));
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + message + "\n");
    unlink(lock_file.c_str());
    link_port(1, "");
    close(held);
    close(never_unlocked);
}

INSTANTIATE_TEST_SUITE_P(Table, Refused, testing::ValuesIn(REFUSALS));

} // namespace
