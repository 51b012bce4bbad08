// A whole session as one row of data: the files in the tool's directory,
// its arguments, the conversation on the line, and what it must print and
// return. play() runs the built tool against a pseudo-terminal device and
// returns what really happened, so a test compares that with the row.
#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace testing_support {

struct SessionRow {
    const char* what;
    std::vector<std::string> args; // the port: 1, unless the last argument names another
    // Files made in a fresh directory: name and bytes. Bytes "<fifo>" make
    // a FIFO, "<dir>" a directory, "-> target" a symbolic link.
    std::vector<std::pair<std::string, std::string>> files;
    // Turns on the line, the tool's first: what the tool must send (the
    // start sequence first), what the device then sends, and so on.
    std::vector<std::string> talk;
    // "<dir>" stands for the tool's directory, "<port>" for the pty's path
    // or a numbered port linked to it.
    std::string stderr_text;
    int status = 0;
    std::string stdout_text = {}; // "<root>": the test tree's root, here and in stderr_text
    std::vector<std::pair<std::string, std::string>> environment = {}; // set for the tool alone
};

// What a session did: the tool's turns as read (each read as long as the
// row's turn, within a deadline), anything it sent after the last turn,
// its standard error and output, and its exit status (nothing if it had
// to be killed at the deadline).
struct SessionOutcome {
    std::vector<std::string> talk;
    std::string sent_after;
    std::string stderr_text;
    std::string stdout_text;
    std::optional<int> status;

    bool operator==(const SessionOutcome&) const = default;
};

// The outcome the row asks for.
SessionOutcome expected(const SessionRow& row);

// The numbered ports a test binary may link, first to end (excluded).
struct Ports {
    int first;
    int end;
};

// Runs the row: links a new pty as each of `ports` (whichever the tool
// reads then reaches it), starts the tool in a new directory with the
// row's files, plays the turns.
SessionOutcome play(const SessionRow& row, Ports ports = {0, 8});

// The text with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to);

std::ostream& operator<<(std::ostream& out, const SessionOutcome& outcome);
std::ostream& operator<<(std::ostream& out, const SessionRow& row);

} // namespace testing_support
