// Network ports end to end: the built tool against Debian's ser2net on
// 127.0.0.1, whose device is a pseudo-terminal the test plays, and against
// a scripted server of a few lines for what ser2net cannot show.
#include <gmock/gmock.h>

#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "device_session.h"
#include "session_rows.h"

using namespace testing_support;
using std::string_literals::operator""s;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

const milliseconds DEADLINE(3000);
// ser2net's device: this port's link, which each run points at its own pty.
constexpr int DEVICE_PORT = 11;

std::string ser2net_program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

// Without ser2net every test here is skipped, saying why.
struct NeedsSer2net : testing::Environment {
    void SetUp() override {
        if (ser2net_program().empty()) {
            std::fprintf(stderr, "skipped: no ser2net (Debian: apt-get install ser2net)\n");
            std::exit(77);
        }
    }
};
const auto* const needs_ser2net = testing::AddGlobalTestEnvironment(new NeedsSer2net);

// A TCP port on 127.0.0.1 that was free a moment ago, and a listening socket on it.
int listen_on_free_port(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

int free_port() {
    int port = 0;
    close(listen_on_free_port(port));
    return port;
}

std::string url(const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

// Whether something listens on 127.0.0.1:port, as the kernel lists it.
bool listening(int port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X 00000000:0000 0A", port);
    for (std::string line; std::getline(table, line);) {
        if (line.find(wanted) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool wait_until(const std::function<bool()>& done, milliseconds timeout) {
    for (const auto deadline = Clock::now() + timeout; !done(); std::this_thread::sleep_for(10ms)) {
        if (Clock::now() > deadline) {
            return false;
        }
    }
    return true;
}

// ser2net serving the device port twice, RFC 2217 and raw, on free ports.
class Ser2net {
  public:
    const int rfc_port = free_port();
    const int raw_port = free_port();
    std::string rfc2217() const { return url("rfc2217", rfc_port); }
    std::string raw() const { return url("tcp", raw_port); }

    void start() {
        const std::string device = "serialdev," + port_path(DEVICE_PORT) + ",9600n81,local\n";
        const std::string config = dir_.write_file(
            "ser2net.yaml", "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                                std::to_string(rfc_port) + "\n  connector: " + device +
                                "connection: &raw\n  accepter: tcp,127.0.0.1," +
                                std::to_string(raw_port) + "\n  connector: " + device);
        process_ = std::make_unique<ToolProcess>(
            ser2net_program(),
            std::vector<std::string>{"-n", "-u", "-c", config, "-P", dir_.path() + "/pid"});
        ASSERT_TRUE(
            wait_until([this] { return listening(rfc_port) && listening(raw_port); }, DEADLINE));
    }
    void stop() {
        kill(process_->pid(), SIGTERM);
        process_->wait(DEADLINE);
    }

  private:
    TempDir dir_;
    std::unique_ptr<ToolProcess> process_; // killed by pid at the end if still running
};

// Whole sessions over ser2net, one row per form and fault.
TEST(Ser2net, Sessions) {
    Ser2net server;
    server.start();
    const std::string closed = url("rfc2217", free_port());
    std::string every_byte;
    for (int byte = 1; byte <= 0xFF; ++byte) {
        every_byte += static_cast<char>(byte);
    }
    const SessionRow rows[] = {
        {"rfc2217_file",
         {"prog", server.rfc2217()},
         {{"prog.bas", "A\nB"}},
         {"Cprog\0"s, "Mprog\0"s, "OA\rB\r\0"s, "O"},
         ""},
        {"raw_file",
         {"-t", "prog", server.raw()},
         {{"prog.bas", "A"}},
         {"Tprog\0"s, "Mprog\0"s, "OA\r\0"s, "O"},
         ""},
        {"every_byte_from_the_device",
         {"prog", server.rfc2217()},
         {},
         {"Cprog\0"s, "T" + every_byte + "\0O"s},
         every_byte},
        {"timeout",
         {"--timeout=1", "prog", server.rfc2217()},
         {},
         {"Cprog\0"s},
         "lorvrc: no answer from the device on " + server.rfc2217() + " for 1 s\n",
         1},
        {"no_server_from_variable",
         {"prog"},
         {},
         {},
         "lorvrc: cannot connect to " + closed + " (from LORVRC_PORT): Connection refused\n",
         1,
         closed.c_str()},
    };
    for (const SessionRow& row : rows) {
        EXPECT_EQ(play(row, {DEVICE_PORT, DEVICE_PORT + 1}), expected(row)) << row.what;
    }
}

// The line as ser2net set it, and a banner sent during --boot-wait
// dropped: read as commands, its "E" would end the run with status 1.
TEST(Ser2net, SetsTheLineAndDropsTheBootBanner) {
    Ser2net server;
    server.start();
    PtyDevice device;
    device.link_as_port(DEVICE_PORT);
    ToolProcess tool(tool_under_test(), {"--boot-wait=1500", "prog", server.rfc2217()});
    ASSERT_TRUE(wait_until(
        [&device] {
            termios line{};
            return tcgetattr(device.master(), &line) == 0 && cfgetospeed(&line) == B38400;
        },
        DEADLINE));
    std::this_thread::sleep_for(500ms); // the set-up is done, the boot wait goes on
    device.send("\r\nU-Boot\r\nEboot\0"s);
    EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    termios line{};
    ASSERT_EQ(tcgetattr(device.master(), &line), 0);
    EXPECT_EQ(cfgetispeed(&line), B38400);
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
    EXPECT_EQ(line.c_lflag & (ICANON | ECHO), tcflag_t{0});
    device.send("O");
    EXPECT_EQ(tool.wait(DEADLINE), 0);
    EXPECT_EQ(tool.stderr_text(), "");
}

TEST(Ser2net, ServerStoppedMidSession) {
    Ser2net server;
    server.start();
    PtyDevice device;
    device.link_as_port(DEVICE_PORT);
    ToolProcess tool(tool_under_test(), {"prog", server.rfc2217()});
    ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    server.stop();
    EXPECT_EQ(tool.wait(milliseconds(1500)), 1); // at once, not after a read time-out or more
    EXPECT_EQ(tool.stderr_text(), "lorvrc: lost the connection on " + server.rfc2217() + "\n");
}

TEST(Ser2net, BusyServerSaysWhy) {
    Ser2net server;
    server.start();
    PtyDevice device;
    device.link_as_port(DEVICE_PORT);
    ToolProcess holder(tool_under_test(), {"prog", server.rfc2217()});
    ASSERT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    ToolProcess tool(tool_under_test(), {"prog", server.rfc2217()});
    EXPECT_EQ(tool.wait(DEADLINE), 1);
    EXPECT_EQ(tool.stderr_text(), "lorvrc: " + server.rfc2217() +
                                      " turned the connection away: \"Port already in use\"\n");
    EXPECT_EQ(device.receive_until_quiet(milliseconds(200), DEADLINE), "");
    device.send("O");
    EXPECT_EQ(holder.wait(DEADLINE), 0);
}

TEST(Ser2net, WaitsForAServerThatStartsLater) {
    Ser2net server;
    PtyDevice device;
    device.link_as_port(DEVICE_PORT);
    ToolProcess tool(tool_under_test(), {"--wait=10", "prog", server.rfc2217()});
    ASSERT_TRUE(tool.wait_for_stderr("\n", DEADLINE));
    EXPECT_EQ(tool.stderr_text(), "lorvrc: waiting for " + server.rfc2217() + " to answer\n");
    server.start();
    EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
    device.send("O");
    EXPECT_EQ(tool.wait(DEADLINE), 0);
}

// A telnet server of a few lines: for each step, once what it received
// holds `after`, it sends `reply`; it keeps what it received until the
// client closes or the deadline passes.
struct Step {
    std::string after;
    std::string reply;
};

std::string serve_script(int listener, const std::vector<Step>& steps) {
    const auto deadline = Clock::now() + milliseconds(8000);
    pollfd waiting{listener, POLLIN, 0};
    if (poll(&waiting, 1, 8000) <= 0) {
        return "<no client>";
    }
    const int fd = accept(listener, nullptr, nullptr);
    std::string received;
    std::size_t step = 0;
    for (char chunk[512]; Clock::now() < deadline;) {
        for (; step < steps.size() && received.find(steps[step].after) != std::string::npos;
             ++step) {
            send(fd, steps[step].reply.data(), steps[step].reply.size(), MSG_NOSIGNAL);
        }
        pollfd ready{fd, POLLIN, 0};
        const ssize_t got = poll(&ready, 1, 100) > 0 ? recv(fd, chunk, sizeof chunk, 0) : -1;
        if (got == 0) {
            break;
        }
        received.append(chunk, static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
    }
    close(fd);
    return received;
}

std::string com_port_answer(const std::string& body) { return "\xff\xfa\x2c" + body + "\xff\xf0"; }

const std::string AGREE = "\xff\xfd\x00\xff\xfb\x00\xff\xfd\x2c"s;
const std::string STOP_SIZE_SENT = "\xff\xfa\x2c\x04\x01\xff\xf0"s;
const std::string ANSWERS =
    com_port_answer("\x68\x01"s) + com_port_answer("\x66\x08"s) + com_port_answer("\x67\x01"s);
const std::string BAUD_38400 = com_port_answer("\x65\x00\x00\x96\x00"s);
const std::string BAUD_9600 = com_port_answer("\x65\x00\x00\x25\x80"s);

struct ScriptRow {
    const char* what;
    std::vector<std::string> options;
    std::vector<Step> steps;
    std::string message; // after "lorvrc: <port> "; empty: the run ends with "O"
    std::string on_wire; // sent before the start sequence
};

const ScriptRow SCRIPTS[] = {
    {"refuses_binary",
     {},
     {{"", "\xff\xfe\x00"s}},
     "will not pass 8-bit data unaltered (the "
     "server refused binary mode)",
     ""},
    {"wrong_baud",
     {},
     {{"", AGREE}, {STOP_SIZE_SENT, ANSWERS + BAUD_9600}},
     "set the baud rate to 9600 instead of 38400",
     ""},
    {"never_answers",
     {},
     {},
     "does not answer as an RFC 2217 server within 5 s (for a raw TCP "
     "port use tcp://)",
     ""},
    {"never_confirms", {}, {{"", AGREE}}, "did not confirm the line settings within 5 s", ""},
    {"dtr_and_rts_requests",
     {"--dtr=on", "--rts=off"},
     {{"", AGREE}, {STOP_SIZE_SENT, ANSWERS + BAUD_38400}, {"prog\0"s, "O"}},
     "",
     "\xff\xfa\x2c\x05\x08\xff\xf0\xff\xfa\x2c\x05\x0c\xff\xf0"s},
};

TEST(ScriptedServer, WhatSer2netCannotShow) {
    for (const ScriptRow& row : SCRIPTS) {
        int port = 0;
        const int listener = listen_on_free_port(port);
        std::string received;
        std::thread server([&] { received = serve_script(listener, row.steps); });
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"prog", url("rfc2217", port)});
        ToolProcess tool(tool_under_test(), args);
        const auto status = tool.wait(milliseconds(8000));
        server.join();
        close(listener);
        const std::string prefix = "lorvrc: " + url("rfc2217", port) + " ";
        EXPECT_EQ(tool.stderr_text(), row.message.empty() ? "" : prefix + row.message + "\n")
            << row.what;
        EXPECT_EQ(status, row.message.empty() ? 0 : 1) << row.what;
        EXPECT_THAT(received.substr(0, received.find("Cprog")), testing::HasSubstr(row.on_wire))
            << row.what;
    }
}

} // namespace
