// Floods (a name longer than any path, an endless error report) must not
// grow the tool. CI runs a small flood; bench/soak.sh sets
// LORVRC_FLOOD_BYTES for the full run.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <string>

#include "device_session.h"

using namespace testing_support;
using namespace std::string_literals;

namespace {

constexpr int PORT = 10;
constexpr milliseconds REPLY_TIME(5000);
constexpr long PEAK_RSS_LIMIT_KIB = 8 * 1024;

// Bytes of a flood: letters in a cycle, no 0 byte and no comma.
std::string flood(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>('a' + i % 26);
    }
    return bytes;
}

TEST(BoundedMemory, FloodsAreCut) {
    const char* bytes = std::getenv("LORVRC_FLOOD_BYTES");
    const std::size_t count = bytes != nullptr ? std::stoull(bytes) : 300'000;
    const std::size_t report_keep = 64 * 1024;
    TempDir dir;
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);
    session.device.send(std::string(1, 'M').append(flood(count)).append(1, '\0'));
    EXPECT_EQ(session.device.receive(1, REPLY_TIME + milliseconds(count / 100)), "E");
    session.device.send(std::string(1, 'E').append(flood(count)).append(1, '\0'));
    ASSERT_EQ(session.tool->wait(REPLY_TIME + milliseconds(count / 100)), 1);
    const std::string expected = "Error " + dir.path() + "\\" + flood(PATH_MAX) + ".bas " +
                                 flood(report_keep) + " [" + std::to_string(count - report_keep) +
                                 " more bytes cut]\n";
    // Compared as a flag: a mismatch of this size would drown the output.
    EXPECT_TRUE(session.tool->stderr_text() == expected);
    if (!UNDER_SANITIZERS) {
        EXPECT_LT(session.tool->peak_rss_kib().value_or(LONG_MAX), PEAK_RSS_LIMIT_KIB);
    }
}

} // namespace
