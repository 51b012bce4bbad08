#include "tcp_connect.h"

#include <cerrno>
#include <memory>

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

// Ten idle seconds, then a probe every five, given up after three: about
// 25 s; data unacknowledged for 30 s ends the connection as well.
constexpr int KEEPALIVE_IDLE_S = 10;
constexpr int KEEPALIVE_INTERVAL_S = 5;
constexpr int KEEPALIVE_PROBES = 3;
constexpr unsigned USER_TIMEOUT_MS = 30000;

void set_option(int fd, int level, int name, int value) {
    setsockopt(fd, level, name, &value, sizeof value);
}

void tune(int fd) {
    set_option(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    set_option(fd, SOL_SOCKET, SO_KEEPALIVE, 1);
    set_option(fd, IPPROTO_TCP, TCP_KEEPIDLE, KEEPALIVE_IDLE_S);
    set_option(fd, IPPROTO_TCP, TCP_KEEPINTVL, KEEPALIVE_INTERVAL_S);
    set_option(fd, IPPROTO_TCP, TCP_KEEPCNT, KEEPALIVE_PROBES);
    set_option(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, static_cast<int>(USER_TIMEOUT_MS));
}

// Connects to one address before the deadline: the socket, or -1 with errno.
int connect_one(const addrinfo& info, Clock::time_point deadline) {
    const int fd =
        socket(info.ai_family, info.ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, info.ai_protocol);
    if (fd < 0) {
        return -1;
    }
    int error = 0;
    if (connect(fd, info.ai_addr, info.ai_addrlen) != 0) {
        error = errno;
    }
    while (error == EINPROGRESS || error == EINTR) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd wanted{fd, POLLOUT, 0};
        const int ready = left.count() > 0 ? poll(&wanted, 1, static_cast<int>(left.count())) : 0;
        if (ready == 0) {
            error = ETIMEDOUT;
        } else if (ready > 0) {
            socklen_t size = sizeof error;
            getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        } else {
            error = errno;
        }
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    tune(fd);
    return fd;
}

} // namespace

TcpConnection connect_tcp(const NetworkAddress& address, std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int resolved = getaddrinfo(address.host.c_str(), address.service.c_str(), &hints, &found);
    if (resolved != 0) {
        return {-1, resolved == EAI_SYSTEM ? errno : 0, gai_strerror(resolved)};
    }
    const std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(found, freeaddrinfo);
    TcpConnection connection{-1, ETIMEDOUT, ""};
    for (const addrinfo* info = found; info != nullptr; info = info->ai_next) {
        connection.fd = connect_one(*info, deadline);
        if (connection.fd >= 0) {
            connection.error = 0;
            return connection;
        }
        connection.error = errno;
        if (Clock::now() >= deadline) {
            break;
        }
    }
    return connection;
}
