// The one writer: every byte the tool writes for the user goes through it.
#pragma once

#include <cstddef>

// Writes all `size` bytes of `data` to `fd`: a short write is continued, an
// interrupted one (EINTR) is tried again, and a non-blocking descriptor
// that is full (EAGAIN) is waited on until it has room. Returns 0 when all
// got out, else the errno of the write that failed; the bytes before it
// were written, the rest not.
[[nodiscard]] int write_all(int fd, const char* data, std::size_t size);
