// Network ports against a local one: the same file reply served through a
// local ser2net (RFC 2217 and raw) to a pseudo-terminal, and straight to
// the pseudo-terminal, in alternating rounds of one run; the start-up to
// the start byte each way; the sends per reply (counted by strace -c) and
// the tool's peak memory on the network.
//
//   network_bench [rounds]      (default 5)
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <unistd.h>

#include "device_session.h"
#include "ser2net_server.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

// ser2net's devices: this port (RFC 2217, and the local runs) and the next
// (raw); 13 is the one no test uses.
constexpr int BENCH_PORT = 12;
constexpr std::size_t FILE_BYTES = 1 << 20;
const milliseconds DEADLINE(10000);

[[noreturn]] void fail(const std::string& what) { throw std::runtime_error(what); }

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A program of short BASIC lines, about FILE_BYTES long; its line count.
std::size_t write_program(const TempDir& dir) {
    std::string text;
    std::size_t lines = 0;
    for (; text.size() < FILE_BYTES; ++lines) {
        text += std::to_string(10 * (lines + 1)) + " PRINT \"HELLO\"; X(I) + Y(I)\n";
    }
    dir.write_file("prog.bas", text);
    return lines;
}

// Reads from the device until the reply's 0 byte has come; its size.
std::size_t drain_reply(const PtyDevice& device) {
    std::size_t size = 0;
    for (char buffer[65536];;) {
        pollfd ready{device.master(), POLLIN, 0};
        if (poll(&ready, 1, 10000) <= 0) {
            fail("the reply stopped after " + std::to_string(size) + " bytes");
        }
        const ssize_t got = read(device.master(), buffer, sizeof buffer);
        if (got > 0) {
            size += static_cast<std::size_t>(got);
            if (buffer[got - 1] == '\0') {
                return size;
            }
        }
    }
}

struct Figures {
    double start_ms = 0; // from the start of the process to the start sequence's 0 byte
    double reply_ms = 0; // from the request to the reply's 0 byte
    long peak_kib = 0;
};

// One session on `port`: the start, one file request, the end.
Figures session(const std::string& program, std::vector<std::string> args, const std::string& dir) {
    PtyDevice device;
    device.link_as_port(BENCH_PORT);
    device.link_as_port(BENCH_PORT + 1); // ser2net's raw port
    Figures figures;
    auto start = Clock::now();
    ToolProcess tool(program, args, dir);
    if (device.receive_through_zero(DEADLINE).empty()) {
        fail("no start sequence: " + tool.stderr_text());
    }
    figures.start_ms = ms_since(start);
    start = Clock::now();
    device.send(std::string("Mprog") + '\0');
    drain_reply(device);
    figures.reply_ms = ms_since(start);
    device.send("O");
    if (tool.wait(DEADLINE) != 0) {
        fail("the tool did not end with status 0: " + tool.stderr_text());
    }
    figures.peak_kib = tool.peak_rss_kib().value_or(-1);
    // ser2net lets the device go a moment after the connection: wait for
    // it, so that the next run does not find it busy.
    wait_until(
        [&device] {
            pollfd hung_up{device.master(), 0, 0};
            return poll(&hung_up, 1, 0) > 0 && (hung_up.revents & POLLHUP) != 0;
        },
        DEADLINE);
    return figures;
}

// The calls of one system call that strace -c counted in `report`.
long calls_of(const std::string& report, const std::string& name) {
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::vector<std::string> words{std::istream_iterator<std::string>(fields), {}};
        if (!words.empty() && words.back() == name && words.size() >= 5) {
            return std::stol(words[3]);
        }
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    try {
        Ser2net server(BENCH_PORT);
        if (ser2net_program().empty() || !server.start()) {
            fail("no ser2net to measure against");
        }
        TempDir dir;
        const std::size_t lines = write_program(dir);
        const std::string tool = tool_under_test();
        const std::string local = port_path(BENCH_PORT);
        std::vector<double> starts[3], replies[3];
        long peak = 0;
        for (int round = 0; round < rounds; ++round) {
            const Figures figures[3] = {session(tool, {"prog", local}, dir.path()),
                                        session(tool, {"prog", server.rfc2217()}, dir.path()),
                                        session(tool, {"prog", server.raw()}, dir.path())};
            for (int way = 0; way < 3; ++way) {
                starts[way].push_back(figures[way].start_ms);
                replies[way].push_back(figures[way].reply_ms);
            }
            peak = std::max({peak, figures[1].peak_kib, figures[2].peak_kib});
            std::printf("  round %d: start %.1f / %.1f / %.1f ms\n", round + 1, figures[0].start_ms,
                        figures[1].start_ms, figures[2].start_ms);
        }
        const char* names[3] = {"pty", "rfc2217 via ser2net", "raw via ser2net"};
        std::printf("%zu-byte file of %zu lines, median of %d rounds:\n", FILE_BYTES, lines,
                    rounds);
        for (int way = 0; way < 3; ++way) {
            std::printf("  %-20s start %6.2f ms, reply %7.1f ms, %.2f times the pty%s\n",
                        names[way], median(starts[way]), median(replies[way]),
                        median(replies[way]) / median(replies[0]),
                        way == 0 ? "" : " (goal: at most 1.5; start under 20 ms)");
        }
        std::printf("  peak memory on the network: %ld KiB (goal: under 8192)\n", peak);
        const std::string counted = dir.path() + "/strace.txt";
        session("/usr/bin/strace",
                {"-f", "-qq", "-c", "-o", counted, tool, "prog", server.rfc2217()}, dir.path());
        std::ifstream in(counted);
        const std::string report{std::istreambuf_iterator<char>(in), {}};
        std::printf("  sends in one session with one reply (strace -c): sendto %ld, write %ld; "
                    "the file has %zu lines (goal: at most the lines plus a few)\n",
                    calls_of(report, "sendto"), calls_of(report, "write"), lines);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "network_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
