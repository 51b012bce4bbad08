// Lock files left by other programs, end to end: what counts as held, and
// what as stale and is taken over.
#include <gtest/gtest.h>

#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "pty_device.h"
#include "session_rows.h"
#include "timing.h"
#include "tool_process.h"

using namespace testing_support;
using std::string_literals::operator""s;

namespace {

// The pid written as four bytes in the machine's order, as older tools did.
std::string binary(std::int32_t pid) { return {reinterpret_cast<const char*>(&pid), sizeof pid}; }

struct LockRow {
    const char* what;
    std::string bytes;
    int age_seconds;
    std::string holder; // what the refusal says in brackets; "": the run takes the port
};
std::ostream& operator<<(std::ostream& out, const LockRow& row) { return out << row.what; }

const std::string BEING_WRITTEN = "its lock file <lock> is being written";
const std::string HELD_BY_US = "process <pid> holds the lock file <lock>";

const LockRow ROWS[] = {
    // Another program between creating its lock file and writing its pid
    // (no pid read: an empty file is as one of junk).
    {"no_pid_and_new", "junk\n", 1, BEING_WRITTEN},
    {"empty_and_old", "", 60, ""},
    {"binary_live", binary(getpid()), 60, HELD_BY_US},
    // Four bytes of text are text: pid 1 lives.
    {"four_bytes_of_text", "  1\n", 60, "process 1 holds the lock file <lock>"},
};

class LockFiles : public testing::TestWithParam<LockRow> {};

TEST_P(LockFiles, CountAsHeldOrStale) {
    const LockRow& row = GetParam();
    PtyDevice device;
    const std::string slave = device.slave_path();
    const std::string lock = test_root() + "/run/lock/LCK..pts_" + slave.substr(9);
    const std::string pid = std::to_string(getpid());
    std::ofstream(lock) << row.bytes;
    const timespec times[2] = {{time(nullptr) - row.age_seconds, 0},
                               {time(nullptr) - row.age_seconds, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, lock.c_str(), times, 0), 0);
    ToolProcess tool(tool_under_test(), {"prog", slave});
    if (row.holder.empty()) {
        EXPECT_EQ(device.receive_through_zero(DEADLINE), "Cprog\0"s);
        device.send("O");
    }
    EXPECT_EQ(tool.wait(DEADLINE), row.holder.empty() ? 0 : 1);
    const std::string refusal = "lorvrc: " + slave + " is in use by another program (" +
                                replaced(replaced(row.holder, "<lock>", lock), "<pid>", pid) +
                                ")\n";
    EXPECT_EQ(tool.stderr_text(), row.holder.empty() ? "" : refusal);
    unlink(lock.c_str());
}

INSTANTIATE_TEST_SUITE_P(Rows, LockFiles, testing::ValuesIn(ROWS),
                         [](const auto& info) { return std::string(info.param.what); });

} // namespace
