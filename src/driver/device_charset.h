// The device's character table: every text bound for the device passes it.
#pragma once

#include <array>
#include <string>

// Entry b is the device code for host byte b. No entry is 0, so a
// translated text never holds the byte that ends strings on the wire.
extern const std::array<unsigned char, 256> device_charset;

// Returns text with every byte replaced by its device code; same length.
std::string to_device_charset(const std::string& text);
