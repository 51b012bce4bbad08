#include "source_lines.h"

SourceLineReader::SourceLineReader(std::istream& in, std::size_t keep) : in_(in), keep_(keep) {}

bool SourceLineReader::next(SourceLine& line) {
    if (ended_) {
        return false;
    }
    line.text.clear();
    line.length = 0;
    line.number = ++number_;
    char byte = 0;
    // get() fails at the end of the file and on a read error alike; both
    // end the file here.
    while (in_.get(byte)) {
        if (byte == '\n') {
            return true;
        }
        if (line.length < keep_) {
            line.text.push_back(byte);
        }
        ++line.length;
    }
    ended_ = true;
    return true;
}
