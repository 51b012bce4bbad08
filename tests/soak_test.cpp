// Long runs: many sessions in a row, and one session of many commands,
// with no failure, no descriptor left open in the tool and resident memory
// that stays flat.
//
// Sizes: LORVRC_SOAK_SESSIONS (default 50; 1000 for the full run) and
// LORVRC_SOAK_COMMANDS (default 5000; 100000 for the full run).
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "device_session.h"

using namespace testing_support;
using namespace std::string_literals;
using std::chrono::milliseconds;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int PORT = 10; // no other test binary links this port
constexpr milliseconds REPLY_TIME(3000);
// Resident memory may move by a few pages between two readings.
constexpr long RSS_TOLERANCE_KIB = 256;
constexpr int EARLY_COMMANDS = 1000;

int size_from_environment(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr ? std::stoi(text) : fallback;
}

int own_descriptors() {
    const auto entries = std::filesystem::directory_iterator("/proc/self/fd");
    return static_cast<int>(std::distance(begin(entries), end(entries)));
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

const std::string PROG_FILE = "10 PRINT \"HI\"\n20 END";
const std::string PROG_REPLY = "O10 PRINT \"HI\"\r20 END\r\0"s;
const std::string LIB_FILE = "DEF X|Y\n";
const std::string LIB_REPLY = "ODEF X\xCDY\r\r\0"s;

// One command of a long session: what the device sends and what the tool
// must answer (nothing for trace text and ignored bytes).
struct Command {
    std::string sent;
    std::string reply;
    std::string printed;
};

// The cycle of commands a long session repeats. It ends with a refused
// request: once its "E" has come, the tool has served the whole cycle and
// holds no file open.
const Command CYCLE[] = {
    {"Mprog\0"s, PROG_REPLY, ""}, {"Tt\0"s, "", "t"},     {"\x01z"s, "", ""},
    {"Ilib\0"s, LIB_REPLY, ""},   {"Tx\n\0"s, "", "x\n"}, {"\xFF"s, "", ""},
    {"Mmissing\0"s, "E", ""},
};
constexpr int CYCLE_LENGTH = static_cast<int>(std::size(CYCLE));
// Cycles sent before their replies are read; small enough that neither
// direction of the pty fills up.
constexpr int CYCLES_PER_BATCH = 10;

struct Batch {
    std::string sent;
    std::string replies;
    std::string printed;
};

Batch make_batch(int cycles) {
    Batch batch;
    for (int i = 0; i < cycles; ++i) {
        for (const Command& command : CYCLE) {
            batch.sent += command.sent;
            batch.replies += command.reply;
            batch.printed += command.printed;
        }
    }
    return batch;
}

// One short session from start to end. The tool's descriptors are counted
// right after the start and again after the last request, before the end.
testing::AssertionResult run_short_session(const std::string& directory, int number,
                                           long& peak_kib) {
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, directory);
    if (session.start_sequence != "Cprog\0"s) {
        return testing::AssertionFailure() << "session " << number << ": no start sequence";
    }
    const int descriptors_at_start = session.tool->open_descriptors();
    const std::string trace = "session " + std::to_string(number) + "\n";
    const Batch batch = make_batch(1);
    session.device.send("T" + trace + '\0' + batch.sent);
    const std::string replies = session.device.receive(batch.replies.size(), REPLY_TIME);
    const int descriptors_at_end = session.tool->open_descriptors();
    session.device.send("O");
    const std::optional<int> status = session.tool->wait(REPLY_TIME);
    peak_kib = std::max(peak_kib, session.tool->peak_rss_kib().value_or(0));
    if (replies != batch.replies || status != 0 ||
        session.tool->stderr_text() != trace + batch.printed) {
        return testing::AssertionFailure() << "session " << number << " went wrong";
    }
    if (descriptors_at_start <= 0 || descriptors_at_end != descriptors_at_start) {
        return testing::AssertionFailure()
               << "session " << number << ": " << descriptors_at_start
               << " descriptors at the start, " << descriptors_at_end << " at the end";
    }
    return testing::AssertionSuccess();
}

TEST(Soak, SessionsInARow) {
    const int sessions = size_from_environment("LORVRC_SOAK_SESSIONS", 50);
    TempDir dir;
    dir.write_file("prog.bas", PROG_FILE);
    dir.write_file("lib.inc", LIB_FILE);
    const int own_at_start = own_descriptors();
    long peak_kib = 0;
    const auto start = Clock::now();
    for (int i = 0; i < sessions; ++i) {
        ASSERT_TRUE(run_short_session(dir.path(), i, peak_kib));
    }
    const double seconds = seconds_since(start);
    // The harness itself must not leak either, or a long run would end in
    // failures that are not the tool's.
    EXPECT_EQ(own_descriptors(), own_at_start);
    std::printf("%d sessions in %.1f s: %.1f sessions/s; peak resident memory of a tool %ld KiB\n",
                sessions, seconds, sessions / seconds, peak_kib);
}

TEST(Soak, OneLongSession) {
    const int commands = size_from_environment("LORVRC_SOAK_COMMANDS", 5000);
    const int batches =
        std::max(1, commands / (CYCLE_LENGTH * CYCLES_PER_BATCH) +
                        (commands % (CYCLE_LENGTH * CYCLES_PER_BATCH) != 0 ? 1 : 0));
    TempDir dir;
    dir.write_file("prog.bas", PROG_FILE);
    dir.write_file("lib.inc", LIB_FILE);
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    ASSERT_EQ(session.start_sequence, "Cprog\0"s);
    ToolProcess& tool = *session.tool;
    const int descriptors_at_start = tool.open_descriptors();
    const Batch batch = make_batch(CYCLES_PER_BATCH);

    long early_rss_kib = -1;
    const auto start = Clock::now();
    for (int i = 0; i < batches; ++i) {
        session.device.send(batch.sent);
        ASSERT_EQ(session.device.receive(batch.replies.size(), REPLY_TIME), batch.replies)
            << "batch " << i;
        if (early_rss_kib < 0 && (i + 1) * CYCLE_LENGTH * CYCLES_PER_BATCH >= EARLY_COMMANDS) {
            early_rss_kib = tool.status_kib("VmRSS");
        }
    }
    const double seconds = seconds_since(start);
    const long end_rss_kib = tool.status_kib("VmRSS");
    const int descriptors_at_end = tool.open_descriptors();
    session.device.send("O");
    ASSERT_EQ(tool.wait(REPLY_TIME), 0);

    std::string printed;
    for (int i = 0; i < batches; ++i) {
        printed += batch.printed;
    }
    EXPECT_TRUE(tool.stderr_text() == printed) << "the trace text is not what the device sent";
    EXPECT_GT(descriptors_at_start, 0);
    EXPECT_EQ(descriptors_at_end, descriptors_at_start);
    ASSERT_GT(early_rss_kib, 0);
    if (!UNDER_SANITIZERS) { // the sanitizers hold freed memory back for a while
        EXPECT_LE(end_rss_kib, early_rss_kib + RSS_TOLERANCE_KIB);
    }
    const int served = batches * CYCLE_LENGTH * CYCLES_PER_BATCH;
    std::printf("%d commands in %.1f s: %.0f commands/s; resident memory %ld KiB after %d, %ld "
                "KiB at the end; peak %ld KiB; descriptors %d at the start, %d at the end\n",
                served, seconds, served / seconds, early_rss_kib, EARLY_COMMANDS, end_rss_kib,
                tool.peak_rss_kib().value_or(-1), descriptors_at_start, descriptors_at_end);
}

} // namespace
