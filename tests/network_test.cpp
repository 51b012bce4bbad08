// Network ports end to end: the built tool against Debian's ser2net on
// 127.0.0.1, whose device is a pseudo-terminal the test plays, and against
// a scripted server of a few lines for what ser2net cannot show.
#include <gmock/gmock.h>

#include <atomic>
#include <numeric>
#include <poll.h>
#include <sys/socket.h>
#include <termios.h>
#include <thread>
#include <unistd.h>

#include "device_session.h"
#include "ser2net_server.h"
#include "session_rows.h"
#include "timing.h"

using namespace testing_support;
using std::string_literals::operator""s;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

// ser2net's devices: this port's link (RFC 2217) and the next (raw), which
// each run points at its own pty.
constexpr int DEVICE_PORT = 11;

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

// A session over the network: no files unless given, port links as
// ser2net's devices.
SessionRow net_row(const char* what, const std::vector<std::string>& args,
                   const std::vector<std::string>& talk, const std::string& stderr_text,
                   int status = 0) {
    return {what, args, {{"prog.bas", "A\nB"}}, talk, stderr_text, status};
}

// Whole sessions over ser2net, one row per form and fault.
TEST(Ser2net, Sessions) {
    Ser2net server(DEVICE_PORT);
    ASSERT_TRUE(server.start());
    const std::string closed = local_url("rfc2217", free_port()), raw = server.raw();
    std::string every_byte(255, '\0');
    std::iota(every_byte.begin(), every_byte.end(), '\1');
    const SessionRow rows[] = {
        net_row("rfc2217_file", {"prog", server.rfc2217()},
                {"Cprog\0"s, "Mprog\0"s, "OA\rB\r\0"s, "O"}, ""),
        net_row("raw_file_and_the_options_it_cannot_use",
                {"-t", "--dtr=on", "--no-hangup", "prog", raw},
                {"Tprog\0"s, "Mprog\0"s, "OA\rB\r\0"s, "O"},
                "lorvrc: " + raw + " is a network port, with no hang-up to keep; --no-hangup is " +
                    "ignored\nlorvrc: " + raw + " has no modem control lines; --dtr is ignored\n"),
        net_row("every_byte_from_the_device", {"prog", server.rfc2217()},
                {"Cprog\0"s, "T" + every_byte + "\0O"s}, every_byte),
        net_row("timeout", {"--timeout=1", "prog", server.rfc2217()}, {"Cprog\0"s},
                "lorvrc: no answer from the device on " + server.rfc2217() + " for 1 s\n", 1),
        net_row("no_server", {"prog", closed}, {},
                "lorvrc: cannot connect to " + closed + ": Connection refused\n", 1),
    };
    for (const SessionRow& row : rows) {
        EXPECT_EQ(play(row, {DEVICE_PORT, DEVICE_PORT + 2}), expected(row)) << row.what;
    }
}

// One device through ser2net's life: a run that waits for the server to
// start (ten refused tries); the line as ser2net set it, and a banner sent during --boot-wait
// dropped (read as commands, its "E" would end the run with status 1); a
// second run turned away in the server's own words, a third that waits
// its turn; and the server stopped in the third's session, which ends at
// once, not after a read time-out or more.
TEST(Ser2net, OneDeviceFromStartToStop) {
    Ser2net server(DEVICE_PORT);
    PtyDevice device;
    device.link_as_port(DEVICE_PORT);
    const std::string url = server.rfc2217(), waiting_for = "lorvrc: waiting for " + url;
    // Room for few descriptors: each refused try must close its socket.
    ToolProcess first("/bin/sh",
                      {"-c", "ulimit -n 12; exec \"$0\" --wait=10 --boot-wait=1500 prog \"$1\"",
                       tool_under_test(), url});
    ASSERT_TRUE(first.wait_for_stderr("\n", DEADLINE));
    std::this_thread::sleep_for(2500ms); // ten tries
    ASSERT_TRUE(server.start());
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
    EXPECT_EQ(line.c_cflag & (CSIZE | PARENB | CSTOPB | CRTSCTS), tcflag_t{CS8});
    ToolProcess refused(tool_under_test(), {"prog", url});
    EXPECT_EQ(refused.wait(DEADLINE), 1);
    EXPECT_EQ(refused.stderr_text(),
              "lorvrc: " + url + " turned the connection away: \"Port already in use\"\n");
    EXPECT_EQ(device.receive_until_quiet(milliseconds(200), DEADLINE), "");
    ToolProcess third(tool_under_test(), {"--wait=10", "-t", "prog", url});
    ASSERT_TRUE(third.wait_for_stderr("\n", DEADLINE));
    device.send("O");
    EXPECT_EQ(first.wait(DEADLINE), 0);
    EXPECT_EQ(first.stderr_text(), waiting_for + " to answer\n");
    EXPECT_EQ(device.receive_through_zero(DEADLINE), "Tprog\0"s);
    server.stop();
    EXPECT_EQ(third.wait(milliseconds(1500)), 1);
    EXPECT_EQ(third.stderr_text(),
              waiting_for + " to be free\nlorvrc: lost the connection on " + url + "\n");
}

// A telnet server of a few lines: for each step, once what it received
// holds `after`, it sends `reply`; it keeps what it received until the
// client closes or the deadline passes. With `stalls`, it reads nothing
// after the last step until `finished`.
struct Step {
    std::string after;
    std::string reply;
};

std::string serve_script(int listener, const std::vector<Step>& steps, bool stalls,
                         const std::atomic<bool>& finished) {
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
        for (; stalls && step == steps.size() && !finished; std::this_thread::sleep_for(20ms)) {
        }
        if (stalls && finished) {
            break;
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
    std::vector<Step> steps;
    std::string message; // after "lorvrc: "; <port> for the port; empty: the run ends with "O"
    std::vector<std::string> options = {};
    std::string on_wire = {}; // sent before the start sequence
    bool stalls = false;      // the server reads nothing after its last step
};

ScriptRow script(const char* what, const std::vector<Step>& steps, const std::string& message,
                 const std::vector<std::string>& options = {}, const std::string& on_wire = "",
                 bool stalls = false) {
    return {what, steps, message, options, on_wire, stalls};
}

const ScriptRow SCRIPTS[] = {
    script("refuses_binary", {{"", "\xff\xfe\x00"s}},
           "<port> will not pass 8-bit data unaltered (the server refused binary mode)"),
    script("wrong_baud", {{"", AGREE}, {STOP_SIZE_SENT, ANSWERS + BAUD_9600}},
           "<port> set the baud rate to 9600 instead of 38400"),
    script("never_answers", {},
           "<port> does not answer as an RFC 2217 server within 5 s (for a raw TCP port use "
           "tcp://)"),
    script("never_confirms", {{"", AGREE}}, "<port> did not confirm the line settings within 5 s"),
    script("dtr_and_rts_requests",
           {{"", AGREE}, {STOP_SIZE_SENT, ANSWERS + BAUD_38400}, {"prog\0"s, "O"}}, "",
           {"--dtr=on", "--rts=off"}, "\xff\xfa\x2c\x05\x08\xff\xf0\xff\xfa\x2c\x05\x0c\xff\xf0"s),
    script("takes_nothing_past_the_timeout",
           {{"", AGREE}, {STOP_SIZE_SENT, ANSWERS + BAUD_38400}, {"prog\0"s, "Mbig\0"s}},
           "the device on <port> took nothing for 1 s", {"--timeout=1"},
           "\xff\xfa\x2c\x0c\x02\xff\xf0\xff\xfa\x2c\x0c\x01\xff\xf0"s, true), // the purges
};

TEST(ScriptedServer, WhatSer2netCannotShow) {
    TempDir dir; // a file more than the socket buffers on both sides hold
    std::string big(10'000'000, 'A');
    for (std::size_t at = 99; at < big.size(); at += 100) {
        big[at] = '\n';
    }
    dir.write_file("big.bas", big);
    for (const ScriptRow& row : SCRIPTS) {
        int port = 0;
        const int listener = listen_on_free_port(port);
        std::string received;
        std::atomic<bool> finished = false;
        std::thread server(
            [&] { received = serve_script(listener, row.steps, row.stalls, finished); });
        std::vector<std::string> args = row.options;
        args.insert(args.end(), {"prog", local_url("rfc2217", port)});
        ToolProcess tool(tool_under_test(), args, dir.path());
        const auto status = tool.wait(milliseconds(8000));
        finished = true;
        server.join();
        close(listener);
        const std::string message = replaced(row.message, "<port>", local_url("rfc2217", port));
        EXPECT_EQ(tool.stderr_text(), message.empty() ? "" : "lorvrc: " + message + "\n")
            << row.what;
        EXPECT_EQ(status, row.message.empty() ? 0 : 1) << row.what;
        EXPECT_THAT(received.substr(0, received.find("Cprog")), testing::HasSubstr(row.on_wire))
            << row.what;
    }
}

} // namespace
