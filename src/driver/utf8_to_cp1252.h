// Source text written in UTF-8, as every editor on Linux writes it, made
// into the single bytes of Windows-1252 that the device table expects.
#pragma once

#include <string>

struct Cp1252Text {
    std::string bytes;         // the text as it is to be sent
    char32_t first_unheld = 0; // first character Windows-1252 cannot hold; 0: none
};

// When text is valid UTF-8 and holds at least one character beyond ASCII,
// returns it in Windows-1252, each character it cannot hold as one blank
// (0x20), the first of them named in first_unheld. Any other text (pure
// ASCII, or bytes that are not UTF-8, such as a file saved in Windows-1252
// or Latin-1) comes back unchanged. Depends on no locale.
Cp1252Text utf8_to_cp1252(const std::string& text);

// "U+4E2D": the way a character is named to the user (upper-case hex, at
// least four digits).
std::string code_point_name(char32_t code_point);
