#include "command_line.h"

#include <climits>
#include <cstdlib>
#include <cstring>

#include "user_output.h"

namespace {

int port_number(const char* text) {
    const long value = std::strtol(text, nullptr, 10);
    // Clamping keeps a huge number from wrapping round into a valid port.
    if (value > INT_MAX) {
        return INT_MAX;
    }
    if (value < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(value);
}

} // namespace

std::optional<CommandLine> read_command_line(int argc, const char* const* argv) {
    int name_index = 1;
    char start_byte = 'C';
    if (argc > 1 && std::strcmp(argv[1], "-t") == 0) {
        start_byte = 'T';
        name_index = 2;
    }
    if (argc <= name_index) {
        return std::nullopt;
    }
    const int port = argc > name_index + 1 ? port_number(argv[argc - 1]) : 1;
    return CommandLine{start_byte, argv[name_index], port};
}

void usage() {
    write_to_user("Remote Control for Lorvan\n");
    write_to_user("usage:\n");
    write_to_user("lorvrc <program name>\n");
    std::exit(1);
}
