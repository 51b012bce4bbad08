// Runs the built tool as a child process with its standard error and
// standard output captured, under a deadline.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include <sys/resource.h>
#include <sys/types.h>

namespace testing_support {

using std::chrono::milliseconds;

// Whether this build runs under the sanitizers, whose allocators hold
// freed memory back: memory figures of the tool mean nothing there.
#ifdef LORVRC_SANITIZED
constexpr bool UNDER_SANITIZERS = true;
#else
constexpr bool UNDER_SANITIZERS = false;
#endif

// Path of the tool built to open its ports in port_path()s (defined
// in device_session.cpp, with the session support that needs the test
// build, not in the part the demo links).
std::string tool_under_test();

// Where the child's standard error goes: into stderr_text(), or into a
// pipe whose reader has gone.
enum class ChildStderr { captured, broken_pipe };

class ToolProcess {
  public:
    // Starts `program` with `args` (argv[1] onwards) in `directory` (empty:
    // the test's own), standard input from /dev/null. With `new_session`
    // the child calls setsid first, so it has no controlling terminal.
    ToolProcess(const std::string& program, const std::vector<std::string>& args,
                const std::string& directory = "", bool new_session = false,
                ChildStderr child_stderr = ChildStderr::captured);
    ~ToolProcess(); // kills the child if it still runs
    ToolProcess(const ToolProcess&) = delete;
    ToolProcess& operator=(const ToolProcess&) = delete;

    pid_t pid() const { return pid_; }

    // Waits for the child to end; on expiry kills it and returns nothing.
    // Otherwise the exit status, or 128 + signal for a child killed by one.
    std::optional<int> wait(milliseconds timeout);

    // Waits until standard error holds `text`; true if it came in time.
    bool wait_for_stderr(const std::string& text, milliseconds timeout);

    std::string stderr_text() const;
    std::string stdout_text() const;

    // Peak resident memory in KiB (ru_maxrss), known once wait() has seen
    // the child end; nothing before. The kernel carries the figure over an
    // exec, so it is at least what the forked test process had resident:
    // keep the test process small when this figure matters.
    std::optional<long> peak_rss_kib() const;

  private:
    pid_t pid_ = -1;
    int stderr_fd_ = -1;
    int stdout_fd_ = -1;
    std::optional<int> status_;
    std::optional<rusage> usage_;
};

} // namespace testing_support
