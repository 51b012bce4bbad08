#include "com_port.h"

namespace {

constexpr unsigned char ANSWER_OFFSET = 100;
constexpr ComPortCommand KNOWN[] = {ComPortCommand::set_baud_rate, ComPortCommand::set_data_size,
                                    ComPortCommand::set_parity,    ComPortCommand::set_stop_size,
                                    ComPortCommand::set_control,   ComPortCommand::purge_data};

std::size_t value_size(ComPortCommand command) {
    return command == ComPortCommand::set_baud_rate ? 4 : 1;
}

} // namespace

std::string com_port_request(ComPortCommand command, std::uint32_t value) {
    std::string body(1, static_cast<char>(command));
    for (std::size_t shift = value_size(command) * 8; shift > 0; shift -= 8) {
        body += static_cast<char>((value >> (shift - 8)) & 0xFF);
    }
    return body;
}

std::optional<ComPortAnswer> read_com_port_answer(const std::string& body) {
    if (body.empty()) {
        return std::nullopt;
    }
    const auto code = static_cast<unsigned char>(body[0]);
    for (const ComPortCommand command : KNOWN) {
        if (code != static_cast<unsigned char>(command) + ANSWER_OFFSET) {
            continue;
        }
        if (body.size() != 1 + value_size(command)) {
            return std::nullopt;
        }
        std::uint32_t value = 0;
        for (std::size_t i = 1; i < body.size(); ++i) {
            value = (value << 8) | static_cast<unsigned char>(body[i]);
        }
        return ComPortAnswer{command, value};
    }
    return std::nullopt;
}
