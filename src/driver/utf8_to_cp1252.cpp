#include "utf8_to_cp1252.h"

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

// Decodes strict UTF-8: no overlong forms, no surrogates, nothing past
// U+10FFFF. Nothing when the text is not UTF-8.
std::optional<std::vector<char32_t>> decode_utf8(const std::string& text) {
    std::vector<char32_t> decoded;
    for (std::size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const int trail = lead < 0x80                    ? 0
                          : lead >= 0xC2 && lead <= 0xDF ? 1
                          : lead >= 0xE0 && lead <= 0xEF ? 2
                          : lead >= 0xF0 && lead <= 0xF4 ? 3
                                                         : -1;
        if (trail < 0 || text.size() - i <= static_cast<std::size_t>(trail)) {
            return std::nullopt;
        }
        char32_t code_point = trail == 0 ? lead : lead & (0x3FU >> trail);
        for (int k = 1; k <= trail; ++k) {
            const auto next = static_cast<unsigned char>(text[i + static_cast<std::size_t>(k)]);
            if ((next & 0xC0) != 0x80) {
                return std::nullopt;
            }
            code_point = (code_point << 6) | (next & 0x3FU);
        }
        const char32_t least[] = {0, 0x80, 0x800, 0x10000};
        if (code_point < least[trail] || code_point > 0x10FFFF ||
            (code_point >= 0xD800 && code_point <= 0xDFFF)) {
            return std::nullopt;
        }
        decoded.push_back(code_point);
        i += static_cast<std::size_t>(trail) + 1;
    }
    return decoded;
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

std::string code_point_name(char32_t code_point) {
    char name[16];
    std::snprintf(name, sizeof name, "U+%04X", static_cast<unsigned>(code_point));
    return name;
}
