// Cutting a source file into the lines sent to the device.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "windows_1252.h"

// One line of a source file, without its line feed.
struct SourceLine {
    std::string text;            // the line's bytes; complete when length <= keep
    std::uint64_t length;        // the line's real length in bytes
    std::uint64_t cp1252_length; // its length in Windows-1252, measured to its end
    std::uint64_t number;        // 1 for the first line of the file
    bool last;                   // the piece after the final line feed
};

// Reads a file's lines in order from a descriptor it does not own. Lines
// end at line feeds; the last piece after the final line feed is a line
// too (so an empty file is one empty line). Files made on other systems
// read as their lines: a CR right before a line feed or at the end of the
// file is not part of the line (a CR anywhere else is); a file that holds
// CRs and no line feed at all (classic Mac OS) has its lines ended by CRs
// instead; a UTF-8 byte order mark at the start of the file is skipped.
// What is dropped is not measured either. At most `keep` bytes of a line are stored: the rest
// of a longer line is read to its line feed and only counted, so memory
// never grows with the line.
class SourceLineReader {
  public:
    SourceLineReader(int fd, std::size_t keep);

    // Fills `line` with the next line; false when the file has no more.
    // A failing read ends the file at once: the line it interrupted is
    // not returned, and error() tells why.
    bool next(SourceLine& line);

    // The errno of the read that failed; 0 when none did.
    int error() const { return error_; }

    // Bytes read from the file so far.
    std::uint64_t bytes_read() const { return bytes_read_; }

    // Lines returned so far.
    std::uint64_t lines_read() const { return number_; }

  private:
    // Reads into the buffer from `at` on; false at the end of the file or
    // after a failing read.
    bool fill(std::size_t at);
    // The next byte, or -1 at the end of the file or after a failing read.
    int next_byte();
    // Leaves out a byte order mark the file starts with.
    void skip_byte_order_mark();
    // Whether the file holds a CR and no line feed, looked at from the
    // first read on without moving the descriptor's offset.
    bool ends_lines_with_cr() const;
    // Appends a byte to the line: stored while it fits, always measured.
    void add(SourceLine& line, Cp1252Length& measure, int byte) const;
    // Numbers the line and gives it its measured length; returns true.
    bool finish(SourceLine& line, const Cp1252Length& measure, bool last);

    int fd_;
    std::size_t keep_;
    std::uint64_t number_ = 0;
    std::uint64_t bytes_read_ = 0;
    int error_ = 0;
    bool ended_ = false;
    char line_end_ = '\n';
    // Large reads: a file of many short lines costs few system calls.
    std::array<char, std::size_t{64} * 1024> buffer_{};
    std::size_t start_ = 0;
    std::size_t end_ = 0;
};
