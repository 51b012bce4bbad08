#include "tool_process.h"

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

namespace {

using Clock = std::chrono::steady_clock;

// Points the child's descriptor 2 where `child_stderr` says.
void redirect_stderr(ChildStderr child_stderr, int err_fd) {
    int broken[2] = {-1, -1};
    if (child_stderr == ChildStderr::broken_pipe && pipe(broken) == 0) {
        close(broken[0]); // the reader is gone before the first write
    }
    child_stderr == ChildStderr::closed ? close(STDERR_FILENO)
                                        : dup2(broken[1] >= 0 ? broken[1] : err_fd, STDERR_FILENO);
    close(broken[1]);
}

[[noreturn]] void exec_child(const std::string& program, const std::vector<std::string>& args,
                             const std::string& directory, bool new_session,
                             ChildStderr child_stderr, int err_fd, int out_fd) {
    if (new_session) {
        setsid();
    }
    const int null_fd = open("/dev/null", O_RDONLY);
    dup2(null_fd, STDIN_FILENO);
    dup2(out_fd, STDOUT_FILENO);
    redirect_stderr(child_stderr, err_fd);
    if (null_fd > STDERR_FILENO) {
        close(null_fd); // the tool gets no descriptor a real run would not have
    }
    if (!directory.empty() && chdir(directory.c_str()) != 0) {
        _exit(126);
    }
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    execv(program.c_str(), argv.data());
    _exit(127);
}

} // namespace

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory, bool new_session, ChildStderr child_stderr) {
    int err_pipe[2];
    int out_pipe[2];
    if (pipe2(err_pipe, O_CLOEXEC) != 0 || pipe2(out_pipe, O_CLOEXEC) != 0) {
        return;
    }
    pid_ = fork();
    if (pid_ == 0) {
        exec_child(program, args, directory, new_session, child_stderr, err_pipe[1], out_pipe[1]);
    }
    close(err_pipe[1]);
    close(out_pipe[1]);
    stderr_fd_ = err_pipe[0];
    stdout_fd_ = out_pipe[0];
    drainer_ = std::thread([this] { drain(); });
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (drainer_.joinable()) {
        drainer_.join();
    }
    close(stderr_fd_);
    close(stdout_fd_);
}

void ToolProcess::drain() {
    pollfd fds[2] = {{stderr_fd_, POLLIN, 0}, {stdout_fd_, POLLIN, 0}};
    int open_count = 2;
    while (open_count > 0 && poll(fds, 2, -1) > 0) {
        for (pollfd& p : fds) {
            if (p.fd < 0 || p.revents == 0) {
                continue;
            }
            char buffer[4096];
            const ssize_t n = read(p.fd, buffer, sizeof buffer);
            if (n <= 0) {
                p.fd = -1;
                --open_count;
                continue;
            }
            std::lock_guard<std::mutex> lock(mutex_);
            (p.fd == stderr_fd_ ? stderr_ : stdout_).append(buffer, static_cast<std::size_t>(n));
        }
    }
}

std::optional<int> ToolProcess::wait(milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!status_ && pid_ > 0) {
        int status = 0;
        rusage usage{};
        const pid_t done = wait4(pid_, &status, WNOHANG, &usage);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            usage_ = usage;
            break;
        }
        if (Clock::now() >= deadline) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
            status_ = std::nullopt;
            pid_ = -1;
            return std::nullopt;
        }
        usleep(1000);
    }
    if (drainer_.joinable()) {
        drainer_.join(); // the pipes close with the child: all output is in
    }
    return status_;
}

bool ToolProcess::wait_for_stderr(const std::string& text, milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (stderr_text().find(text) == std::string::npos) {
        if (Clock::now() >= deadline) {
            return false;
        }
        usleep(1000);
    }
    return true;
}

std::string ToolProcess::stderr_text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stderr_;
}

std::string ToolProcess::stdout_text() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stdout_;
}

std::optional<long> ToolProcess::peak_rss_kib() const {
    return usage_ ? std::optional<long>(usage_->ru_maxrss) : std::nullopt;
}

} // namespace testing_support
