#include <gtest/gtest.h>

#include <set>
#include <string>

#include "device_charset.h"

namespace {

constexpr unsigned char BLANK = 0x20;

TEST(DeviceCharset, NoEntryIsTheStringEnd) {
    for (int b = 0; b < 256; ++b) {
        EXPECT_NE(device_charset[b], 0) << "entry " << b;
    }
}

// Only the bytes that become a blank may lose their identity; every other
// byte must come out as a code no other byte gives.
TEST(DeviceCharset, OnlyBlankEntriesShareACode) {
    int blanks = 0;
    std::set<unsigned char> others;
    for (int b = 0; b < 256; ++b) {
        if (device_charset[b] == BLANK) {
            ++blanks;
        } else {
            EXPECT_TRUE(others.insert(device_charset[b]).second)
                << "entry " << b << " repeats code " << int{device_charset[b]};
        }
    }
    EXPECT_EQ(blanks, 68);
    EXPECT_EQ(others.size(), 188u);
}

TEST(DeviceCharset, PrintableAsciiIsKeptExceptTheBar) {
    for (int b = 0x20; b <= 0x7E; ++b) {
        const int expected = b == 0x7C ? 0xCD : b;
        EXPECT_EQ(device_charset[b], expected) << "entry " << b;
    }
}

struct Translation {
    const char* what;
    std::string host;
    std::string device;
};

class ToDeviceCharset : public testing::TestWithParam<Translation> {};

TEST_P(ToDeviceCharset, TranslatesEachByteAndLeavesTheArgument) {
    const Translation& t = GetParam();
    const std::string argument = t.host;
    const std::string translated = to_device_charset(argument);
    EXPECT_EQ(translated, t.device);
    EXPECT_EQ(translated.size(), t.host.size());
    EXPECT_EQ(argument, t.host);
}

using std::string_literals::operator""s;

INSTANTIATE_TEST_SUITE_P(
    Table, ToDeviceCharset,
    testing::Values(
        Translation{"empty", ""s, ""s},
        Translation{"bar_and_line_feed", "\x41\x7C\x0A"s, "\x41\xCD\x20"s},
        Translation{"upper_half_letters", "\xE9\xFC\xDF"s, "\x91\xB4\xAD"s},
        Translation{"zero_byte", "\x00"s, "\x20"s}, Translation{"broken_bar", "\xA6"s, "\x7C"s},
        Translation{"tab_and_cr_kept", "\x09\x0D"s, "\x09\x0D"s},
        Translation{"low_half_codes", "\x80\x83"s, "\xE7\xCC"s},
        Translation{"delete", "\x7F"s, "\x20"s}, Translation{"last_entry", "\xFF"s, "\xD8"s},
        Translation{"unmapped_upper_bytes", "\x81\x9F\xA0\xA8\xAC\xAF\xB4\xB8"s, "        "s},
        Translation{"mixed_line", "x=\"\xE4\"\x7F|\n"s, "x=\"\xB0\" \xCD "s}),
    [](const testing::TestParamInfo<Translation>& info) { return std::string(info.param.what); });

} // namespace
