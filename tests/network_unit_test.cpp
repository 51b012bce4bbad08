// The pure parts of network ports: the port forms, the COM-PORT bodies
// and the telnet framing of data both ways.
#include <gmock/gmock.h>

#include "com_port.h"
#include "network_address.h"
#include "telnet_framing.h"

using std::string_literals::operator""s;

namespace {

struct AddressRow {
    std::string text;
    std::optional<std::string> read; // "r|host|port" or "t|host|port"
};

std::optional<std::string> shown(const std::optional<NetworkAddress>& address) {
    if (!address) {
        return std::nullopt;
    }
    return (address->framing == NetworkFraming::rfc2217 ? "r|" : "t|") + address->host + "|" +
           address->service;
}

const AddressRow ADDRESSES[] = {
    {"rfc2217://host:2001", "r|host|2001"}, {"tcp://10.0.0.2:65535", "t|10.0.0.2|65535"},
    {"rfc2217://[::1]:1", "r|::1|1"},       {"tcp://[fe80::1%eth0]:02001", "t|fe80::1%eth0|2001"},
    {"rfc2217://host", std::nullopt},       {"rfc2217://host:", std::nullopt},
    {"rfc2217://:2001", std::nullopt},      {"tcp://host:0", std::nullopt},
    {"tcp://host:65536", std::nullopt},     {"tcp://host:999999", std::nullopt},
    {"tcp://host:20x1", std::nullopt},      {"tcp://host:2001/", std::nullopt},
    {"tcp://host:2001:3", std::nullopt},    {"tcp://::1:2001", std::nullopt},
    {"tcp://[::1]2001", std::nullopt},      {"tcp://[::1:2001", std::nullopt},
    {"telnet://host:23", std::nullopt},
};

TEST(NetworkAddress, ReadsTheFormsAndRefusesTheRest) {
    for (const AddressRow& row : ADDRESSES) {
        EXPECT_EQ(shown(read_network_address(row.text)), row.read) << row.text;
    }
}

TEST(ComPort, RequestsAndAnswers) {
    EXPECT_EQ(com_port_request(ComPortCommand::set_baud_rate, 38400), "\x01\x00\x00\x96\x00"s);
    EXPECT_EQ(com_port_request(ComPortCommand::set_data_size, 8), "\x02\x08"s);
    EXPECT_EQ(com_port_request(ComPortCommand::set_control, COM_PORT_RTS_OFF), "\x05\x0c"s);
    const std::pair<std::string, std::optional<std::pair<ComPortCommand, std::uint32_t>>>
        answers[] = {
            {"\x65\x00\x01\xc2\x00"s, std::pair(ComPortCommand::set_baud_rate, 115200u)},
            {"\x67\x01"s, std::pair(ComPortCommand::set_parity, 1u)},
            {"\x70\x03"s, std::pair(ComPortCommand::purge_data, 3u)},
            {"\x65\x00\x00\x96"s, std::nullopt}, // too short
            {"\x6b\x30"s, std::nullopt},         // a modem state notice
            {"\x01\x08"s, std::nullopt},         // a request, not an answer
            {"", std::nullopt},
        };
    for (const auto& [body, expected] : answers) {
        const auto answer = read_com_port_answer(body);
        EXPECT_EQ(answer ? std::optional(std::pair(answer->command, answer->value)) : std::nullopt,
                  expected)
            << testing::PrintToString(body);
    }
}

// Data going out, as it goes on the wire.
TEST(TelnetFraming, DoublesEveryIacGoingOut) {
    const std::pair<std::string, std::string> rows[] = {
        {"plain\r", "plain\r"},
        {"\xff", "\xff\xff"},
        {"a\xff\xff\x00z"s, "a\xff\xff\xff\xff\x00z"s},
    };
    for (const auto& [data, wire] : rows) {
        TelnetFraming framing;
        framing.send_data(data.data(), data.size());
        EXPECT_EQ(framing.wire_out(), wire) << testing::PrintToString(data);
    }
    TelnetFraming framing;
    framing.send_com_port("\x01\x00\x00\xff\x00"s);
    EXPECT_EQ(framing.wire_out(), "\xff\xfa\x2c\x01\x00\x00\xff\xff\x00\xff\xf0"s);
}

struct IncomingRow {
    std::string wire;        // what the server sent, in one piece or cut at each '|'
    std::string device_data; // what reaches the session
    std::string answered;    // what we owe the server
};

const IncomingRow INCOMING[] = {
    {"a\xff\xff|b\r\n\x00"s,
     "a\xff"
     "b\r\n\x00"s,
     ""},
    {"x\xff|\xfa\x2c\x6b\x30\xff\xf0y", "xy", ""},                    // a modem state notice
    {"\xff\xfb\x01hi\xff\xfd\x18", "hi", "\xff\xfe\x01\xff\xfc\x18"}, // offers we refuse
    {"\xff\xf1\xff|\xf9z", "z", ""},                                  // NOP and GA
};

TEST(TelnetFraming, TakesCommandsOutOfTheDeviceData) {
    for (const IncomingRow& row : INCOMING) {
        TelnetFraming framing;
        for (std::size_t start = 0, cut = 0; cut != std::string::npos; start = cut + 1) {
            cut = row.wire.find('|', start);
            const std::string piece = row.wire.substr(start, cut - start);
            framing.receive(piece.data(), piece.size());
        }
        EXPECT_EQ(framing.device_data(), row.device_data) << testing::PrintToString(row.wire);
        EXPECT_EQ(framing.wire_out(), row.answered) << testing::PrintToString(row.wire);
    }
}

TEST(TelnetFraming, FollowsTheNegotiation) {
    TelnetFraming framing;
    framing.offer_options();
    EXPECT_EQ(framing.wire_out(), "\xff\xfb\x00\xff\xfd\x00\xff\xfb\x03\xff\xfd\x03\xff\xfb\x2c"s);
    // WILL BINARY and DO COM-PORT, then at last DO BINARY: agreed only then.
    const std::string agreed = "\xff\xfb\x00\xff\xfd\x2c\xff\xfd\x00"s;
    framing.receive(agreed.data(), 6);
    EXPECT_FALSE(framing.binary_agreed());
    framing.receive(agreed.data() + 6, 3);
    EXPECT_TRUE(framing.binary_agreed() && framing.com_port_agreed());
    EXPECT_FALSE(framing.binary_refused()); // a refusal: the scripted server's row
}

} // namespace
