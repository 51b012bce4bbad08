// The times the tests and benchmarks allow, in one place.
#pragma once

#include <chrono>

namespace testing_support {

// How long one step of the tool (its start sequence, a reply, its exit)
// may take on a loaded machine before a test gives up on it.
constexpr std::chrono::milliseconds DEADLINE(3000);

// How long a line must stay silent before a test takes it that the tool
// has nothing more to send: long enough for one that wrongly goes on to
// have done so.
constexpr std::chrono::milliseconds QUIET(100);

} // namespace testing_support
