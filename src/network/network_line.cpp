#include "network_line.h"

#include <algorithm>
#include <cerrno>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using std::chrono::milliseconds;

constexpr std::size_t GATHER_LIMIT = 4096;
constexpr std::size_t READ_CHUNK = 4096;
constexpr std::size_t INCOMING_LIMIT = std::size_t{64} * 1024;
constexpr milliseconds LINE_WAIT(1000); // the read and write wait of every device line
constexpr milliseconds CLOSE_DRAIN(500);

int poll_ms(NetworkLine::Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<milliseconds>(deadline - NetworkLine::Clock::now()).count();
    return static_cast<int>(std::max<long long>(left, 0));
}

} // namespace

NetworkLine::NetworkLine(int fd, std::unique_ptr<TelnetFraming> framing)
    : fd_(fd), framing_(std::move(framing)) {}

NetworkLine::~NetworkLine() { close(); }

std::string& NetworkLine::outgoing() { return framing_ ? framing_->wire_out() : raw_out_; }
std::string& NetworkLine::incoming() { return framing_ ? framing_->device_data() : raw_in_; }

std::string NetworkLine::unread() const {
    const std::string& in = framing_ ? framing_->device_data() : raw_in_;
    return in.substr(in_read_);
}

void NetworkLine::drop_incoming() {
    incoming().clear();
    in_read_ = 0;
}

void NetworkLine::send_waiting() {
    std::string& out = outgoing();
    if (out.empty() || lost_) {
        return;
    }
    const ssize_t sent = send(fd_, out.data(), out.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (sent > 0) {
        out.erase(0, static_cast<std::size_t>(sent));
    } else if (sent < 0 && errno != EAGAIN && errno != EINTR) {
        lost_ = true;
    }
}

bool NetworkLine::pump(Clock::time_point deadline) {
    if (lost_) {
        return false;
    }
    // What arrived waits for the session; while it is behind (a write
    // stalled by a server that takes nothing), no more is taken in.
    const bool room = incoming().size() - in_read_ < INCOMING_LIMIT;
    pollfd wanted{fd_, static_cast<short>((room ? POLLIN : 0) | (outgoing().empty() ? 0 : POLLOUT)),
                  0};
    if (poll(&wanted, 1, poll_ms(deadline)) <= 0) {
        return true;
    }
    if ((wanted.revents & POLLOUT) != 0) {
        send_waiting();
    }
    if ((wanted.revents & (POLLIN | POLLHUP | POLLERR)) != 0) {
        char chunk[READ_CHUNK];
        const ssize_t got = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0 && framing_) {
            framing_->receive(chunk, static_cast<std::size_t>(got));
        } else if (got > 0) {
            raw_in_.append(chunk, static_cast<std::size_t>(got));
        } else if (got == 0 || (errno != EAGAIN && errno != EINTR)) {
            lost_ = true;
        }
    }
    return !lost_;
}

bool NetworkLine::exchange_until(const std::function<bool()>& done, Clock::time_point deadline) {
    while (!done() && Clock::now() < deadline) {
        if (!pump(deadline)) {
            return false;
        }
    }
    return !lost_;
}

long NetworkLine::read_byte() {
    const auto deadline = Clock::now() + LINE_WAIT;
    for (;;) {
        if (in_read_ < incoming().size()) {
            const auto byte = static_cast<unsigned char>(incoming()[in_read_++]);
            if (in_read_ == incoming().size()) {
                drop_incoming();
            }
            return byte;
        }
        if (!pump(deadline)) {
            return LINE_LOST;
        }
        if (Clock::now() >= deadline && in_read_ >= incoming().size()) {
            return LINE_NOTHING_YET;
        }
    }
}

long NetworkLine::write_some(const char* data, std::size_t size) {
    if (outgoing().size() >= GATHER_LIMIT) {
        const auto deadline = Clock::now() + LINE_WAIT;
        exchange_until([this] { return outgoing().size() < GATHER_LIMIT; }, deadline);
    }
    if (lost_) {
        return LINE_LOST;
    }
    const std::size_t room = GATHER_LIMIT - std::min(GATHER_LIMIT, outgoing().size());
    const std::size_t take = std::min(size, room);
    if (take == 0) {
        return 0;
    }
    if (framing_) {
        framing_->send_data(data, take);
    } else {
        raw_out_.append(data, take);
    }
    if (data[take - 1] == '\r' || outgoing().size() >= GATHER_LIMIT) {
        send_waiting();
    }
    return lost_ ? LINE_LOST : static_cast<long>(take);
}

bool NetworkLine::discard_input() {
    if (framing_) {
        framing_->send_com_port(
            com_port_request(ComPortCommand::purge_data, COM_PORT_PURGE_RECEIVED));
    }
    return drop_arrived();
}

std::size_t NetworkLine::input_waiting() {
    // Telnet commands and answers are taken out first: only the device's
    // bytes count.
    for (pollfd ready{fd_, POLLIN, 0};
         !lost_ && incoming().size() - in_read_ < INCOMING_LIMIT && poll(&ready, 1, 0) > 0;) {
        pump(Clock::now());
    }
    return incoming().size() - in_read_;
}

bool NetworkLine::drop_arrived() {
    exchange_until([this] { return outgoing().empty(); }, Clock::now() + LINE_WAIT);
    // What is here or readable now came before the purge.
    drop_incoming();
    for (pollfd ready{fd_, POLLIN, 0}; !lost_ && poll(&ready, 1, 0) > 0;) {
        pump(Clock::now());
        drop_incoming();
    }
    return !lost_;
}

void NetworkLine::close() {
    if (fd_ < 0) {
        return;
    }
    exchange_until([this] { return outgoing().empty(); }, Clock::now() + LINE_WAIT);
    shutdown(fd_, SHUT_WR);
    const auto deadline = Clock::now() + CLOSE_DRAIN;
    char chunk[READ_CHUNK];
    for (pollfd ready{fd_, POLLIN, 0}; poll(&ready, 1, poll_ms(deadline)) > 0;) {
        const ssize_t got = recv(fd_, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got == 0 || (got < 0 && errno != EAGAIN && errno != EINTR)) {
            break;
        }
    }
    ::close(fd_);
    fd_ = -1;
}
