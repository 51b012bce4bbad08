#include "user_output.h"

#include <cstring>
#include <unistd.h>

#include "write_all.h"

namespace {

// Whether standard error stands at the start of a line, so that a message
// of ours never lands in the middle of the device's text.
bool at_line_start = true;

} // namespace

void write_to_stderr(const char* data, std::size_t size) {
    if (size == 0) {
        return;
    }
    at_line_start = data[size - 1] == '\n';
    static_cast<void>(write_all(STDERR_FILENO, data, size)); // lost: nowhere to tell it
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

Result<void> write_to_stdout(const std::string& text, const std::string& what) {
    if (const int error = write_all(STDOUT_FILENO, text.data(), text.size()); error != 0) {
        return Failure{"cannot write " + what + ": " + std::strerror(error)};
    }
    return {};
}
