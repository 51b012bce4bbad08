// Soak: sessions in a row, each of many commands, against a device on a
// pseudo-terminal. The tool's descriptors and resident memory must stay
// flat within a session, and every reply must be exact.
//
//   soak [sessions] [commands per session]     (default 1 and 100000)
//
// Prints sessions and commands per second; exits with 1 on any fault.
#include <chrono>
#include <cstdio>
#include <string>

#include "device_session.h"
#include "process_figures.h"

using namespace testing_support;
using namespace std::string_literals;

namespace {

constexpr int PORT = 10;
constexpr milliseconds REPLY_TIME(5000);
// Resident memory may move by a few pages between two readings.
constexpr long RSS_TOLERANCE_KIB = 256;
// Ten cycles of commands at a time, few enough that neither direction of
// the pty fills: two file replies, trace text, ignored bytes and a refused
// request, whose "E" shows the whole cycle has been served.
const std::string CYCLE = "Mprog\0Tt\0\x01Ilib\0\xFFMmissing\0"s;
const std::string REPLIES = "O10 END\r\0ODEF X\xCDY\r\r\0E"s;
constexpr long CYCLE_COMMANDS = 6;

bool soak_session(const TempDir& dir, long commands) {
    DeviceSession session({"prog", std::to_string(PORT)}, PORT, dir.path());
    std::string batch;
    std::string replies;
    for (int i = 0; i < 10; ++i) {
        batch += CYCLE;
        replies += REPLIES;
    }
    long rss_early = 0;
    int descriptors_early = 0;
    for (long done = 0; done < commands; done += 10 * CYCLE_COMMANDS) {
        session.device.send(batch);
        if (session.device.receive(replies.size(), REPLY_TIME) != replies) {
            std::printf("wrong reply after %ld commands\n", done);
            return false;
        }
        if (rss_early == 0) {
            rss_early = status_kib(session.tool->pid(), "VmRSS");
            descriptors_early = open_descriptors(session.tool->pid());
        }
    }
    const long rss = status_kib(session.tool->pid(), "VmRSS");
    const int descriptors = open_descriptors(session.tool->pid());
    session.device.send("O");
    const bool flat = rss <= rss_early + RSS_TOLERANCE_KIB && descriptors == descriptors_early;
    if (!flat) {
        std::printf("resident %ld -> %ld KiB, descriptors %d -> %d\n", rss_early, rss,
                    descriptors_early, descriptors);
    }
    return session.tool->wait(REPLY_TIME) == 0 && flat;
}

} // namespace

int main(int argc, char** argv) {
    const long sessions = argc > 1 ? std::stol(argv[1]) : 1;
    const long commands = argc > 2 ? std::stol(argv[2]) : 100000;
    TempDir dir;
    dir.write_file("prog.bas", "10 END");
    dir.write_file("lib.inc", "DEF X|Y\n");
    const auto start = std::chrono::steady_clock::now();
    for (long i = 0; i < sessions; ++i) {
        if (!soak_session(dir, commands)) {
            std::printf("soak: session %ld failed\n", i + 1);
            return 1;
        }
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("soak: %ld sessions of %ld commands in %.1f s: %.0f sessions/s, %.0f commands/s;"
                " descriptors and memory flat\n",
                sessions, commands, seconds, sessions / seconds, sessions * commands / seconds);
    return 0;
}
