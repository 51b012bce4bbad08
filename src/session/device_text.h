// Text for the device: the one path every text bound for it takes (the
// program name and every line of a source file). Typed or saved in UTF-8
// it becomes Windows-1252 (see windows_1252.h), then passes the device's
// character table, byte for byte. The device takes at most SERIAL_TEXT_MAX
// bytes of it at once, counted after the conversion.
#pragma once

#include <cstdint>
#include <string>

#include "failure.h"
#include "serial.h"
#include "windows_1252.h"

class DeviceText {
  public:
    // The text in device codes, ready for the wire; empty when it does not
    // fit. No code is 0, so it never holds the byte that ends strings on
    // the wire.
    const std::string& codes() const { return codes_; }
    // Its length in bytes after the conversion to Windows-1252.
    std::uint64_t length() const { return length_; }
    bool fits() const { return length_ <= SERIAL_TEXT_MAX; }
    // The first character Windows-1252 cannot hold, sent as a blank; 0: none.
    char32_t first_unheld() const { return first_unheld_; }

  private:
    friend DeviceText device_text(const std::string& text);
    std::string codes_;
    std::uint64_t length_ = 0;
    char32_t first_unheld_ = 0;
};

// Converts and measures text.
DeviceText device_text(const std::string& text);

// Warns "<subject> holds characters the device cannot show (U+XXXX); sent
// as blanks" when the text held any.
void warn_if_unheld(const std::string& subject, const DeviceText& text);

// The program name for the start sequence, with the warning above. Fails
// when the name does not fit: the device would get an empty one.
Result<DeviceText> program_name_for_device(const std::string& typed);
