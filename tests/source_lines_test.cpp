#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "device_session.h"
#include "source_lines.h"

namespace {

// Reads every line, reusing one SourceLine as the sender does. Stops after
// `most` lines so that a reader that never ends fails instead of hanging.
std::vector<SourceLine> read_all(std::istream& in, std::size_t keep, std::size_t most = 100) {
    SourceLineReader reader(in, keep);
    std::vector<SourceLine> lines;
    SourceLine line;
    while (lines.size() < most && reader.next(line)) {
        lines.push_back(line);
    }
    return lines;
}

struct ExpectedLine {
    std::string text;
    std::uint64_t length;
};

struct ReaderCase {
    const char* what;
    std::string input;
    std::size_t keep;
    std::vector<ExpectedLine> lines;
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const ReaderCase& c, std::ostream* out) { *out << c.what; }

class SourceLineCases : public testing::TestWithParam<ReaderCase> {};

TEST_P(SourceLineCases, CutsAtLineFeedsOnly) {
    const ReaderCase& c = GetParam();
    std::istringstream in(c.input);
    SourceLineReader reader(in, c.keep);
    SourceLine line;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
        ASSERT_TRUE(reader.next(line)) << "line " << i + 1 << " missing";
        EXPECT_EQ(line.text, c.lines[i].text) << "line " << i + 1;
        EXPECT_EQ(line.length, c.lines[i].length) << "line " << i + 1;
        EXPECT_EQ(line.number, i + 1);
    }
    EXPECT_FALSE(reader.next(line)) << "a line too many: \"" << line.text << "\"";
    EXPECT_FALSE(reader.next(line)) << "the end does not last";
}

INSTANTIATE_TEST_SUITE_P(
    Files, SourceLineCases,
    testing::Values(ReaderCase{"empty", "", 300, {{"", 0}}},
                    ReaderCase{"final_lf", "A\n", 300, {{"A", 1}, {"", 0}}},
                    ReaderCase{"no_final_lf", "A\nBC", 300, {{"A", 1}, {"BC", 2}}},
                    ReaderCase{"lone_lf", "\n", 300, {{"", 0}, {"", 0}}},
                    ReaderCase{"empty_lines", "\n\n\n", 300, {{"", 0}, {"", 0}, {"", 0}, {"", 0}}},
                    ReaderCase{"cr_belongs_to_line", "A\r\nB\rC", 300, {{"A\r", 2}, {"B\rC", 3}}},
                    ReaderCase{"any_byte_but_lf",
                               std::string("\0\xFF\t\x1A", 4),
                               300,
                               {{std::string("\0\xFF\t\x1A", 4), 4}}},
                    ReaderCase{"longer_than_keep", "abcdef\nxy", 4, {{"abcd", 6}, {"xy", 2}}},
                    ReaderCase{"exactly_keep", "abcd\nabcde", 4, {{"abcd", 4}, {"abcd", 5}}},
                    ReaderCase{"keep_nothing", "abc\n\nd", 0, {{"", 3}, {"", 0}, {"", 1}}},
                    ReaderCase{
                        "long_then_short", "abcdefgh\nab\n", 3, {{"abc", 8}, {"ab", 2}, {"", 0}}}),
    [](const testing::TestParamInfo<ReaderCase>& info) { return std::string(info.param.what); });

TEST(SourceLineReader, StoresAtMostKeepOfAHugeLine) {
    const std::size_t huge = 10 * 1024 * 1024;
    std::istringstream in(std::string(huge, 'x') + "\nnext");
    const std::vector<SourceLine> lines = read_all(in, 300);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, std::string(300, 'x'));
    EXPECT_EQ(lines[0].length, huge);
    EXPECT_EQ(lines[1].text, "next");
    EXPECT_EQ(lines[1].number, 2u);
}

TEST(SourceLineReader, DirectoryThatFailsToReadIsOneEmptyLine) {
    testing_support::TempDir dir;
    std::ifstream in(dir.path(), std::ios::in | std::ios::binary);
    ASSERT_TRUE(in.is_open());
    const std::vector<SourceLine> lines = read_all(in, 300);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].text, "");
    EXPECT_EQ(lines[0].length, 0u);
}

// Yields its bytes, then fails the way a file does whose read fails: the
// stream gets its bad bit, not its end-of-file bit.
class FailingBuffer : public std::streambuf {
  public:
    explicit FailingBuffer(std::string bytes) : bytes_(std::move(bytes)) {
        setg(bytes_.data(), bytes_.data(), bytes_.data() + bytes_.size());
    }

  protected:
    int_type underflow() override { throw std::runtime_error("read failed"); }

  private:
    std::string bytes_;
};

TEST(SourceLineReader, ReadErrorEndsTheFileAfterThePartialLine) {
    FailingBuffer buffer("AB\nCD");
    std::istream in(&buffer);
    const std::vector<SourceLine> lines = read_all(in, 300);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, "AB");
    EXPECT_EQ(lines[1].text, "CD");
    EXPECT_EQ(lines[1].length, 2u);
}

} // namespace
