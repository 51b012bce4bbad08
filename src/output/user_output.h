// What the tool prints for the user. Messages, warnings, trace text and
// error reports go to standard error, unbuffered, so text shows the moment
// it is written, even while the tool then waits; only the texts asked for
// on the command line (--help, --version, --list) go to standard output.
#pragma once

#include <cstddef>
#include <string>

#include "failure.h"

// Writes bytes to standard error as they are, all of them (write_all).
// When that fails the rest is lost, and the run goes on.
void write_to_stderr(const char* data, std::size_t size);
void write_to_stderr(const std::string& text);

// Writes a newline to standard error when the last byte written there was
// not one, so that what follows starts a line of its own.
void end_open_stderr_line();

// Prints "lorvrc: <message>" and a newline on standard error, on a line of
// its own: when the last byte written was not a newline, a newline first.
void tell_user(const std::string& message);

// Writes `text`, which is `what` ("the help"), to standard output, all of
// it. Fails with "cannot write <what>: <reason>" when not all of it got
// out (a full disk, a closed standard output), which the exit status must
// show.
Result<void> write_to_stdout(const std::string& text, const std::string& what);
