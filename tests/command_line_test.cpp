#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"
#include "host_paths.h"
#include "port_choice.h"
#include "serial.h"

namespace {

struct Case {
    const char* what;
    std::vector<std::string> args; // after the tool's name
    bool parsed;
    char start_byte;
    std::string program_name;
    std::string port;
};

std::ostream& operator<<(std::ostream& out, const Case& c) { return out << c.what; }

std::optional<CommandLine> read(const std::vector<std::string>& args) {
    std::vector<const char*> argv{"lorvrc"};
    for (const std::string& arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    return read_command_line(static_cast<int>(argv.size()) - 1, argv.data());
}

Case usage_for(const char* what, std::vector<std::string> args) {
    return {what, std::move(args), false, 0, "", ""};
}

Case run(const char* what, std::vector<std::string> args, char start, std::string name,
         std::string port) {
    return {what, std::move(args), true, start, std::move(name), port};
}

const Case CASES[] = {
    usage_for("no_argument", {}),
    usage_for("option_alone", {"-t"}),
    run("name_only", {"prog"}, 'C', "prog", "1"),
    run("name_and_port", {"prog", "4"}, 'C', "prog", "4"),
    run("option_name", {"-t", "prog"}, 'T', "prog", "1"),
    run("option_name_port", {"-t", "prog", "0"}, 'T', "prog", "0"),
    run("option_after_name_is_port", {"prog", "-t"}, 'C', "prog", "-t"),
    run("option_with_suffix_is_name", {"-tx", "prog"}, 'C', "-tx", "prog"),
    run("upper_case_option_is_name", {"-T", "prog"}, 'C', "-T", "prog"),
    run("middle_arguments_ignored", {"prog", "x", "y", "3"}, 'C', "prog", "3"),
    run("option_and_middle_arguments", {"-t", "prog", "x", "7"}, 'T', "prog", "7"),
    run("port_taken_as_typed", {"prog", " 3x"}, 'C', "prog", " 3x"),
    run("empty_port", {"prog", ""}, 'C', "prog", ""),
    run("option_twice", {"-t", "-t"}, 'T', "-t", "1"),
    run("empty_name", {""}, 'C', "", "1"),
};

class ReadCommandLine : public testing::TestWithParam<Case> {};

TEST_P(ReadCommandLine, GivesStartByteNameAndPort) {
    const Case& c = GetParam();
    const std::optional<CommandLine> got = read(c.args);
    ASSERT_EQ(got.has_value(), c.parsed);
    if (!c.parsed) {
        return;
    }
    EXPECT_EQ(got->start_byte, c.start_byte);
    EXPECT_EQ(got->program_name, c.program_name);
    EXPECT_EQ(got->port, c.port);
    EXPECT_FALSE(got->port_from_environment);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadCommandLine, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.what);
                         });

// --- the port text's forms ---------------------------------------------------

struct PortCase {
    const char* text;
    int slot;
    std::string path;    // empty: refused
    std::string refusal; // how the refusal starts
};

std::ostream& operator<<(std::ostream& out, const PortCase& c) {
    return out << '"' << c.text << '"';
}

const PortCase PORT_CASES[] = {
    {"15", 15, serial_device_path(15), ""},
    {"3x", 3, serial_device_path(3), ""},
    {" +2", 2, serial_device_path(2), ""},
    {"16", 0, "", "there is no serial port 16;"},
    {"-1", 0, "", "there is no serial port -1;"},
    {"4294967297", 0, "", "there is no serial port 4294967297;"},
    {"99999999999999999999999", 0, "", "there is no serial port 99999999999999999999999;"},
    {"", 0, "", "\"\" is not a port;"},
    {"COM3", 0, "", "\"COM3\" is not a port;"},
    {" +", 0, "", "\" +\" is not a port;"},
    {"adapters/3", 0, "adapters/3", ""},
    {"/dev/serial/by-id/x", 0, "/dev/serial/by-id/x", ""},
    {"ttyS1", 0, dev_root() + "/ttyS1", ""},
};

class ChoosePort : public testing::TestWithParam<PortCase> {};

TEST_P(ChoosePort, GivesSlotAndPathOrRefuses) {
    const PortCase& c = GetParam();
    const PortChoice got = choose_port(c.text, false);
    EXPECT_EQ(got.refusal.substr(0, c.refusal.size()), c.refusal);
    EXPECT_EQ(got.refusal.empty(), c.refusal.empty()) << got.refusal;
    if (c.refusal.empty()) {
        EXPECT_EQ(got.slot, c.slot);
        EXPECT_EQ(got.path, c.path);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ChoosePort, testing::ValuesIn(PORT_CASES));

TEST(UsageDeathTest, PrintsThreeLinesOnStandardErrorAndExitsWithOne) {
    EXPECT_EXIT(usage(), testing::ExitedWithCode(1),
                "^Remote Control for Lorvan\nusage:\nlorvrc <program name>\n$");
}

} // namespace
