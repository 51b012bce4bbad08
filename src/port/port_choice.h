// The port argument's forms: which device file a run opens, and in which
// slot of the serial module.
#pragma once

#include <string>

#include "failure.h"

struct PortChoice {
    int slot;         // the serial module's slot: the number itself, 0 for the other forms
    std::string path; // the device file to open, as messages name it
};

// Reads the port text (from_environment: it came from LORVRC_PORT, which
// the failure then names). The one grammar of the port argument:
//   - with a '/': a device path, opened as given (relative ones too);
//   - starting with "tty": that name in the device directory;
//   - a number as strtol reads it in base 10 (leading blanks, a sign,
//     digits; the rest ignored, so "3x" is 3): the numbered port, whose
//     path the serial module forms; outside 0..15 it is refused, naming
//     the text as typed (a huge number is never wrapped into range);
//   - anything else (no digit where the number would start) is refused.
Result<PortChoice> choose_port(const std::string& text, bool from_environment);
