// What a session must do with a given stream of device bytes, worked out
// from the protocol alone, and the check of what the tool actually did.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ExpectedSession {
    // File names (extension included) of the requests the tool must answer,
    // in order; a name longer than a path can be is flagged instead.
    struct Request {
        std::string file_name;
        bool name_too_long;
    };
    std::vector<Request> requests;
    int status = 1;             // 0 only when the device ended with "O"
    std::size_t bytes_read = 0; // the tool reads nothing after "O" or a report
};

// Reads the device's bytes as the protocol frames them: command bytes,
// names, error payloads and trace text, each string up to its 0 byte.
ExpectedSession expect_session(const std::uint8_t* data, std::size_t size);

// Checks that `sent` (all the tool wrote) is the start sequence for
// `start` and then exactly one well-framed reply per request, each the
// tree's reply where it is known. Returns an empty string when it is, else
// what is wrong.
std::string check_replies(const std::string& sent, const std::string& start,
                          const ExpectedSession& expected);
