// How fast and how lean the tool serves a source file over a pseudo-terminal.
//
// Rate: a program of typical BASIC lines is requested round after round,
// found a long way: by the case rule, in the second of three search
// directories (two -I, one LORVRC_PATH), after the exact name was looked
// for in all four places and the case rule had looked through the current
// directory and the first -I one, of 500 files each. Each round also times a plain loop that pushes
// the same reply bytes through a pty with one write() per byte, which is the floor for a sender
// that must write byte by byte. Memory: the tool's peak resident size while
// it serves one huge line and many short lines.
//
//   file_reply_bench [rounds]      (default 5)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "device_session.h"
#include "device_text.h"
#include "process_figures.h"

using namespace testing_support;
using Clock = std::chrono::steady_clock;

namespace {

// Off the ports the tests use, so a test run next to the bench is no bother.
constexpr int BENCH_PORT = 7;
constexpr int SILENCE_LIMIT_MS = 10000;
constexpr double SERIAL_BYTES_PER_SECOND = 38400.0 / 10.0; // 8N1: ten bits a byte

struct Options {
    int rounds = 5;
    std::size_t rate_bytes = 1536 * 1024;
    std::size_t memory_bytes = std::size_t{64} * 1024 * 1024;
};

// Thrown on any failure, so that temporary directories and child
// processes are cleaned up on the way out.
struct BenchFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void fail(const std::string& what) { throw BenchFailure(what); }

// Line `index` of a program of 20- to 60-byte statements.
std::string basic_line(std::size_t index) {
    static const char* const statements[] = {
        "PRINT \"HELLO\"; X(I)",
        "FOR I = 1 TO 100 STEP 2",
        "IF A$ = \"YES\" THEN GOSUB 1000",
        "LET TOTAL = TOTAL + PRICE(I) * QTY(I)",
        "NEXT I",
        "REM *** READ THE NEXT RECORD FROM THE FILE ***",
        "INPUT \"NAME\"; N$",
        "DIM X(100), Y(100), N$(20)",
        "ON K GOSUB 200, 300, 400, 500",
        "PRINT USING \"###.##\"; TOTAL / COUNT",
    };
    const std::size_t count = sizeof statements / sizeof statements[0];
    return std::to_string(10 * (index + 1)) + " " + statements[index % count];
}

// Writes whole lines of the program to `path` until it holds at least
// `size` bytes; with one_line, exactly `size` bytes of the same text
// without any line feed.
void write_program(const std::string& path, std::size_t size, bool one_line) {
    std::ofstream out(path, std::ios::binary);
    std::string chunk;
    std::size_t written = 0;
    for (std::size_t index = 0; written < size; ++index) {
        chunk += basic_line(index) + (one_line ? " : " : "\n");
        if (chunk.size() >= 1 << 20 || written + chunk.size() >= size) {
            const std::size_t take =
                one_line ? std::min(chunk.size(), size - written) : chunk.size();
            out.write(chunk.data(), static_cast<std::streamsize>(take));
            written += take;
            chunk.clear();
        }
    }
    if (!out) {
        fail("cannot write " + path);
    }
}

// The reply the device must get for the program in `path`, lines of at
// most 300 bytes only.
std::string expected_reply(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string reply = "O";
    std::string line;
    while (std::getline(in, line)) {
        reply += device_text(line).codes() + '\r';
    }
    return reply + '\r' + '\0'; // the program ends with a line feed: one empty last line
}

// Reads from the master until a 0 byte ends the reply. Returns the bytes
// (or only their count when keep is false); gives up after a long silence.
std::string drain_reply(int master, bool keep, std::size_t& count) {
    std::string got;
    count = 0;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, SILENCE_LIMIT_MS) <= 0 || (p.revents & POLLIN) == 0) {
            fail("the reply stopped after " + std::to_string(count) + " bytes");
        }
        const ssize_t n = read(master, buffer.data(), buffer.size());
        if (n <= 0) {
            continue;
        }
        count += static_cast<std::size_t>(n);
        if (keep) {
            got.append(buffer.data(), static_cast<std::size_t>(n));
        }
        if (buffer[static_cast<std::size_t>(n) - 1] == '\0') {
            return got;
        }
    }
}

// Reads exactly `size` bytes from the master; false after a long silence.
bool drain_bytes(int master, std::size_t size) {
    std::vector<char> buffer(1 << 16);
    for (std::size_t done = 0; done < size;) {
        pollfd p{master, POLLIN, 0};
        if (poll(&p, 1, SILENCE_LIMIT_MS) <= 0) {
            return false;
        }
        const ssize_t n = read(master, buffer.data(), std::min(buffer.size(), size - done));
        if (n > 0) {
            done += static_cast<std::size_t>(n);
        }
    }
    return true;
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 == 1 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// Starts the tool in `dir`, with `options` before its arguments, against
// a fake device that has read the start sequence.
std::unique_ptr<DeviceSession> start_tool(const std::string& dir,
                                          std::vector<std::string> options = {}) {
    options.insert(options.end(), {"prog", std::to_string(BENCH_PORT)});
    auto session = std::make_unique<DeviceSession>(options, BENCH_PORT, dir);
    if (session->start_sequence != std::string("Cprog") + '\0') {
        fail("the tool did not start: " + session->tool->stderr_text());
    }
    return session;
}

// One request served by the running tool, from the request to the 0 byte.
double time_tool_reply(DeviceSession& session, const std::string& expected) {
    const auto start = Clock::now();
    session.device.send(std::string("Mprog") + '\0');
    std::size_t count = 0;
    const std::string reply = drain_reply(session.device.master(), true, count);
    const double elapsed = seconds_since(start);
    if (reply != expected) {
        fail("the tool's reply differs from the file (" + std::to_string(reply.size()) + " of " +
             std::to_string(expected.size()) + " bytes)");
    }
    return elapsed;
}

// The slave of `pty` set up as the tool sets up its port.
int open_raw_slave(const PtyDevice& pty) {
    const int fd = open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    termios settings{};
    if (fd < 0 || tcgetattr(fd, &settings) != 0) {
        fail("cannot open " + pty.slave_path());
    }
    cfmakeraw(&settings);
    cfsetispeed(&settings, B38400);
    cfsetospeed(&settings, B38400);
    tcsetattr(fd, TCSANOW, &settings);
    return fd;
}

// The same bytes through a pty, one write() each, drained meanwhile.
double time_plain_writes(const std::string& bytes) {
    PtyDevice pty;
    const int slave = open_raw_slave(pty);
    const auto start = Clock::now();
    std::thread writer([&] {
        for (const char& byte : bytes) {
            if (write(slave, &byte, 1) != 1) {
                return;
            }
        }
    });
    const bool drained = drain_bytes(pty.master(), bytes.size());
    const double elapsed = seconds_since(start);
    if (!drained) {
        pty.hang_up(); // a write blocked on a full line fails now
    }
    writer.join();
    close(slave);
    if (!drained) {
        fail("the plain loop stalled");
    }
    return elapsed;
}

// A directory of `count` small files that the case rule must look through.
void fill_directory(const TempDir& dir, const std::string& name, int count) {
    for (int i = 0; i < count; ++i) {
        dir.write_file(name + "/other" + std::to_string(i) + ".bas", "10 END\n");
    }
}

void run_rate(const Options& options) {
    TempDir dir;
    fill_directory(dir, "work", 500);
    fill_directory(dir, "lib1", 500);
    fill_directory(dir, "lib3", 500);
    const std::string path = dir.path() + "/lib2/Prog.bas";
    write_program(dir.write_file("lib2/Prog.bas", ""), options.rate_bytes, false);
    const std::string expected = expected_reply(path);
    std::vector<double> tool_times;
    std::vector<double> plain_times;
    setenv("LORVRC_PATH", (dir.path() + "/lib3").c_str(), 1);
    const std::unique_ptr<DeviceSession> started =
        start_tool(dir.path() + "/work", {"-I", dir.path() + "/lib1", "-I", dir.path() + "/lib2"});
    unsetenv("LORVRC_PATH");
    DeviceSession& session = *started;
    for (int round = 0; round < options.rounds; ++round) {
        tool_times.push_back(time_tool_reply(session, expected));
        plain_times.push_back(time_plain_writes(expected));
        std::printf("  round %d: tool %.3f s, plain %.3f s\n", round + 1, tool_times.back(),
                    plain_times.back());
    }
    session.device.send("O");
    if (session.tool->wait(std::chrono::milliseconds(5000)) != 0) {
        fail("the tool did not end with status 0");
    }
    const double tool = median(tool_times);
    const double plain = median(plain_times);
    const double rate = static_cast<double>(expected.size()) / tool;
    std::printf("reply rate, %zu-byte reply, median of %d rounds:\n", expected.size(),
                options.rounds);
    std::printf("  tool:  %.3f s, %.0f bytes/s, %.0f times 38400 baud 8N1 (%.0f bytes/s)\n", tool,
                rate, rate / SERIAL_BYTES_PER_SECOND, SERIAL_BYTES_PER_SECOND);
    std::printf("  plain one-byte writes: %.3f s, %.0f bytes/s\n", plain,
                static_cast<double>(expected.size()) / plain);
    std::printf("  tool / plain: %.2f (goal: at most 1.5)\n", tool / plain);
}

struct MemoryFigures {
    long max_rss_kib = -1; // ru_maxrss of the reaped tool
    long hwm_kib = -1;     // VmHWM just before the end command
    std::size_t reply_bytes = 0;
    bool warned = false; // stderr holds exactly the expected warnings
    bool whole = false;  // the reply had the expected size
    bool ok = false;
};

MemoryFigures serve_and_measure(const std::string& dir, const std::string& expected_err) {
    MemoryFigures figures;
    const std::unique_ptr<DeviceSession> started = start_tool(dir);
    DeviceSession& session = *started;
    session.device.send(std::string("Mprog") + '\0');
    drain_reply(session.device.master(), false, figures.reply_bytes);
    figures.hwm_kib = status_kib(session.tool->pid(), "VmHWM");
    session.device.send("O");
    figures.ok = session.tool->wait(std::chrono::milliseconds(10000)) == 0;
    figures.warned = session.tool->stderr_text() == expected_err;
    figures.max_rss_kib = session.tool->peak_rss_kib().value_or(-1);
    return figures;
}

void report_memory(const std::string& what, const MemoryFigures& figures, double seconds) {
    std::printf("  %-26s ru_maxrss %6ld KiB, VmHWM %6ld KiB, reply %9zu bytes, %5.1f s%s%s%s\n",
                what.c_str(), figures.max_rss_kib, figures.hwm_kib, figures.reply_bytes, seconds,
                figures.ok ? "" : ", EXIT STATUS NOT 0", figures.warned ? "" : ", STDERR WRONG",
                figures.whole ? "" : ", REPLY SIZE WRONG");
}

void run_memory(const Options& options) {
    std::printf("tool peak memory (goal: under 8192 KiB, the same for every file):\n");
    struct Kind {
        std::string what;
        std::size_t size;
        bool one_line;
    };
    const std::size_t mib = options.memory_bytes >> 20;
    const std::vector<Kind> kinds = {
        {"tiny file (baseline)", 64, false},
        {std::to_string(mib) + " MiB, one line", options.memory_bytes, true},
        {std::to_string(mib) + " MiB, short lines", options.memory_bytes, false},
    };
    for (const Kind& kind : kinds) {
        TempDir dir;
        write_program(dir.path() + "/prog.bas", kind.size, kind.one_line);
        const std::string warning =
            kind.one_line ? "lorvrc: prog.bas: line 1 is " + std::to_string(kind.size) +
                                " bytes long, over the device's limit of 300; not sent\n"
                          : "";
        const std::size_t file_size = std::filesystem::file_size(dir.path() + "/prog.bas");
        // "O", the file with CR for LF, the empty last line's CR, the 0 byte.
        const std::size_t reply_size = kind.one_line ? 2 : file_size + 3;
        const auto start = Clock::now();
        MemoryFigures figures = serve_and_measure(dir.path(), warning);
        figures.whole = figures.reply_bytes == reply_size;
        report_memory(kind.what, figures, seconds_since(start));
    }
}

} // namespace

int main(int argc, char** argv) {
    Options options;
    options.rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : options.rounds;
    // Memory first: a forked child's size before its exec counts in its
    // ru_maxrss, so the tool is best started before this process has held
    // the rate test's buffers.
    try {
        run_memory(options);
        run_rate(options);
    } catch (const BenchFailure& failure) {
        std::fprintf(stderr, "file_reply_bench: %s\n", failure.what());
        return 1;
    }
    return 0;
}
