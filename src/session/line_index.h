// Finding the line of a file that a device message points at. The device
// names BASIC lines ("Syntax error in line 30"); editors want the line of
// the file. For each file served in a run only the BASIC line numbers its
// lines start with, and where, are kept, within fixed bounds.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "served_file.h"

// The digits of the first BASIC line a message names: "line" (any case,
// not the end of a longer word), optional blanks, then digits. nullopt
// when it names none.
std::optional<std::string> basic_line_named(const std::string& message);

// One file's numbered lines, gathered while the file is read.
class NumberedLines {
  public:
    // Takes a line of the file as sent, without its line end or a byte
    // order mark (number 1 for the first). A line that starts with
    // optional blanks, then at most 19 digits, then
    // a non-digit or its end, is kept as the start of that BASIC line.
    // Past NUMBERED_LINES_MAX kept lines the rest of the file is not.
    void add(const std::string& text, std::uint64_t number);

    // The line of the file on which the BASIC line with exactly these
    // digits starts, the last such line when several do (the one the
    // interpreter keeps); nullopt when none does or it was not kept.
    std::optional<std::uint64_t> find(const std::string& digits) const;

    std::size_t size() const { return starts_.size(); }
    void shrink() { starts_.shrink_to_fit(); }

  private:
    struct Start {
        std::uint64_t value;     // the BASIC line number
        std::uint32_t digits;    // how it was written: "030" is not "30"
        std::uint32_t file_line; // 1-based
    };
    std::vector<Start> starts_;
};

// Numbered lines kept in a run, all files together: 16 bytes each, 1 MiB.
// No program has this many, so a run never loses a line that counts.
constexpr std::size_t NUMBERED_LINES_MAX = std::size_t{1} << 16;
// Files remembered in a run; the oldest are forgotten first.
constexpr std::size_t INDEXED_FILES_MAX = 64;

// Where an error report points: a file (empty before any request) and,
// when found, a line of it.
struct ErrorPlace {
    std::string path;
    std::optional<std::uint64_t> line;
};

// The numbered lines of the files served in one run.
class ServedLines {
  public:
    // Remembers a file that was sent, by the path it was opened at, as
    // the newest; an older copy of the same path is forgotten. The oldest
    // files are forgotten while there are more than INDEXED_FILES_MAX or
    // NUMBERED_LINES_MAX lines in all; the newest file always stays.
    void remember(const std::string& path, NumberedLines lines);

    // Where a message from the device points. The BASIC line it names is
    // looked for in `current` (the file the report is about) first, then
    // in the other remembered files, newest first; the first file that
    // holds it and its line are the place. Else the place is `current`'s
    // path (its name when it was refused) without a line.
    ErrorPlace place_of(const std::string& message, const ServedFile& current) const;

  private:
    struct File {
        std::string path;
        NumberedLines lines;
    };
    std::vector<File> files_; // oldest first
    std::size_t total_ = 0;
};
