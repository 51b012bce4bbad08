// The COM-PORT option of telnet (RFC 2217): the sub-commands lorvrc sends
// to set the line at the server's end, and the server's answers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

constexpr unsigned char TELOPT_COM_PORT = 44;

// Client sub-commands; the server answers each with the code plus 100.
enum class ComPortCommand : unsigned char {
    set_baud_rate = 1,
    set_data_size = 2,
    set_parity = 3,
    set_stop_size = 4,
    set_control = 5,
    purge_data = 12,
};

// Values of the commands above that lorvrc uses.
constexpr std::uint32_t COM_PORT_PARITY_NONE = 1;
constexpr std::uint32_t COM_PORT_ONE_STOP_BIT = 1;
constexpr std::uint32_t COM_PORT_NO_FLOW_CONTROL = 1;
constexpr std::uint32_t COM_PORT_DTR_ON = 8;
constexpr std::uint32_t COM_PORT_DTR_OFF = 9;
constexpr std::uint32_t COM_PORT_RTS_ON = 11;
constexpr std::uint32_t COM_PORT_RTS_OFF = 12;
constexpr std::uint32_t COM_PORT_PURGE_RECEIVED = 1; // what the server got from the device
constexpr std::uint32_t COM_PORT_PURGE_SENT = 2;     // what it has yet to send to the device

// The body of a sub-negotiation (after IAC SB COM-PORT, before IAC SE,
// IAC not yet doubled): the command, then the value in 4 bytes, most
// significant first, for the baud rate, else in 1 byte.
std::string com_port_request(ComPortCommand command, std::uint32_t value);

struct ComPortAnswer {
    ComPortCommand command; // the command answered
    std::uint32_t value;
};

// Reads a server's sub-negotiation body as the answer to one of the
// commands above; nothing for anything else (a notification of the line
// or modem state, another command, a body too short for its value).
std::optional<ComPortAnswer> read_com_port_answer(const std::string& body);
