#include "source_lines.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace {

// The UTF-8 byte order mark that editors on other systems put first.
constexpr unsigned char BYTE_ORDER_MARK[] = {0xEF, 0xBB, 0xBF};
constexpr std::size_t MARK_SIZE = sizeof BYTE_ORDER_MARK;

} // namespace

SourceLineReader::SourceLineReader(int fd, std::size_t keep) : fd_(fd), keep_(keep) {}

bool SourceLineReader::fill(std::size_t at) {
    for (;;) {
        const ssize_t count = read(fd_, buffer_.data() + at, buffer_.size() - at);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count < 0) {
            error_ = errno;
        }
        if (count <= 0) {
            return false;
        }
        end_ = at + static_cast<std::size_t>(count);
        bytes_read_ += static_cast<std::size_t>(count);
        return true;
    }
}

int SourceLineReader::next_byte() {
    if (start_ == end_) {
        start_ = 0;
        end_ = 0;
        if (error_ != 0 || !fill(0)) {
            return -1;
        }
    }
    return static_cast<unsigned char>(buffer_[start_++]);
}

void SourceLineReader::skip_byte_order_mark() {
    // A short first read must not hide a mark, nor split the file's first bytes.
    while (end_ < MARK_SIZE && fill(end_)) {
    }
    std::size_t matched = 0;
    while (matched < MARK_SIZE && matched < end_ &&
           static_cast<unsigned char>(buffer_[matched]) == BYTE_ORDER_MARK[matched]) {
        ++matched;
    }
    start_ = matched == MARK_SIZE ? MARK_SIZE : 0;
}

bool SourceLineReader::ends_lines_with_cr() const {
    const auto holds = [](const char* begin, const char* end, char c) {
        return std::find(begin, end, c) != end;
    };
    const char* begin = buffer_.data() + start_;
    bool cr = holds(begin, buffer_.data() + end_, '\r');
    if (holds(begin, buffer_.data() + end_, '\n')) {
        return false;
    }
    // The rest of the file, read where it lies: a pipe, which cannot be
    // read ahead, is judged by its first read.
    off_t at = lseek(fd_, 0, SEEK_CUR);
    std::array<char, std::size_t{64} * 1024> ahead{};
    for (ssize_t count = 0; at >= 0; at += count) {
        count = pread(fd_, ahead.data(), ahead.size(), at);
        if (count <= 0) {
            break;
        }
        if (holds(ahead.data(), ahead.data() + count, '\n')) {
            return false;
        }
        cr = cr || holds(ahead.data(), ahead.data() + count, '\r');
    }
    return cr;
}

void SourceLineReader::add(SourceLine& line, Cp1252Length& measure, int byte) const {
    if (line.length < keep_) {
        line.text.push_back(static_cast<char>(byte));
    }
    ++line.length;
    measure.add(static_cast<unsigned char>(byte));
}

bool SourceLineReader::next(SourceLine& line) {
    if (ended_) {
        return false;
    }
    if (number_ == 0) {
        skip_byte_order_mark();
        line_end_ = ends_lines_with_cr() ? '\r' : '\n';
    }
    line.text.clear();
    line.length = 0;
    Cp1252Length measure;
    // A CR is held until the next byte shows whether it ends a line made
    // on another system (before the line feed or the end of the file,
    // where it is dropped) or belongs to the line.
    bool held_cr = false;
    for (int byte = next_byte(); byte >= 0; byte = next_byte()) {
        if (byte == line_end_) {
            return finish(line, measure, false);
        }
        if (held_cr) {
            add(line, measure, '\r');
        }
        held_cr = byte == '\r';
        if (!held_cr) {
            add(line, measure, byte);
        }
    }
    ended_ = true;
    return error_ == 0 && finish(line, measure, true);
}

bool SourceLineReader::finish(SourceLine& line, const Cp1252Length& measure, bool last) {
    line.cp1252_length = measure.length();
    line.number = ++number_;
    line.last = last;
    return true;
}
