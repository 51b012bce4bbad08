// The port argument's forms: which device file a run opens, and in which
// slot of the serial module.
#pragma once

#include <optional>
#include <string>

#include "failure.h"
#include "network_address.h"

// Where the port text came from: messages about a port the command line
// did not name say so, so that a stale LORVRC_PORT is easy to spot.
enum class PortSource { argument, environment, default_port };

struct PortChoice {
    int slot;          // the serial module's slot: the number itself, 0 for the other forms
    std::string path;  // the device file to open; for a network port, the text as given
    std::string shown; // how messages name it: the path, then " (from LORVRC_PORT)" or
                       // " (the default port)" when it was not on the command line
    std::optional<NetworkAddress> network; // set for a network port: no device file, no slot
};

// Reads the port text, which came from `source` (failures name it when it
// is not the command line). The one grammar of the port argument:
//   - with a '/': a device path, opened as given (relative ones too);
//   - starting with "tty": that name in the device directory;
//   - a number as strtol reads it in base 10 (leading blanks, a sign,
//     digits; the rest ignored, so "3x" is 3): the numbered port, whose
//     path the serial module forms; outside 0..15 it is refused, naming
//     the text as typed (a huge number is never wrapped into range);
//   - anything else (no digit where the number would start) is refused.
Result<PortChoice> choose_port(const std::string& text, PortSource source);
