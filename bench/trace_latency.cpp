// How long a byte of trace text takes from the device to the user: the time
// from writing one byte on the pty master to its arrival through the tool's
// standard error pipe. Run by hand from the build directory:
//   bench/trace_latency [samples]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "device_session.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds SAMPLE_DEADLINE(2000);

// Sends one byte and waits until stderr holds `expected_size` bytes; the
// tool's output is collected by ToolProcess's reader thread, so spinning
// here adds only the hand-over from that thread.
std::optional<double> one_sample(DeviceSession& session, char byte, std::size_t expected_size) {
    const auto start = Clock::now();
    session.device.send(std::string(1, byte));
    while (session.tool->stderr_text().size() < expected_size) {
        if (Clock::now() - start > SAMPLE_DEADLINE) {
            return std::nullopt;
        }
        std::this_thread::yield();
    }
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double percentile(const std::vector<double>& sorted, double fraction) {
    const auto index = static_cast<std::size_t>(fraction * static_cast<double>(sorted.size() - 1));
    return sorted[index];
}

} // namespace

int main(int argc, char** argv) {
    const int samples = argc > 1 ? std::atoi(argv[1]) : 1000;
    if (samples < 1) {
        std::fprintf(stderr, "usage: trace_latency [samples]\n");
        return 1;
    }
    DeviceSession session({"prog"});
    if (session.start_sequence != std::string("Cprog\0", 6)) {
        std::fprintf(stderr, "trace_latency: the tool did not start\n");
        return 1;
    }
    session.device.send("T");
    std::vector<double> latencies;
    for (int i = 0; i < samples; ++i) {
        const char byte = static_cast<char>('a' + i % 26);
        const std::optional<double> latency =
            one_sample(session, byte, static_cast<std::size_t>(i) + 1);
        if (!latency) {
            std::fprintf(stderr, "trace_latency: byte %d never showed\n", i);
            return 1;
        }
        latencies.push_back(*latency);
    }
    session.device.send(std::string("\0O", 2));
    if (session.tool->wait(SAMPLE_DEADLINE) != 0) {
        std::fprintf(stderr, "trace_latency: the tool did not end cleanly\n");
        return 1;
    }
    std::sort(latencies.begin(), latencies.end());
    std::printf("trace latency over %d bytes: median %.3f ms, 99th percentile %.3f ms, "
                "max %.3f ms\n",
                samples, percentile(latencies, 0.5), percentile(latencies, 0.99), latencies.back());
    return 0;
}
