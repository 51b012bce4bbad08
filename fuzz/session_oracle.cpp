#include "session_oracle.h"

#include <climits>
#include <optional>
#include <string_view>

#include "file_tree.h"
#include "serial.h"

namespace {

// Position just after the 0 byte that ends the string starting at `from`,
// or nothing when the input ends first.
std::optional<std::size_t> end_of_string(const std::uint8_t* data, std::size_t size,
                                         std::size_t from) {
    for (std::size_t i = from; i < size; ++i) {
        if (data[i] == 0) {
            return i + 1;
        }
    }
    return std::nullopt;
}

const char* extension_for(std::uint8_t command) {
    switch (command) {
    case 'M': return ".bas";
    case 'I': return ".inc";
    default: return ".app";
    }
}

// Length of a well-framed reply at the start of `rest`: "E", or "O", lines
// each ended by a CR, and a 0 byte. Zero when the reply is malformed.
std::size_t framed_reply_length(std::string_view rest) {
    if (rest.empty()) {
        return 0;
    }
    if (rest[0] == 'E') {
        return 1;
    }
    const std::size_t zero = rest.find('\0');
    if (rest[0] != 'O' || zero == std::string_view::npos) {
        return 0;
    }
    // Every line ends with the CR the sender adds, so the lines before the
    // 0 byte are either none (all dropped for length) or end with a CR.
    if (zero > 1 && rest[zero - 1] != '\r') {
        return 0;
    }
    // No line longer than the device takes is sent; a line may hold CRs of
    // its own, so this bounds the runs between CRs.
    std::size_t run = 0;
    for (std::size_t i = 1; i < zero; ++i) {
        run = rest[i] == '\r' ? 0 : run + 1;
        if (run > SERIAL_TEXT_MAX) {
            return 0;
        }
    }
    return zero + 1;
}

std::string check_reply(std::string_view rest, const ExpectedSession::Request& request,
                        std::size_t& length) {
    length = framed_reply_length(rest);
    if (length == 0) {
        return "malformed reply for \"" + request.file_name + "\"";
    }
    const std::optional<std::string> expected =
        request.name_too_long ? std::optional<std::string>("E") : expected_reply(request.file_name);
    if (expected && rest.substr(0, length) != *expected) {
        return "wrong reply for \"" + request.file_name + "\"";
    }
    return "";
}

} // namespace

ExpectedSession expect_session(const std::uint8_t* data, std::size_t size) {
    ExpectedSession expected;
    std::size_t position = 0;
    while (position < size) {
        const std::uint8_t command = data[position++];
        if (command == 'O') {
            expected.status = 0;
            expected.bytes_read = position;
            return expected;
        }
        if (command != 'M' && command != 'I' && command != 'A' && command != 'T' &&
            command != 'E') {
            continue;
        }
        const std::optional<std::size_t> end = end_of_string(data, size, position);
        if (!end) {
            break;
        }
        if (command == 'E') {
            expected.bytes_read = *end;
            return expected;
        }
        if (command != 'T') {
            const std::size_t length = *end - 1 - position;
            std::string name(reinterpret_cast<const char*>(data) + position, length);
            expected.requests.push_back({name + extension_for(command), length > PATH_MAX});
        }
        position = *end;
    }
    // The line is lost at the end of the input: everything has been read.
    expected.bytes_read = size;
    return expected;
}

std::string check_replies(const std::string& sent, const std::string& start,
                          const ExpectedSession& expected) {
    if (sent.compare(0, start.size(), start) != 0) {
        return "wrong start sequence";
    }
    std::size_t position = start.size();
    for (const ExpectedSession::Request& request : expected.requests) {
        std::size_t length = 0;
        const std::string problem =
            check_reply(std::string_view(sent).substr(position), request, length);
        if (!problem.empty()) {
            return problem;
        }
        position += length;
    }
    if (position != sent.size()) {
        return "bytes sent after the last reply";
    }
    return "";
}
