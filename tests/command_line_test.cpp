#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "command_line.h"

namespace {

// Marks a port that must land outside 0..15, whatever its exact value.
constexpr int OUT_OF_RANGE = -1000;

struct Case {
    const char* what;
    std::vector<std::string> args; // after the tool's name
    bool parsed;
    char start_byte;
    std::string program_name;
    int port;
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
    return {what, std::move(args), false, 0, "", 0};
}

Case run(const char* what, std::vector<std::string> args, char start, std::string name, int port) {
    return {what, std::move(args), true, start, std::move(name), port};
}

const Case CASES[] = {
    usage_for("no_argument", {}),
    usage_for("option_alone", {"-t"}),
    run("name_only", {"prog"}, 'C', "prog", 1),
    run("name_and_port", {"prog", "4"}, 'C', "prog", 4),
    run("option_name", {"-t", "prog"}, 'T', "prog", 1),
    run("option_name_port", {"-t", "prog", "0"}, 'T', "prog", 0),
    run("option_after_name_is_port", {"prog", "-t"}, 'C', "prog", 0),
    run("option_with_suffix_is_name", {"-tx", "prog"}, 'C', "-tx", 0),
    run("upper_case_option_is_name", {"-T", "prog"}, 'C', "-T", 0),
    run("middle_arguments_ignored", {"prog", "x", "y", "3"}, 'C', "prog", 3),
    run("option_and_middle_arguments", {"-t", "prog", "x", "7"}, 'T', "prog", 7),
    run("trailing_text_after_digits", {"prog", "3x"}, 'C', "prog", 3),
    run("leading_blank", {"prog", " 2"}, 'C', "prog", 2),
    run("no_digits", {"prog", "abc"}, 'C', "prog", 0),
    run("empty_port", {"prog", ""}, 'C', "prog", 0),
    run("option_twice", {"-t", "-t"}, 'T', "-t", 1),
    run("negative_port", {"prog", "-5"}, 'C', "prog", -5),
    run("plus_sign", {"prog", "+12"}, 'C', "prog", 12),
    run("empty_name", {""}, 'C', "", 1),
    run("huge_port", {"prog", "99999999999"}, 'C', "prog", OUT_OF_RANGE),
    run("just_past_32_bits", {"prog", "4294967297"}, 'C', "prog", OUT_OF_RANGE),
    run("huge_negative_port", {"prog", "-4294967295"}, 'C', "prog", OUT_OF_RANGE),
    run("beyond_long", {"prog", "99999999999999999999999"}, 'C', "prog", OUT_OF_RANGE),
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
    if (c.port == OUT_OF_RANGE) {
        EXPECT_TRUE(got->port < 0 || got->port > 15) << "port " << got->port;
    } else {
        EXPECT_EQ(got->port, c.port);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ReadCommandLine, testing::ValuesIn(CASES),
                         [](const testing::TestParamInfo<Case>& info) {
                             return std::string(info.param.what);
                         });

TEST(UsageDeathTest, PrintsThreeLinesOnStandardErrorAndExitsWithOne) {
    EXPECT_EXIT(usage(), testing::ExitedWithCode(1),
                "^Remote Control for Lorvan\nusage:\nlorvrc <program name>\n$");
}

} // namespace
