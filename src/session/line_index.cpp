#include "line_index.h"

#include <algorithm>
#include <string_view>

namespace {

// The longest digit run whose value fits 64 bits whatever its digits.
constexpr std::size_t DIGITS_MAX = 19;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::uint64_t value_of(std::string_view digits) {
    std::uint64_t value = 0;
    for (const char c : digits) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return value;
}

bool names_line_at(const std::string& message, std::size_t at) {
    static const std::string word = "line";
    if (at + word.size() > message.size() || (at > 0 && is_letter(message[at - 1]))) {
        return false;
    }
    return std::equal(word.begin(), word.end(), message.begin() + static_cast<std::ptrdiff_t>(at),
                      [](char w, char m) { return w == lower(m); });
}

} // namespace

std::optional<std::string> basic_line_named(const std::string& message) {
    for (std::size_t at = 0; at < message.size(); ++at) {
        if (!names_line_at(message, at)) {
            continue;
        }
        std::size_t start = at + 4;
        while (start < message.size() && is_blank(message[start])) {
            ++start;
        }
        std::size_t end = start;
        while (end < message.size() && is_digit(message[end])) {
            ++end;
        }
        if (end > start) {
            return message.substr(start, end - start);
        }
    }
    return std::nullopt;
}

void NumberedLines::add(const std::string& text, std::uint64_t number) {
    if (starts_.size() >= NUMBERED_LINES_MAX || number > UINT32_MAX) {
        return;
    }
    std::size_t start = 0;
    while (start < text.size() && is_blank(text[start])) {
        ++start;
    }
    std::size_t end = start;
    while (end < text.size() && is_digit(text[end])) {
        ++end;
    }
    if (end > start && end - start <= DIGITS_MAX) {
        starts_.push_back({value_of(std::string_view(text).substr(start, end - start)),
                           static_cast<std::uint32_t>(end - start),
                           static_cast<std::uint32_t>(number)});
    }
}

std::optional<std::uint64_t> NumberedLines::find(const std::string& digits) const {
    if (digits.size() > DIGITS_MAX) {
        return std::nullopt;
    }
    const std::uint64_t value = value_of(digits);
    // A number given twice: the interpreter keeps the later line.
    for (auto start = starts_.rbegin(); start != starts_.rend(); ++start) {
        if (start->value == value && start->digits == digits.size()) {
            return start->file_line;
        }
    }
    return std::nullopt;
}

void ServedLines::remember(const std::string& path, NumberedLines lines) {
    const auto same = std::find_if(files_.begin(), files_.end(),
                                   [&](const File& file) { return file.path == path; });
    if (same != files_.end()) {
        total_ -= same->lines.size();
        files_.erase(same);
    }
    lines.shrink();
    total_ += lines.size();
    files_.push_back({path, std::move(lines)});
    while (files_.size() > INDEXED_FILES_MAX || total_ > NUMBERED_LINES_MAX) {
        total_ -= files_.front().lines.size();
        files_.erase(files_.begin());
    }
}

ErrorPlace ServedLines::place_of(const std::string& message, const ServedFile& current) const {
    const std::string own = current.path.empty() ? current.name : current.path;
    const std::optional<std::string> digits = basic_line_named(message);
    if (!digits) {
        return {own, std::nullopt};
    }
    // The current file is the newest when it was sent: it comes first anyway.
    for (auto file = files_.rbegin(); file != files_.rend(); ++file) {
        if (const std::optional<std::uint64_t> line = file->lines.find(*digits)) {
            return {file->path, line};
        }
    }
    return {own, std::nullopt};
}
