// A TCP connection to a network port, made within a time limit.
#pragma once

#include <chrono>
#include <string>

#include "network_address.h"

// A connected socket, or why there is none.
struct TcpConnection {
    int fd = -1;                // non-blocking and close-on-exec; -1: not connected
    int error = 0;              // errno of the last address tried (ETIMEDOUT past the limit)
    std::string resolver_words; // not empty when the host did not resolve: the resolver's words
};

// Resolves the host and tries every address it gives, in the resolver's
// order, until one accepts; all of them together get at most `limit`.
// The socket then has TCP_NODELAY (each send goes out at once: the line
// gathers bytes itself) and keep-alive with short times plus a user
// time-out, so a peer that vanished without closing is noticed within
// about 30 s whether the line is silent or data is waiting to go.
// On failure no socket is left open.
TcpConnection connect_tcp(const NetworkAddress& address, std::chrono::milliseconds limit);
