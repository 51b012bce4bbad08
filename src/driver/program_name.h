// The program name as the device receives it in the start sequence.
#pragma once

#include <optional>
#include <string>

// Returns the name in Windows-1252 when it was typed in UTF-8 (else byte
// for byte), ready for the start sequence; warns when it holds characters
// Windows-1252 cannot hold, which are sent as blanks. Returns nothing, after
// saying so on standard error, when the name is longer than the device
// takes (SERIAL_TEXT_MAX bytes): the device would get an empty one.
std::optional<std::string> program_name_for_device(const std::string& typed);
