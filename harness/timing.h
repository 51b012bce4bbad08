// The times the tests and benchmarks allow, in one place.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace testing_support {

// How long one step of the tool (its start sequence, a reply, its exit)
// may take on a loaded machine before a test gives up on it.
constexpr std::chrono::milliseconds DEADLINE(3000);

// How long a line must stay silent before a test takes it that the tool
// has nothing more to send: long enough for one that wrongly goes on to
// have done so.
constexpr std::chrono::milliseconds QUIET(100);

// Calls done() every 10 ms until it holds; false when `timeout` passed first.
inline bool wait_until(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

} // namespace testing_support
