// Cutting a source file into the lines sent to the device.
#pragma once

#include <cstdint>
#include <istream>
#include <string>

// One line of a source file, without its line feed.
struct SourceLine {
    std::string text;     // the line's bytes; complete when length <= keep
    std::uint64_t length; // the line's real length in bytes
    std::uint64_t number; // 1 for the first line of the file
};

// Reads a file's lines in order. Lines end at line feeds only; the last
// piece after the final line feed is a line too (so an empty file is one
// empty line). A read error counts as the end of the file. At most `keep`
// bytes of a line are stored: the rest of a longer line is read to its
// line feed and only counted, so memory never grows with the line.
class SourceLineReader {
  public:
    SourceLineReader(std::istream& in, std::size_t keep);

    // Fills `line` with the next line; false when the file has no more.
    bool next(SourceLine& line);

  private:
    std::istream& in_;
    std::size_t keep_;
    std::uint64_t number_ = 0;
    bool ended_ = false;
};
