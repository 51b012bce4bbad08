#include "write_all.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace {

// A descriptor may have been left non-blocking by another program that
// shares it (a terminal, a pipe): then a full pipe refuses the write for
// now, and the text must wait for room instead of being lost.
bool wait_for_room(int fd) {
    pollfd room{fd, POLLOUT, 0};
    return poll(&room, 1, -1) > 0 || errno == EINTR;
}

} // namespace

int write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0 && (errno == EINTR || (errno == EAGAIN && wait_for_room(fd)))) {
            continue;
        }
        if (written < 0) {
            return errno;
        }
        if (written == 0) { // no progress and no reason: not to be waited on forever
            return EIO;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return 0;
}
