// Endurance: one long session whose descriptors and memory must stay flat,
// and floods (a name longer than any path, an endless error report) that
// must not grow the tool. CI runs small sizes; bench/soak.sh sets
// LORVRC_SOAK_COMMANDS and LORVRC_FLOOD_BYTES for the full run.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "device_session.h"

using namespace testing_support;
using namespace std::string_literals;

namespace {

constexpr int PORT = 10;
constexpr milliseconds REPLY_TIME(5000);
constexpr long PEAK_RSS_LIMIT_KIB = 8 * 1024;
// Resident memory may move by a few pages between two readings.
constexpr long RSS_TOLERANCE_KIB = 256;

std::size_t size_from_environment(const char* name, std::size_t fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::stoull(text) : fallback;
}

// One cycle of commands: two file replies, trace text, ignored bytes and a
// refused request, whose "E" shows the whole cycle has been served.
const std::string CYCLE = "Mprog\0Tt\0\x01Ilib\0\xFFMmissing\0"s;
const std::string CYCLE_REPLIES = "O10 END\r\0ODEF X\xCDY\r\r\0E"s;
constexpr std::size_t CYCLE_COMMANDS = 6;

TEST(Endurance, LongSessionStaysFlat) {
    const std::size_t cycles = size_from_environment("LORVRC_SOAK_COMMANDS", 3000) / CYCLE_COMMANDS;
    TempDir dir;
    dir.write_file("prog.bas", "10 END");
    dir.write_file("lib.inc", "DEF X|Y\n");
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);
    long rss_early = 0;
    int descriptors_early = 0;
    // Ten cycles at a time: few enough that neither direction of the pty fills.
    for (std::size_t done = 0; done < cycles; done += 10) {
        std::string batch;
        std::string replies;
        for (int i = 0; i < 10; ++i) {
            batch += CYCLE;
            replies += CYCLE_REPLIES;
        }
        session.device.send(batch);
        ASSERT_EQ(session.device.receive(replies.size(), REPLY_TIME), replies) << "at " << done;
        if (done == 100) {
            rss_early = session.tool->status_kib("VmRSS");
            descriptors_early = session.tool->open_descriptors();
        }
    }
    EXPECT_EQ(session.tool->open_descriptors(), descriptors_early);
    if (!UNDER_SANITIZERS && rss_early > 0) {
        EXPECT_LE(session.tool->status_kib("VmRSS"), rss_early + RSS_TOLERANCE_KIB);
    }
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(REPLY_TIME), 0);
    EXPECT_EQ(session.tool->stderr_text().size(), (cycles + 9) / 10 * 10);
}

// Bytes of a flood: letters in a cycle, no 0 byte and no comma.
std::string flood(std::size_t count) {
    std::string bytes(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<char>('a' + i % 26);
    }
    return bytes;
}

TEST(Endurance, FloodsAreCutAndMemoryStaysBounded) {
    const std::size_t count = size_from_environment("LORVRC_FLOOD_BYTES", 300'000);
    const std::size_t report_keep = 64 * 1024;
    TempDir dir;
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);
    session.device.send("M" + flood(count) + '\0');
    EXPECT_EQ(session.device.receive(1, REPLY_TIME + milliseconds(count / 100)), "E");
    session.device.send("E" + flood(count) + '\0');
    ASSERT_EQ(session.tool->wait(REPLY_TIME + milliseconds(count / 100)), 1);
    const std::string directory = std::filesystem::canonical(dir.path()).string();
    const std::string expected = "Error " + directory + "\\" + flood(PATH_MAX) + ".bas " +
                                 flood(report_keep) + " [" + std::to_string(count - report_keep) +
                                 " more bytes cut]\n";
    // Compared as a flag: a mismatch of this size would drown the output.
    EXPECT_TRUE(session.tool->stderr_text() == expected);
    if (!UNDER_SANITIZERS) {
        EXPECT_LT(session.tool->peak_rss_kib().value_or(LONG_MAX), PEAK_RSS_LIMIT_KIB);
    }
}

} // namespace
