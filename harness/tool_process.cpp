#include "tool_process.h"

#include <csignal>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing_support {

using Clock = std::chrono::steady_clock;

namespace {

// Points the child's descriptor 2 at the capture file, or at a pipe whose
// reader is gone before the first write.
void redirect_stderr(ChildStderr child_stderr, int err_fd) {
    int broken[2] = {-1, -1};
    if (child_stderr == ChildStderr::broken_pipe && pipe(broken) == 0) {
        close(broken[0]);
    }
    dup2(broken[1] >= 0 ? broken[1] : err_fd, STDERR_FILENO);
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

// Everything written to a capture file so far; reading moves no offset
// the child writes at.
std::string captured(int fd) {
    std::string text;
    char buffer[4096];
    for (ssize_t n = 0;
         (n = pread(fd, buffer, sizeof buffer, static_cast<off_t>(text.size()))) > 0;) {
        text.append(buffer, static_cast<std::size_t>(n));
    }
    return text;
}

} // namespace

ToolProcess::ToolProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& directory, bool new_session, ChildStderr child_stderr) {
    // Files, not pipes, take the output: the tool never waits for a reader.
    stderr_fd_ = memfd_create("stderr", MFD_CLOEXEC);
    stdout_fd_ = memfd_create("stdout", MFD_CLOEXEC);
    pid_ = fork();
    if (pid_ == 0) {
        exec_child(program, args, directory, new_session, child_stderr, stderr_fd_, stdout_fd_);
    }
}

ToolProcess::~ToolProcess() {
    if (pid_ > 0 && !status_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    close(stderr_fd_);
    close(stdout_fd_);
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

std::string ToolProcess::stderr_text() const { return captured(stderr_fd_); }

std::string ToolProcess::stdout_text() const { return captured(stdout_fd_); }

std::optional<long> ToolProcess::peak_rss_kib() const {
    return usage_ ? std::optional<long>(usage_->ru_maxrss) : std::nullopt;
}

} // namespace testing_support
