#include "pty_device.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testing_support {

using Clock = std::chrono::steady_clock;

std::string test_root() { return LORVRC_TEST_ROOT; }

std::string port_path(int port) { return LORVRC_TEST_PORT_DIR "/ttyS" + std::to_string(port); }

bool link_port(int port, const std::string& target) {
    mkdir(LORVRC_TEST_PORT_DIR, 0755);
    unlink(port_path(port).c_str());
    return target.empty() || symlink(target.c_str(), port_path(port).c_str()) == 0;
}

PtyDevice::PtyDevice() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0) {
        hang_up();
        return;
    }
    const char* name = ptsname(master_);
    slave_path_ = name != nullptr ? name : "";
}

PtyDevice::~PtyDevice() {
    hang_up();
    for (const std::string& link : links_) {
        unlink(link.c_str());
    }
}

void PtyDevice::link_as_port(int port) {
    link_port(port, slave_path_);
    links_.push_back(port_path(port));
}

void PtyDevice::send(const std::string& bytes) const {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(master_, bytes.data() + done, bytes.size() - done);
        if (n <= 0) {
            return;
        }
        done += static_cast<std::size_t>(n);
    }
}

std::string PtyDevice::receive(std::size_t count, milliseconds timeout) const {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    // Looks once even when the time is up: what has come already counts.
    for (bool first = true; got.size() < count && (first || Clock::now() < deadline);
         first = false) {
        pollfd p{master_, POLLIN, 0};
        if (poll(&p, 1, 10) <= 0 || (p.revents & POLLIN) == 0) {
            // POLLHUP alone: no one holds the slave open (yet, or any more).
            std::this_thread::sleep_for(milliseconds(2));
            continue;
        }
        char buffer[4096];
        const std::size_t want = std::min(sizeof buffer, count - got.size());
        const ssize_t n = read(master_, buffer, want);
        if (n > 0) {
            got.append(buffer, static_cast<std::size_t>(n));
        }
    }
    return got;
}

std::string PtyDevice::receive_through_zero(milliseconds timeout) const {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline && (got.empty() || got.back() != '\0')) {
        got += receive(1, milliseconds(10));
    }
    return got;
}

std::string PtyDevice::receive_until_quiet(milliseconds quiet, milliseconds timeout) const {
    std::string got;
    const auto deadline = Clock::now() + timeout;
    auto last_byte = Clock::now();
    while (Clock::now() < deadline && Clock::now() - last_byte < quiet) {
        const std::string more = receive(4096, milliseconds(10));
        if (!more.empty()) {
            got += more;
            last_byte = Clock::now();
        }
    }
    return got;
}

void PtyDevice::hang_up() {
    if (master_ >= 0) {
        close(master_);
    }
    master_ = -1;
}

} // namespace testing_support
