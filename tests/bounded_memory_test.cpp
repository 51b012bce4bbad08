// Whatever the device sends, the tool's memory stays bounded: a file name
// longer than any path is read through and refused, an error report longer
// than any real one is cut, and neither is stored beyond its limit. The
// device streams the flood in chunks while the tool reads it.
//
// LORVRC_BOUNDED_BYTES sets the flood's size: 500 kB by default, far past
// both limits and about two seconds at the tool's one read per byte, where
// what is printed shows that the excess was not kept; 100000000 for the
// full run, which takes minutes, where the memory bound shows it too.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <poll.h>
#include <unistd.h>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

using Clock = std::chrono::steady_clock;

constexpr int PORT = 11; // no other test binary links this port
constexpr std::size_t DEFAULT_FLOOD_BYTES = 500'000;
// What the tool keeps of an error report.
constexpr std::size_t REPORT_KEEP = 64 * 1024;
constexpr long PEAK_RSS_LIMIT_KIB = 8 * 1024;
constexpr milliseconds REPLY_TIME(3000);

std::size_t flood_bytes() {
    const char* text = std::getenv("LORVRC_BOUNDED_BYTES");
    return text != nullptr ? std::stoull(text) : DEFAULT_FLOOD_BYTES;
}

// The tool reads one byte per read call, about 3 us a byte on a pty; the
// deadline allows three times that, for sanitizer builds and a busy host.
milliseconds flood_time(std::size_t bytes) { return milliseconds(10'000 + bytes / 100); }

// Byte i of the flood: letters in a cycle, so that a cut in the wrong
// place shows, and no 0 byte or comma.
char flood_byte(std::size_t i) { return static_cast<char>('a' + i % 26); }

std::string flood_piece(std::size_t from, std::size_t count) {
    std::string piece(count, '\0');
    for (std::size_t i = 0; i < count; ++i) {
        piece[i] = flood_byte(from + i);
    }
    return piece;
}

// Writes `bytes` to the device's side, waiting while the tool catches up;
// false when `deadline` passes first.
bool send_by(const PtyDevice& device, const std::string& bytes, Clock::time_point deadline) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        pollfd p{device.master(), POLLOUT, 0};
        if (Clock::now() >= deadline) {
            return false;
        }
        if (poll(&p, 1, 10) <= 0 || (p.revents & POLLOUT) == 0) {
            continue;
        }
        const ssize_t n = write(device.master(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

// Sends the command byte, `count` flood bytes in chunks and the closing
// 0 byte; true when all went out in time. Prints the rate.
bool send_flood(const PtyDevice& device, char command, std::size_t count) {
    constexpr std::size_t CHUNK = 64 * 1024;
    const auto start = Clock::now();
    const auto deadline = start + flood_time(count);
    bool sent = send_by(device, std::string(1, command), deadline);
    for (std::size_t from = 0; sent && from < count; from += CHUNK) {
        sent = send_by(device, flood_piece(from, std::min(CHUNK, count - from)), deadline);
    }
    sent = sent && send_by(device, std::string(1, '\0'), deadline);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("flood of %zu bytes after \"%c\" sent in %.1f s (%.2f MB/s)\n", count, command,
                seconds, static_cast<double>(count) / 1e6 / seconds);
    return sent;
}

void expect_small_peak(ToolProcess& tool) {
    ASSERT_TRUE(tool.peak_rss_kib().has_value());
    std::printf("peak resident memory of the tool: %ld KiB\n", *tool.peak_rss_kib());
    if (UNDER_SANITIZERS) {
        return; // the sanitizers' own memory dwarfs the tool's
    }
    EXPECT_LT(*tool.peak_rss_kib(), PEAK_RSS_LIMIT_KIB);
}

// The session goes on after the refusal, and its error report names the
// file by the part of the name that was kept.
TEST(BoundedMemory, HugeNameIsRefusedAndTheSessionGoesOn) {
    const std::size_t count = flood_bytes();
    ASSERT_GT(count, static_cast<std::size_t>(PATH_MAX));
    TempDir dir;
    dir.write_file("prog.bas", "10 END\n");
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    ASSERT_EQ(session.start_sequence, std::string("Cprog\0", 6));

    ASSERT_TRUE(send_flood(session.device, 'M', count));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), "E");
    session.device.send(std::string("Mprog\0", 6));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), std::string("O10 END\r\r\0", 10));
    // The name's cut shows as well in a smaller flood.
    ASSERT_TRUE(send_flood(session.device, 'I', std::min(count, DEFAULT_FLOOD_BYTES)));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), "E");
    session.device.send(std::string("E,done\0", 7));

    EXPECT_EQ(session.tool->wait(REPLY_TIME), 1);
    const std::string directory = std::filesystem::canonical(dir.path()).string();
    const std::string expected =
        "Error " + directory + "\\" + flood_piece(0, PATH_MAX) + ".inc done\n";
    const std::string printed = session.tool->stderr_text();
    EXPECT_TRUE(printed == expected)
        << "printed " << printed.size() << " bytes, expected " << expected.size()
        << "; they start: " << printed.substr(0, 120);
    expect_small_peak(*session.tool);
}

TEST(BoundedMemory, HugeReportIsCutAtItsLimit) {
    const std::size_t count = flood_bytes();
    ASSERT_GT(count, REPORT_KEEP);
    TempDir dir;
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    ASSERT_EQ(session.start_sequence, std::string("Cprog\0", 6));

    ASSERT_TRUE(send_flood(session.device, 'E', count));
    EXPECT_EQ(session.tool->wait(REPLY_TIME), 1);
    const std::string directory = std::filesystem::canonical(dir.path()).string();
    const std::string expected = "Error " + directory + "\\ " + flood_piece(0, REPORT_KEEP) + " [" +
                                 std::to_string(count - REPORT_KEEP) + " more bytes cut]\n";
    // Compared as a flag: a 64 KiB mismatch would drown the output.
    const std::string printed = session.tool->stderr_text();
    EXPECT_TRUE(printed == expected)
        << "printed " << printed.size() << " bytes, expected " << expected.size()
        << "; they start: " << printed.substr(0, 120);
    expect_small_peak(*session.tool);
}

} // namespace
