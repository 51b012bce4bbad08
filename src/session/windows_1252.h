// Source text written in UTF-8, as every editor on Linux writes it, made
// into the single bytes of Windows-1252 that the device table expects.
// Text that is not UTF-8 (a file saved in Windows-1252 or Latin-1) is taken
// to be in Windows-1252 already and goes byte for byte. Depends on no locale.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct Cp1252Text {
    std::string bytes;         // the text as it is to be sent
    char32_t first_unheld = 0; // first character Windows-1252 cannot hold; 0: none
};

// When text is valid UTF-8 and holds at least one character beyond ASCII,
// returns it in Windows-1252, each character it cannot hold as one blank
// (0x20), the first of them named in first_unheld. Any other text comes
// back unchanged.
Cp1252Text utf8_to_cp1252(const std::string& text);

// Strict UTF-8 a byte at a time: no overlong forms, no surrogates, nothing
// past U+10FFFF. Once a byte breaks the rules the text is not UTF-8, and
// no later byte changes that.
class Utf8Decoder {
  public:
    // Takes the next byte; returns the character it completes, if any.
    std::optional<char32_t> add(unsigned char byte);
    // Whether every byte so far was UTF-8, the last character complete.
    bool complete() const { return valid_ && pending_ == 0; }

  private:
    std::optional<char32_t> lead(unsigned char byte);

    bool valid_ = true;
    int pending_ = 0;          // continuation bytes still due
    unsigned char low_ = 0x80; // range of the next continuation byte
    unsigned char high_ = 0xBF;
    char32_t code_point_ = 0;
};

// The length a text will have in Windows-1252, measured a byte at a time,
// so that a line too long to keep in memory is still measured to its end:
// the number of characters when the bytes so far are UTF-8, else the
// number of bytes. Agrees with utf8_to_cp1252 on every text.
class Cp1252Length {
  public:
    void add(unsigned char byte);
    std::uint64_t length() const;

  private:
    Utf8Decoder decoder_;
    std::uint64_t bytes_ = 0;
    std::uint64_t characters_ = 0;
};

// "U+4E2D": the way a character is named to the user (upper-case hex, at
// least four digits).
std::string code_point_name(char32_t code_point);
