#include "port_wait.h"

#include <chrono>
#include <thread>

#include "run_port.h"
#include "user_output.h"

namespace {

using Clock = std::chrono::steady_clock;

// Four looks a second: a plugged-in board is taken at once, and a wait of
// minutes costs next to nothing.
constexpr std::chrono::milliseconds POLL_INTERVAL(250);

} // namespace

Result<std::unique_ptr<DeviceLine>> take_port_waiting(const PortChoice& port,
                                                      const std::string& program_name,
                                                      const BoardLines& lines,
                                                      std::optional<int> wait_seconds) {
    const auto deadline = Clock::now() + std::chrono::seconds(wait_seconds.value_or(0));
    std::string told;
    for (;;) {
        Result<std::unique_ptr<DeviceLine>> line = take_port_for_run(port, program_name, lines);
        const auto left = deadline - Clock::now();
        if (line || !wait_seconds || line.failure().awaited.empty() ||
            left <= Clock::duration::zero()) {
            return line;
        }
        if (line.failure().awaited != told) {
            told = line.failure().awaited;
            tell_user("waiting for " + port.path + " " + told);
        }
        std::this_thread::sleep_for(std::min<Clock::duration>(POLL_INTERVAL, left));
    }
}
