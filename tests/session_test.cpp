// The whole run, end to end: the built tool against a scripted device on a
// pseudo-terminal, from the command line to its exit.
#include <gmock/gmock.h>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <thread>

#include "command_line.h"
#include "device_session.h"
#include "session_rows.h"
#include "timing.h"

using namespace testing_support;
using std::string_literals::operator""s;
namespace fs = std::filesystem;

namespace {

const std::string USAGE = "Remote Control for Lorvan\nusage:\nlorvrc <program name>\n";
const std::string N300(300, 'n');
const std::vector<std::string> SERVED = {"Cprog\0"s, "O"};
const std::vector<std::string> IGNORED = {"Cprog\0"s, "\0BCZaem\xFFMprog\0"s, "OA\r\0"s,
                                          "OMprog\0"s};
const std::string UNHELD =
    "lorvrc: the program name holds characters the device cannot show (U+4E2D); sent as blanks\n";
const std::string LATE_OPTION =
    "lorvrc: -v after the program name is ignored; options come first\n";
const std::string NO_LINES =
    "lorvrc: <port> has no modem control lines; --dtr and --rts are ignored\n";

// A run that sends nothing and ends with status 1 and this one line.
SessionRow refused(const char* what, const std::vector<std::string>& args,
                   const std::string& line) {
    return {what, args, {}, {}, line.empty() ? USAGE : "lorvrc: " + line + "\n", 1};
}

const SessionRow ROWS[] = {
    {"default_port", {"prog"}, {}, SERVED, ""},
    // The option reader's warnings are told, and the run goes on.
    {"trace_and_a_late_option", {"-t", "prog", "-v", "0"}, {}, {"Tprog\0"s, "O"}, LATE_OPTION},
    // Typed in UTF-8, sent in Windows-1252.
    {"utf8_name", {"caf\u00E9\u20AC"}, {}, {"Ccaf\x91\xE7\0"s, "O"}, ""},
    {"longest_name", {N300}, {}, {"C" + N300 + "\0"s, "O"}, ""},
    {"unheld_character", {"a\u4E2Db"}, {}, {"Ca b\0"s, "O"}, UNHELD},
    // The device would take an empty name and start something else.
    refused("name_too_long", {N300 + "n"},
            "the program name is 301 bytes long; the device takes at most 300"),
    refused("no_arguments", {}, ""),
    // Never sent to the device as a program name.
    refused("unknown_option", {"-b", "115200", "prog", "1"},
            "unknown option \"-b\" (lorvrc --help lists the options)"),
    refused("not_a_terminal", {"prog", "/dev/null"}, "/dev/null is not a serial port"),
    {"no_modem_lines", {"--dtr=off", "--rts=on", "--no-hangup", "prog"}, {}, SERVED, NO_LINES},
    // Bytes that are no command are skipped; "O" ends the run at once, the
    // request behind it unserved.
    {"ignored_bytes", {"prog"}, {{"prog.bas", "A"}}, IGNORED, ""},
    // To standard output, opening nothing: port 1, linked, hears nothing.
    {"help", {"--help"}, {}, {}, "", 0, help_text()},
    {"version", {"--version"}, {}, {}, "", 0, version_text()},
};

class Session : public testing::TestWithParam<SessionRow> {};

TEST_P(Session, Plays) { EXPECT_EQ(play(GetParam()), expected(GetParam())); }

INSTANTIATE_TEST_SUITE_P(Rows, Session, testing::ValuesIn(ROWS),
                         [](const auto& info) { return std::string(info.param.what); });

// The output of --help, --version (and --list, which goes the same way) is
// the point of the call: a closed standard output too is a failed write.
TEST(Options, HelpAndVersionThatCannotBeWrittenFail) {
    for (const auto& [call, why] : {std::pair{"--help >/dev/full", "the help: No space left"},
                                    {"--version >&-", "the version: Bad file"}}) {
        ToolProcess tool("/bin/sh", {"-c", "exec \"$0\" "s + call, tool_under_test()});
        EXPECT_EQ(tool.wait(DEADLINE), 1);
        EXPECT_THAT(tool.stderr_text(), testing::StartsWith("lorvrc: cannot write "s + why));
    }
}

class PortList : public testing::Test {
    void SetUp() override { TearDown(); }
    void TearDown() override {
        for (const char* made : {"sys", "dev/serial", "dev/ttyUSB0", "dev/ttyACM0"}) {
            fs::remove_all(fs::path(test_root()) / made);
        }
    }
};

// Every tree has ttys without hardware: a virtual console, a ttyS with no
// UART. Alone they make no port.
TEST_F(PortList, ListsUartsAndUsbAdaptersWithTheirStableNames) {
    plant("sys/class/tty/tty1/dev", "4:1");
    make_tty("ttyS0", "platform", "serial8250", "serial8250", {"0"});
    const SessionRow none = {"none", {"--list"}, {}, {}, "lorvrc: no serial ports found\n"};
    EXPECT_EQ(play(none), expected(none));
    make_tty("ttyS10", "platform", "serial8250", "serial8250", {"99"});
    make_tty("ttyS2", "platform", "serial8250", "serial8250", {"4"});
    // The port is two levels below its USB device for usb-serial, one for ACM.
    make_tty("ttyUSB0", "usb1/1-2", "1-2:1.0/ttyUSB0", "ftdi_sio",
             {"0403", "6001", "FTDI", "FT232R USB UART", "A10K3Z5M"});
    make_tty("ttyACM0", "usb1/1-3", "1-3:1.0", "cdc_acm", {"2e8a", "000a", "Raspberry Pi", "Pico"});
    make_tty("ttyUSB1", "usb1", "1-4:1.0/ttyUSB1", "ftdi_sio", {}); // no ids up to the root
    plant("dev/ttyUSB0", "");
    plant("dev/ttyACM0", "");
    // Relative, as udev makes them; the names are never read for a device.
    plant("dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0", "-> ../../ttyUSB0");
    plant("dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0", "-> ../../ttyUSB0");
    plant("dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0", "-> ../../ttyACM0");
    plant("dev/serial/by-id/usb-gone-if00-port0", "-> ../../ttyUSB9");
    SessionRow all = {"all", {"--list", "ignored"}, {}, {}, ""};
    all.stdout_text = "<root>/dev/ttyACM0  cdc_acm  2e8a:000a  Raspberry Pi Pico\n"
                      "  <root>/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0\n"
                      "<root>/dev/ttyS2  serial8250  16550A\n"
                      "<root>/dev/ttyS10  serial8250  UART type 99\n"
                      "<root>/dev/ttyUSB0  ftdi_sio  0403:6001  FTDI FT232R USB UART  serial "
                      "A10K3Z5M\n"
                      "  <root>/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10K3Z5M-if00-port0\n"
                      "  <root>/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0\n"
                      "<root>/dev/ttyUSB1  ftdi_sio\n";
    EXPECT_EQ(play(all), expected(all));
    // The default port, not there: the ports that are, and how to use one.
    // A name the shell would split is quoted in the example.
    const SessionRow missing = refused(
        "missing", {"it's here"},
        "cannot open " + port_path(1) +
            " (the default port): No such file or directory (ports with hardware here: "
            "<root>/dev/ttyACM0, Raspberry Pi Pico; <root>/dev/ttyS2, 16550A; <root>/dev/ttyS10, "
            "UART type 99; use one with: lorvrc 'it'\\''s here' ttyACM0)");
    EXPECT_EQ(play(missing, {0, 1}), expected(missing));
}

// Whether the line's TIOCEXCL flag is `flag`, as far as this user can see:
// an open that TIOCEXCL refuses counts as set.
bool exclusive(const std::string& slave, int flag) {
    const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    int set = fd < 0 && errno == EBUSY ? 1 : -1;
    return (fd < 0 || (ioctl(fd, TIOCGEXCL, &set) == 0 && close(fd) == 0)) && set == flag;
}

// The lock file other programs look for, LCK..pts_N for /dev/pts/N, and
// what it holds for a process.
std::string lock_file_of(const std::string& slave) {
    return test_root() + "/run/lock/LCK..pts_" + slave.substr(9);
}

std::string file_text(const std::string& path) {
    return (std::ostringstream() << std::ifstream(path).rdbuf()).str();
}

std::string lock_text(int pid) {
    return (std::ostringstream() << std::setw(10) << pid << '\n').str();
}

const int HANG_UP = -1, TIME_OUT = -2;
const std::string IN_USE = " is in use by another program";

// Another program may have left the line in any state and a stale lock (its
// process gone): every setting the tool relies on is its own, and the line
// and lock are its alone until the run ends, by the device (0), a signal, a
// hang-up or --timeout. In a session of its own the tool could make the line
// its controlling terminal; the hang-up would then kill it before it could
// say anything. (A silent device is waited for through the line's read
// time-outs, not a byte sent: Patience, whose `logged` device hears nothing.)
TEST(Line, IsSetUpHeldAndReleasedAtEveryEnd) {
    for (const int end : {0, SIGINT, SIGTERM, SIGHUP, HANG_UP, TIME_OUT}) {
        PtyDevice device;
        const std::string lock_file = lock_file_of(device.slave_path());
        std::ofstream(lock_file) << lock_text(99999999); // above any pid_max
        device.link_as_port(1);
        termios line{};
        ASSERT_EQ(tcgetattr(device.master(), &line) + cfsetspeed(&line, B9600), 0);
        line.c_cflag = (line.c_cflag & ~tcflag_t{CSIZE}) | CS7 | PARENB | CSTOPB;
        ASSERT_EQ(tcsetattr(device.master(), TCSANOW, &line), 0);
        ToolProcess tool(tool_under_test(), {end == TIME_OUT ? "--timeout=1" : "--", "prog"}, "",
                         end == HANG_UP);
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(file_text(lock_file), lock_text(tool.pid()));
        EXPECT_EQ(fs::status(lock_file).permissions(), fs::perms(0644)); // all may read it
        // The master reads the slave's settings, for any user. The serial
        // module's own tests check the rest of what it sets.
        ASSERT_EQ(tcgetattr(device.master(), &line), 0);
        EXPECT_EQ(std::tuple(cfgetispeed(&line), cfgetospeed(&line),
                             line.c_cflag & (CSIZE | PARENB | CSTOPB), line.c_cc[VTIME]),
                  std::tuple(speed_t{B38400}, speed_t{B38400}, tcflag_t{CS8}, cc_t{10}));
        // TIOCEXCL: others get EBUSY; root, whom it lets in, sees the flag.
        EXPECT_TRUE(exclusive(device.slave_path(), 1));
        end == HANG_UP ? device.hang_up()
        : end == 0     ? device.send("O")
        : end > 0      ? static_cast<void>(kill(tool.pid(), end))
                       : void();
        EXPECT_EQ(tool.wait(DEADLINE), end == 0 ? 0 : end < 0 ? 1 : 128 + end);
        EXPECT_EQ(tool.stderr_text(),
                  end == HANG_UP ? "lorvrc: lost the connection on " + port_path(1) + "\n"
                  : end == TIME_OUT
                      ? "lorvrc: no answer from the device on " + port_path(1) + " for 1 s\n"
                      : "");
        // A silence of 1 s is seen at the next read time-out, 1 s later at most.
        EXPECT_TRUE(end != TIME_OUT ||
                    std::chrono::steady_clock::now() - started < std::chrono::milliseconds(2200));
        EXPECT_NE(access(lock_file.c_str(), F_OK), 0) << end;
        // Released with the port, a signal's end too; a hung-up line is gone.
        EXPECT_TRUE(end == HANG_UP || exclusive(device.slave_path(), 0)) << end;
    }
}

// Every byte from the device starts the silence of --timeout anew. The
// notice comes once, 3 s into the silence, when standard error is a
// terminal and the device has said nothing at all: a device that spoke
// first, or standard error in a file, gets none.
TEST(Patience, TimeoutCountsOnlySilenceAndTheNoticeIsForATerminal) {
    PtyDevice silent, spoke, logged, terminal, talking;
    std::vector<std::unique_ptr<ToolProcess>> tools;
    // `spoke` falls silent first: a notice it wrongly had would come first.
    auto silent_since = std::chrono::steady_clock::now();
    for (const PtyDevice* device : {&spoke, &silent, &logged}) {
        const std::string to = device == &logged ? "" : " 2>" + terminal.slave_path();
        tools.push_back(std::make_unique<ToolProcess>(
            "/bin/sh", std::vector<std::string>{"-c", "exec \"$0\" prog \"$1\"" + to,
                                                tool_under_test(), device->slave_path()}));
        ASSERT_EQ(device->receive_through_zero(DEADLINE), "Cprog\0"s);
        silent_since = device == &silent ? std::chrono::steady_clock::now() : silent_since;
        if (device == &spoke) {
            spoke.send("T.\0"s);
            ASSERT_EQ(terminal.receive(1, DEADLINE), ".");
        }
    }
    const std::string notice = "lorvrc: nothing from the device on " + silent.slave_path() +
                               " yet; still waiting (Ctrl-C to stop)\r\n";
    const auto early = silent_since + milliseconds(2500) - std::chrono::steady_clock::now();
    EXPECT_EQ(terminal.receive(1, std::chrono::duration_cast<milliseconds>(early)), ""); // not yet
    EXPECT_EQ(terminal.receive(notice.size(), milliseconds(3000) + DEADLINE), notice);
    // Then a run whose device sends a byte every 0.6 s, 3.6 s in all, under
    // --timeout=1; meanwhile the notice has had time to come again.
    ToolProcess timed(tool_under_test(), {"--timeout=1", "prog", talking.slave_path()});
    ASSERT_EQ(talking.receive_through_zero(DEADLINE), "Cprog\0"s);
    talking.send("T");
    for (std::string shown = "."; shown.size() <= 6; shown += '.') {
        talking.send(".");
        ASSERT_TRUE(timed.wait_for_stderr(shown, DEADLINE));
        std::this_thread::sleep_for(milliseconds(600)); // the silence under test
    }
    talking.send("\0O"s);
    EXPECT_EQ(timed.wait(DEADLINE), 0);
    EXPECT_EQ(timed.stderr_text(), "......");
    for (PtyDevice* device : {&silent, &spoke, &logged}) {
        device->send("O");
    }
    for (const auto& tool : tools) {
        EXPECT_EQ(tool->wait(DEADLINE), 0);
    }
    EXPECT_EQ(logged.receive(1, milliseconds(0)) + tools[2]->stderr_text(), "");
    EXPECT_EQ(terminal.receive(1, milliseconds(0)), "");
}

// --wait: a port that appears once the tool waits for it, one held by a
// lock file that goes away then, and one still held when the wait is over.
TEST(Wait, ForAPortToAppearAndToBeFree) {
    PtyDevice device;
    const std::string slave = device.slave_path(), lock_file = lock_file_of(slave);
    const std::string holder =
        " (process " + std::to_string(getpid()) + " holds the lock file " + lock_file + ")";
    const std::string free = "waiting for " + slave + " to be free" + holder;
    link_port(1, "");
    const std::tuple<std::string, std::string, bool, std::string> cases[] = {
        {"1", "--wait=5", true, "waiting for " + port_path(1) + " to appear"},
        {slave, "--wait", true, free},
        {slave, "--wait=1", false, free + "\nlorvrc: " + slave + IN_USE + holder}};
    for (const auto& [port, option, freed, text] : cases) {
        if (port == slave) {
            std::ofstream(lock_file) << lock_text(getpid());
        }
        ToolProcess tool(tool_under_test(), {option, "prog", port});
        ASSERT_TRUE(tool.wait_for_stderr("lorvrc: waiting for ", DEADLINE));
        if (freed) {
            port == slave ? static_cast<void>(unlink(lock_file.c_str())) : device.link_as_port(1);
            EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
            device.send("O");
        }
        EXPECT_EQ(tool.wait(DEADLINE), freed ? 0 : 1);
        EXPECT_EQ(tool.stderr_text(), "lorvrc: " + text + "\n");
        unlink(lock_file.c_str());
    }
}

// Two runs started at one instant on one port: the one that runs always
// has its lock file, whole, however the other ends. At the end a run
// removes its lock file only while the file still holds its pid.
TEST(LockFile, IsNeverLostToARaceNorTakenFromAnother) {
    for (int round = 0; round < 20; ++round) {
        PtyDevice device;
        const std::string lock_file = lock_file_of(device.slave_path());
        int barrier[2];
        ASSERT_EQ(pipe2(barrier, O_CLOEXEC), 0);
        fcntl(barrier[0], F_SETFD, 0); // the children wait on it
        std::vector<std::unique_ptr<ToolProcess>> tools;
        for (int i = 0; i < 2; ++i) {
            tools.push_back(std::make_unique<ToolProcess>(
                "/bin/sh", std::vector<std::string>{"-c",
                                                    "read _ <&" + std::to_string(barrier[0]) +
                                                        "; exec \"$0\" prog \"$1\"",
                                                    tool_under_test(), device.slave_path()}));
        }
        close(barrier[0]);
        close(barrier[1]); // both wake at once
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s) << round;
        const std::string held = file_text(lock_file);
        const int winner = lock_text(tools[1]->pid()) == held ? 1 : 0;
        EXPECT_EQ(held, lock_text(tools[winner]->pid())) << round;
        EXPECT_EQ(tools[1 - winner]->wait(DEADLINE), 1);
        EXPECT_EQ(tools[1 - winner]->stderr_text(),
                  "lorvrc: " + device.slave_path() + IN_USE + " (process " +
                      std::to_string(tools[winner]->pid()) + " holds the lock file " + lock_file +
                      ")\n");
        EXPECT_EQ(file_text(lock_file), held) << round;
        if (round == 0) { // replaced by another program while we run
            std::ofstream(lock_file) << lock_text(getpid());
        }
        device.send("O");
        EXPECT_EQ(tools[winner]->wait(DEADLINE), 0);
        EXPECT_EQ(file_text(lock_file), round == 0 ? lock_text(getpid()) : "");
        unlink(lock_file.c_str());
    }
}

// With standard input and error closed the port could take descriptor 2,
// and our text (trace, report) would go down the line; with its reader
// gone a write could kill us. Either way the device is served exactly. A
// report longer than a small pipe reaches the reader whole: a blocking
// write cut short (by a stop and continue) is followed by the rest, and a
// non-blocking standard error that is full is waited on.
TEST(UnusableStderr, DeviceIsServedExactlyAndTextWhole) {
    const std::tuple<std::string, ChildStderr, int> launches[] = {
        {"2>&-", ChildStderr::captured, 0},
        {"<&- 2>&-", ChildStderr::captured, 0},
        {"", ChildStderr::broken_pipe, 0},
        {"2>&", ChildStderr::captured, 0}, // to the pipe
        {"2>&", ChildStderr::captured, O_NONBLOCK}};
    for (const auto& [redirections, child_stderr, flags] : launches) {
        TempDir dir;
        dir.write_file("prog.bas", "B");
        int ends[2];
        ASSERT_EQ(pipe2(ends, O_CLOEXEC | O_NONBLOCK), 0);
        ASSERT_EQ(fcntl(ends[0], F_SETPIPE_SZ, 4096), 4096);
        fcntl(ends[1], F_SETFD, 0); // the tool's standard error, through the shell
        fcntl(ends[1], F_SETFL, flags);
        const bool piped = redirections == "2>&";
        PtyDevice device;
        device.link_as_port(1);
        // Room for few descriptors: a file reply that left its file open would
        // soon have the requests refused.
        const std::string command = "ulimit -n 20; exec \"$0\" prog " + redirections;
        ToolProcess tool(
            "/bin/sh", {"-c", command + (piped ? std::to_string(ends[1]) : ""), tool_under_test()},
            dir.path(), false, child_stderr);
        close(ends[1]);
        ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        std::string requests = "Thello\0"s, replies;
        for (int i = 0; i < 20; ++i, requests += "Mprog\0"s, replies += "OB\r\0"s) {
        }
        device.send(requests);
        EXPECT_EQ(device.receive(replies.size(), DEADLINE), replies);
        const std::string report(20000, 'r');
        device.send("E" + report + "\0"s);
        // Once the pipe is full the tool is inside the one write of the
        // report, which the pipe cannot take whole.
        int queued = 0;
        wait_until([&] { return !piped || (ioctl(ends[0], FIONREAD, &queued), queued >= 4096); },
                   DEADLINE);
        siginfo_t stopped{};
        if (piped && flags == 0 && kill(tool.pid(), SIGSTOP) == 0) {
            waitid(P_PID, static_cast<id_t>(tool.pid()), &stopped, WSTOPPED | WEXITED | WNOWAIT);
            kill(tool.pid(), SIGCONT);
        }
        std::string text;
        char buffer[4096];
        pollfd ready{ends[0], POLLIN, 0};
        for (ssize_t got = -1; got != 0 && poll(&ready, 1, 3000) > 0;) {
            got = read(ends[0], buffer, sizeof buffer);
            text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
        }
        close(ends[0]);
        EXPECT_EQ(tool.wait(DEADLINE), 1) << redirections;
        EXPECT_EQ(device.receive_until_quiet(QUIET, QUIET), "");
        EXPECT_EQ(text, piped ? "hello\nError " + dir.path() + "\\prog.bas " + report + "\n" : "")
            << flags;
    }
}

const std::vector<std::string> AS_NOBODY = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534",
                                            "--clear-groups"};
// The tool with the port as its standard input.
const std::vector<std::string> PORT_AS_STDIN = {"/bin/sh", "-c", "exec \"$0\" \"$@\" <\"$2\""};

// A port the test holds or spoils as another program would: a pty, and
// what is undone at the end.
struct Spoiled {
    PtyDevice device;
    const std::string slave = device.slave_path();
    const std::string lock_file = lock_file_of(slave);
    std::vector<int> held; // descriptors on it, or on another pty

    int hold(int fd) { return held.emplace_back(fd); }
    int hold() { return hold(open(slave.c_str(), O_RDWR | O_NOCTTY)); }
    ~Spoiled() {
        unlink(lock_file.c_str());
        link_port(1, "");
        std::for_each(held.begin(), held.end(), close);
    }
};

// Who must run the tool for the refusal to show: root passes TIOCEXCL and
// file modes, so it plays an ordinary user there; only root can give the
// port to a group.
enum class Needs { anyone, ordinary_user, root };

// How the port is spoiled (false: it could not be), the port the tool is
// given (the pty, or 1), and the line it must print, in which "<pty>",
// "<lock>" and "<1>" stand for the pty's path, its lock file and the path
// of port 1.
struct Refusal {
    const char* what;
    bool (*spoil)(Spoiled&);
    bool port_1;
    std::string line;
    Needs needs = Needs::anyone;
    std::vector<std::string> launcher = {};
};

const std::string UNREADABLE = "<pty> is in use: <lock> is not a lock file lorvrc can read";
const std::string IN_USE_LINE = "<pty>" + IN_USE;

// (A port held by another's lock file: Wait.ForAPortToAppearAndToBeFree.)
const Refusal REFUSALS[] = {
    // Anyone may write the lock directory: what is no lock file there, a
    // FIFO above all, must neither hang the run nor be taken for free. (A
    // link there is not followed, and reads as unreadable as the FIFO.)
    {"fifo_as_lock_file", [](Spoiled& s) { return mkfifo(s.lock_file.c_str(), 0666) == 0; }, false,
     UNREADABLE},
    {"flock", [](Spoiled& s) { return flock(s.hold(), LOCK_EX | LOCK_NB) == 0; }, false,
     IN_USE_LINE},
    // A pseudo-terminal never unlockpt()-ed fails at open with EIO, as a
    // ttyS port with no UART behind it does.
    {"no_hardware",
     [](Spoiled& s) { return link_port(1, ptsname(s.hold(posix_openpt(O_RDWR | O_NOCTTY)))); },
     true,
     "cannot open <1>: Input/output error (no serial hardware answers at this port; lorvrc "
     "--list shows the ports that have some)"},
    {"own_terminal", [](Spoiled&) { return true; }, false,
     "<pty> is your own terminal, not a serial port", Needs::anyone, PORT_AS_STDIN},
    {"exclusive",
     [](Spoiled& s) { return chmod(s.slave.c_str(), 0666) + ioctl(s.hold(), TIOCEXCL) == 0; },
     false, IN_USE_LINE, Needs::ordinary_user},
    {"no_access",
     [](Spoiled& s) {
         return chown(s.slave.c_str(), 0, getgrnam("dialout")->gr_gid) +
                    chmod(s.slave.c_str(), 0660) ==
                0;
     },
     false,
     "cannot open <pty>: Permission denied (the port belongs to the group dialout: sudo usermod "
     "-aG dialout $USER, then log in again)",
     Needs::root},
};

std::ostream& operator<<(std::ostream& out, const Refusal& row) { return out << row.what; }

class Refused : public testing::TestWithParam<Refusal> {};

// Each refusal is one line that names the port, the reason and the fix,
// with status 1; the line's settings stay as they were, and a lock file
// the refused run made goes with it.
TEST_P(Refused, NamesThePortTheReasonAndTheFix) {
    const Refusal& row = GetParam();
    const bool root = geteuid() == 0;
    if (row.needs == Needs::root && !root) {
        GTEST_SKIP() << "needs root to give the port to the group dialout";
    }
    const bool as_nobody = row.needs != Needs::anyone && root;
    if (as_nobody && (access(AS_NOBODY[0].c_str(), X_OK) != 0 || getgrnam("dialout") == nullptr)) {
        GTEST_SKIP() << "needs setpriv and a group dialout to act as an unprivileged user";
    }
    Spoiled spoiled;
    ASSERT_TRUE(row.spoil(spoiled));
    std::vector<std::string> run = as_nobody ? AS_NOBODY : row.launcher;
    run.insert(run.end(), {tool_under_test(), "prog", row.port_1 ? "1" : spoiled.slave});
    termios before{}, after{};
    tcgetattr(spoiled.device.master(), &before);
    ToolProcess tool(run[0], {run.begin() + 1, run.end()});
    EXPECT_EQ(tool.wait(DEADLINE), 1);
    std::string line = replaced(row.line, "<pty>", spoiled.slave);
    line = replaced(replaced(line, "<lock>", spoiled.lock_file), "<1>", port_path(1));
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + line + "\n");
    tcgetattr(spoiled.device.master(), &after);
    EXPECT_EQ(std::memcmp(&before, &after, sizeof before), 0);
    const std::string lock_file =
        lock_file_of(fs::canonical(row.port_1 ? port_path(1) : spoiled.slave));
    EXPECT_TRUE(!fs::is_regular_file(lock_file) || file_text(lock_file) != lock_text(tool.pid()));
}

INSTANTIATE_TEST_SUITE_P(Rows, Refused, testing::ValuesIn(REFUSALS),
                         [](const auto& info) { return std::string(info.param.what); });

} // namespace
