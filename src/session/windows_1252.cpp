#include "windows_1252.h"

#include <array>
#include <cstdio>
#include <optional>
#include <vector>

namespace {

struct Special {
    char32_t code_point;
    unsigned char byte;
};

// The characters Windows-1252 puts where Latin-1 has control codes.
constexpr std::array<Special, 27> CP1252_80_TO_9F = {{
    {0x20AC, 0x80}, {0x201A, 0x82}, {0x0192, 0x83}, {0x201E, 0x84}, {0x2026, 0x85}, {0x2020, 0x86},
    {0x2021, 0x87}, {0x02C6, 0x88}, {0x2030, 0x89}, {0x0160, 0x8A}, {0x2039, 0x8B}, {0x0152, 0x8C},
    {0x017D, 0x8E}, {0x2018, 0x91}, {0x2019, 0x92}, {0x201C, 0x93}, {0x201D, 0x94}, {0x2022, 0x95},
    {0x2013, 0x96}, {0x2014, 0x97}, {0x02DC, 0x98}, {0x2122, 0x99}, {0x0161, 0x9A}, {0x203A, 0x9B},
    {0x0153, 0x9C}, {0x017E, 0x9E}, {0x0178, 0x9F},
}};

std::optional<unsigned char> cp1252_byte(char32_t code_point) {
    if (code_point < 0x80 || (code_point >= 0xA0 && code_point <= 0xFF)) {
        return static_cast<unsigned char>(code_point);
    }
    for (const Special& special : CP1252_80_TO_9F) {
        if (special.code_point == code_point) {
            return special.byte;
        }
    }
    return std::nullopt;
}

std::optional<std::vector<char32_t>> decode_utf8(const std::string& text) {
    Utf8Decoder decoder;
    std::vector<char32_t> decoded;
    for (const char byte : text) {
        if (const std::optional<char32_t> code_point =
                decoder.add(static_cast<unsigned char>(byte))) {
            decoded.push_back(*code_point);
        }
    }
    return decoder.complete() ? std::optional(std::move(decoded)) : std::nullopt;
}

bool is_ascii(const std::string& text) {
    for (const char byte : text) {
        if (static_cast<unsigned char>(byte) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

Cp1252Text utf8_to_cp1252(const std::string& text) {
    const std::optional<std::vector<char32_t>> decoded =
        is_ascii(text) ? std::nullopt : decode_utf8(text);
    if (!decoded) {
        return {text, 0};
    }
    Cp1252Text converted;
    converted.bytes.reserve(decoded->size());
    for (const char32_t code_point : *decoded) {
        const std::optional<unsigned char> byte = cp1252_byte(code_point);
        if (!byte && converted.first_unheld == 0) {
            converted.first_unheld = code_point;
        }
        converted.bytes.push_back(static_cast<char>(byte.value_or(' ')));
    }
    return converted;
}

std::optional<char32_t> Utf8Decoder::add(unsigned char byte) {
    if (!valid_) {
        return std::nullopt;
    }
    if (pending_ == 0) {
        return lead(byte);
    }
    // The ranges allowed after a lead byte rule out overlong forms,
    // surrogates and values past U+10FFFF, so no value is checked later.
    if (byte < low_ || byte > high_) {
        valid_ = false;
        return std::nullopt;
    }
    low_ = 0x80;
    high_ = 0xBF;
    code_point_ = (code_point_ << 6) | (byte & 0x3FU);
    return --pending_ == 0 ? std::optional(code_point_) : std::nullopt;
}

std::optional<char32_t> Utf8Decoder::lead(unsigned char byte) {
    pending_ = byte < 0x80                    ? 0
               : byte >= 0xC2 && byte <= 0xDF ? 1
               : byte >= 0xE0 && byte <= 0xEF ? 2
               : byte >= 0xF0 && byte <= 0xF4 ? 3
                                              : -1;
    if (pending_ < 0) {
        valid_ = false;
        return std::nullopt;
    }
    low_ = byte == 0xE0 ? 0xA0 : byte == 0xF0 ? 0x90 : 0x80;
    high_ = byte == 0xED ? 0x9F : byte == 0xF4 ? 0x8F : 0xBF;
    code_point_ = pending_ == 0 ? byte : byte & (0x3FU >> pending_);
    return pending_ == 0 ? std::optional<char32_t>(byte) : std::nullopt;
}

void Cp1252Length::add(unsigned char byte) {
    ++bytes_;
    if (decoder_.add(byte)) {
        ++characters_;
    }
}

std::uint64_t Cp1252Length::length() const { return decoder_.complete() ? characters_ : bytes_; }

std::string code_point_name(char32_t code_point) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code_point));
    return name;
}
