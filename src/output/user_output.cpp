#include "user_output.h"

#include <cerrno>
#include <cstdio>
#include <poll.h>
#include <unistd.h>

namespace {

// Whether standard error stands at the start of a line, so that a message
// of ours never lands in the middle of the device's text.
bool at_line_start = true;

// Standard error may have been left non-blocking by another program that
// shares it (a terminal, a pipe): then a full pipe refuses the write for
// now, and the text must wait for room instead of being lost.
bool wait_for_room() {
    pollfd room{STDERR_FILENO, POLLOUT, 0};
    return poll(&room, 1, -1) > 0 || errno == EINTR;
}

} // namespace

void write_to_stderr(const char* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    at_line_start = data[size - 1] == '\n';
    while (size > 0) {
        const ssize_t written = write(STDERR_FILENO, data, size);
        if (written < 0 && (errno == EINTR || (errno == EAGAIN && wait_for_room()))) {
            continue;
        }
        if (written <= 0) {
            return;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

void write_to_stderr(const std::string& text) { write_to_stderr(text.data(), text.size()); }

void end_open_stderr_line() {
    if (!at_line_start) {
        write_to_stderr("\n");
    }
}

void tell_user(const std::string& message) {
    end_open_stderr_line();
    write_to_stderr("lorvrc: " + message + "\n");
}

bool write_to_stdout(const std::string& text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}
