// Two timing figures of a run, against a device on a pseudo-terminal:
//  - the CPU time the tool uses while the device stays silent for 10 s
//    (it should sleep in its reads, waking once a second);
//  - the time from starting the tool to the last byte of the start
//    sequence arriving at the device.
// Prints the figures and their goals; exits with 1 when the CPU time or
// the median start time misses its goal.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include "pty_device.h"
#include "timing.h"
#include "tool_process.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr int PORT = 1;
const milliseconds SILENCE(10000);
constexpr double CPU_GOAL_MS = 10.0;
constexpr int START_RUNS = 50;
constexpr double START_GOAL_MS = 5.0;

double ms_of(const timeval& t) {
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_usec) / 1e3;
}

// CPU time (user + system) of all children reaped so far.
double children_cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    return ms_of(usage.ru_utime) + ms_of(usage.ru_stime);
}

// Runs the tool against a device that says nothing for `silence` and then
// ends the session; returns the tool's CPU time in ms, or -1 on failure.
double silent_device_cpu_ms(milliseconds silence) {
    PtyDevice device;
    if (!device.ok()) {
        return -1;
    }
    device.link_as_port(PORT);
    const double before = children_cpu_ms();
    ToolProcess tool(tool_under_test(), {"prog"});
    if (device.receive_through_zero(DEADLINE) != std::string("Cprog\0", 6)) {
        return -1;
    }
    const std::string unexpected = device.receive(1, silence);
    device.send("O");
    if (tool.wait(DEADLINE) != 0 || !unexpected.empty()) {
        return -1;
    }
    return children_cpu_ms() - before;
}

// Blocks on the master until a 0 byte has come; returns when it came.
// The caller holds the slave open, so poll waits instead of reporting a
// hang-up before the tool has opened the line.
bool await_start_sequence(int master, Clock::time_point deadline, Clock::time_point* done) {
    for (;;) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        pollfd p{master, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            return false;
        }
        char buffer[512];
        const ssize_t n = read(master, buffer, sizeof buffer);
        if (n > 0 && buffer[n - 1] == '\0') {
            *done = Clock::now();
            return true;
        }
    }
}

// Milliseconds from fork to the start sequence's last byte, one per run;
// empty on failure.
std::vector<double> start_latencies_ms(int runs) {
    PtyDevice device;
    if (!device.ok()) {
        return {};
    }
    device.link_as_port(PORT);
    const int held = open(device.slave_path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (held < 0) {
        return {};
    }
    std::vector<double> latencies;
    for (int run = 0; run <= runs; ++run) { // run 0 warms the caches up
        const auto started = Clock::now();
        ToolProcess tool(tool_under_test(), {"prog"});
        Clock::time_point arrived;
        const bool ok = await_start_sequence(device.master(), started + DEADLINE, &arrived);
        device.send("O");
        if (!ok || tool.wait(DEADLINE) != 0) {
            latencies.clear();
            break;
        }
        if (run > 0) {
            latencies.push_back(
                std::chrono::duration<double, std::milli>(arrived - started).count());
        }
    }
    close(held);
    return latencies;
}

} // namespace

int main() {
    std::printf("tool: %s\n", tool_under_test().c_str());

    std::printf("silent device for %lld s ...\n", static_cast<long long>(SILENCE.count() / 1000));
    std::fflush(stdout);
    const double cpu = silent_device_cpu_ms(SILENCE);
    // The same run without the silence: what starting and ending cost.
    const double baseline = silent_device_cpu_ms(milliseconds(0));
    if (cpu < 0 || baseline < 0) {
        std::printf("silent device: the run failed\n");
        return 1;
    }
    std::printf("CPU time of the tool over %lld s of silence: %.3f ms (user+sys; goal < %.0f ms);"
                " a run without the silence: %.3f ms\n",
                static_cast<long long>(SILENCE.count() / 1000), cpu, CPU_GOAL_MS, baseline);

    std::vector<double> latencies = start_latencies_ms(START_RUNS);
    if (latencies.empty()) {
        std::printf("start sequence: a run failed\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    const double worst = latencies.back();
    std::printf("fork/exec to last start byte over %zu runs: median %.3f ms, min %.3f ms, "
                "max %.3f ms (goal < %.0f ms)\n",
                latencies.size(), median, latencies.front(), worst, START_GOAL_MS);

    std::printf("CPU goal %s; start goal %s by the median, %s by the max\n",
                cpu < CPU_GOAL_MS ? "met" : "MISSED", median < START_GOAL_MS ? "met" : "MISSED",
                worst < START_GOAL_MS ? "met" : "missed");
    const bool met = cpu < CPU_GOAL_MS && median < START_GOAL_MS;
    return met ? 0 : 1;
}
