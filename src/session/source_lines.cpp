#include "source_lines.h"

#include <cerrno>
#include <unistd.h>

SourceLineReader::SourceLineReader(int fd, std::size_t keep) : fd_(fd), keep_(keep) {}

int SourceLineReader::next_byte() {
    while (start_ == end_) {
        const ssize_t count = read(fd_, buffer_.data(), buffer_.size());
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error_ = errno;
        }
        if (count <= 0) {
            return -1;
        }
        start_ = 0;
        end_ = static_cast<std::size_t>(count);
        bytes_read_ += end_;
    }
    return static_cast<unsigned char>(buffer_[start_++]);
}

bool SourceLineReader::next(SourceLine& line) {
    if (ended_) {
        return false;
    }
    line.text.clear();
    line.length = 0;
    Cp1252Length measure;
    for (int byte = next_byte(); byte >= 0; byte = next_byte()) {
        if (byte == '\n') {
            return finish(line, measure);
        }
        if (line.length < keep_) {
            line.text.push_back(static_cast<char>(byte));
        }
        ++line.length;
        measure.add(static_cast<unsigned char>(byte));
    }
    ended_ = true;
    return error_ == 0 && finish(line, measure);
}

bool SourceLineReader::finish(SourceLine& line, const Cp1252Length& measure) {
    line.cp1252_length = measure.length();
    line.number = ++number_;
    return true;
}
