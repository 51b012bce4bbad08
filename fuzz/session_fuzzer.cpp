// Fuzzes the whole session driver: run_session over a fake serial line
// whose device sends the fuzzer's bytes, against a small fixed tree of
// source files. Every run must end, answer every file request with one
// well-framed reply (the exact one for the tree's files), write nothing to
// standard output, end with the status the device's bytes call for, and
// read nothing after the command that ends the session. A broken rule
// aborts, which the fuzzer reports as a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sanitizer/common_interface_defs.h>
#include <sys/stat.h>
#include <unistd.h>

#include "fake_serial.h"
#include "file_tree.h"
#include "serial.h"
#include "session.h"
#include "session_oracle.h"

namespace {

using namespace std::string_literals;

const CommandLine COMMAND_LINE{'C', "prog", "1", false};
constexpr std::int32_t PORT = 1;
const std::string START_SEQUENCE = "Cprog\0"s;

struct Descriptors {
    int tree = -1;        // the file tree's directory
    int stdout_sink = -1; // an unlinked file that must stay empty
    int null = -1;        // /dev/null, standard error during a run
    int stdout_copy = -1; // the fuzzer's own standard output and error
    int stderr_copy = -1;
};

Descriptors fds;

[[noreturn]] void fail(const std::string& what) {
    std::fprintf(stderr, "session fuzzer: %s\n", what.c_str());
    std::abort();
}

int checked(int fd, const char* what) {
    if (fd < 0) {
        std::perror(what);
        std::abort();
    }
    return fd;
}

int unlinked_file(const std::string& directory) {
    std::string pattern = directory + "/stdout-XXXXXX";
    const int fd = checked(mkstemp(pattern.data()), "session fuzzer: stdout sink");
    unlink(pattern.c_str());
    return fd;
}

// The tool runs in the tree's directory with standard output going to the
// sink and its messages to /dev/null (they would only slow the fuzzer);
// the fuzzer's own directory and streams come back after each run.
int run_in_tree() {
    const int old_directory = checked(open(".", O_RDONLY | O_DIRECTORY), "session fuzzer: cwd");
    if (fchdir(fds.tree) != 0 || dup2(fds.stdout_sink, STDOUT_FILENO) < 0 ||
        dup2(fds.null, STDERR_FILENO) < 0) {
        fail("cannot enter the file tree");
    }
    const int status = run_session(COMMAND_LINE);
    if (dup2(fds.stdout_copy, STDOUT_FILENO) < 0 || dup2(fds.stderr_copy, STDERR_FILENO) < 0 ||
        fchdir(old_directory) != 0) {
        std::abort();
    }
    close(old_directory);
    return status;
}

void check_open_call() {
    const fake_serial::OpenCall& call = fake_serial::last_open();
    if (fake_serial::open_calls() != 1 || call.port != PORT || call.data_bits != 8 ||
        call.parity != PARITY_NONE || call.stop_bits != 1 || call.baud != 38400 ||
        call.read_timeout != 10) {
        fail("the port was not opened once as 38400 8N1 with a one-second time-out");
    }
}

void check_run(const ExpectedSession& expected, int status) {
    check_open_call();
    if (fake_serial::any_port_open()) {
        fail("the port was left open");
    }
    struct stat sink {};
    if (fstat(fds.stdout_sink, &sink) != 0 || sink.st_size != 0) {
        fail("something was written to standard output");
    }
    if (status != expected.status) {
        fail("exit status " + std::to_string(status) + ", expected " +
             std::to_string(expected.status));
    }
    if (fake_serial::bytes_read() != expected.bytes_read) {
        fail("read " + std::to_string(fake_serial::bytes_read()) + " device bytes, expected " +
             std::to_string(expected.bytes_read));
    }
    const std::string problem = check_replies(fake_serial::sent(), START_SEQUENCE, expected);
    if (!problem.empty()) {
        fail(problem);
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    const std::string tree = create_file_tree();
    fds.tree = checked(open(tree.c_str(), O_RDONLY | O_DIRECTORY), "session fuzzer: tree");
    fds.stdout_sink = unlinked_file(tree);
    fds.null = checked(open("/dev/null", O_WRONLY), "session fuzzer: /dev/null");
    fds.stdout_copy = checked(dup(STDOUT_FILENO), "session fuzzer: dup");
    fds.stderr_copy = checked(dup(STDERR_FILENO), "session fuzzer: dup");
    // Sanitizer reports from inside a run must not vanish with its stderr.
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<std::intptr_t>(fds.stderr_copy)));
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fake_serial::load(data, size);
    const int status = run_in_tree();
    check_run(expect_session(data, size), status);
    return 0;
}
