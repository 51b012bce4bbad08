#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include "source_lines.h"

namespace {

// A file that holds `bytes`, read from its start; closed with the object.
class MemoryFile {
  public:
    explicit MemoryFile(const std::string& bytes) : fd_(memfd_create("source", MFD_CLOEXEC)) {
        EXPECT_EQ(write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
        lseek(fd_, 0, SEEK_SET);
    }
    ~MemoryFile() { close(fd_); }
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Reads every line, reusing one SourceLine as the sender does. Stops after
// `most` lines so that a reader that never ends fails instead of hanging.
std::vector<SourceLine> read_all(int fd, std::size_t keep, std::size_t most = 100) {
    SourceLineReader reader(fd, keep);
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
    const MemoryFile in(c.input);
    SourceLineReader reader(in.fd(), c.keep);
    SourceLine line;
    for (std::size_t i = 0; i < c.lines.size(); ++i) {
        ASSERT_TRUE(reader.next(line)) << "line " << i + 1 << " missing";
        EXPECT_EQ(line.text, c.lines[i].text) << "line " << i + 1;
        EXPECT_EQ(line.length, c.lines[i].length) << "line " << i + 1;
        EXPECT_EQ(line.number, i + 1);
    }
    EXPECT_FALSE(reader.next(line)) << "a line too many: \"" << line.text << "\"";
    EXPECT_FALSE(reader.next(line)) << "the end does not last";
    EXPECT_EQ(reader.error(), 0);
    EXPECT_EQ(reader.bytes_read(), c.input.size());
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
    const MemoryFile in(std::string(huge, 'x') + "\nnext");
    const std::vector<SourceLine> lines = read_all(in.fd(), 300);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].text, std::string(300, 'x'));
    EXPECT_EQ(lines[0].length, huge);
    EXPECT_EQ(lines[1].text, "next");
    EXPECT_EQ(lines[1].number, 2u);
}

// A pipe that nobody has closed fails its read once it is empty when it
// does not block: a read error in the middle of a line, as a disk gives.
TEST(SourceLineReader, ReadErrorEndsTheFileBeforeThePartialLine) {
    int pipe_ends[2];
    ASSERT_EQ(pipe2(pipe_ends, O_NONBLOCK | O_CLOEXEC), 0);
    const std::string bytes = "AB\nCD";
    ASSERT_EQ(write(pipe_ends[1], bytes.data(), bytes.size()), 5);
    SourceLineReader reader(pipe_ends[0], 300);
    SourceLine line;
    ASSERT_TRUE(reader.next(line));
    EXPECT_EQ(line.text, "AB");
    EXPECT_FALSE(reader.next(line)) << "partial line \"" << line.text << "\" returned";
    EXPECT_EQ(reader.error(), EAGAIN);
    EXPECT_EQ(reader.lines_read(), 1u);
    close(pipe_ends[0]);
    close(pipe_ends[1]);
}

} // namespace
