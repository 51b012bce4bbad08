#include <optional>

#include "command_line.h"
#include "session.h"

int main(int argc, char** argv) {
    const std::optional<CommandLine> command_line = read_command_line(argc, argv);
    if (!command_line) {
        usage();
    }
    return run_session(*command_line);
}
