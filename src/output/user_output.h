// What the tool prints for the user. Messages, warnings, trace text and
// error reports go to standard error, unbuffered, so text shows the moment
// it is written, even while the tool then waits; only the texts asked for
// on the command line (--help, --version, --list) go to standard output.
#pragma once

#include <cstddef>
#include <string>

// Writes bytes to standard error as they are, all of them: a short write
// is continued, and a full non-blocking standard error is waited on. Any
// other failure loses the rest, and the run goes on.
void write_to_stderr(const char* data, std::size_t size);
void write_to_stderr(const std::string& text);

// Writes a newline to standard error when the last byte written there was
// not one, so that what follows starts a line of its own.
void end_open_stderr_line();

// Prints "lorvrc: <message>" and a newline on standard error, on a line of
// its own: when the last byte written was not a newline, a newline first.
void tell_user(const std::string& message);

// Writes text to standard output and flushes it. False, with errno set,
// when not all of it got out (a full disk), which the exit status must show.
bool write_to_stdout(const std::string& text);
