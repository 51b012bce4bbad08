// Everything the tool prints goes to standard error, unbuffered, so text
// shows the moment it is written, even while the tool then waits.
#pragma once

#include <cstddef>
#include <string>

// Writes bytes to standard error as they are, all of them: a short write
// is continued, and a full non-blocking standard error is waited on. Any
// other failure loses the rest, and the run goes on.
void write_to_user(const char* data, std::size_t size);
void write_to_user(const std::string& text);

// Writes a newline when the last byte written was not one, so that what
// follows starts a line of its own.
void end_open_line();

// Prints "lorvrc: <message>" and a newline on a line of its own: when the
// last byte written was not a newline, a newline comes first.
void tell_user(const std::string& message);
