// The serial module where no session of the tool reaches it: line settings
// read back, time-outs, bad and closed ports, serial_gets, serial_ungetc,
// the longest text and a refused open by path. Ports 8 and 9 are linked to
// this binary's ptys; 15 never is.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <filesystem>
#include <termios.h>
#include <unistd.h>

#include "pty_device.h"
#include "serial.h"

using namespace testing_support;
using namespace std::chrono;

// The last settings handed to tcsetattr: a pty reports CS8 and CREAD set
// and PARENB clear whatever it was asked for, so those show only here.
static termios g_applied{};

extern "C" int tcsetattr(int fd, int actions, const termios* settings) noexcept {
    using Real = int (*)(int, int, const termios*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    g_applied = *settings;
    return real(fd, actions, settings);
}

// Reads that found nothing: on a line with a read time-out, each is one
// time-out that passed.
static int g_empty_reads = 0;

extern "C" ssize_t read(int fd, void* buffer, size_t count) {
    using Real = ssize_t (*)(int, void*, size_t);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "read"));
    const ssize_t got = real(fd, buffer, count);
    g_empty_reads += got == 0 ? 1 : 0;
    return got;
}

namespace {

constexpr int PORT = 8;
constexpr int OTHER_PORT = 9;
constexpr int CLOSED_PORT = 15;

std::int32_t open_line(int port, std::uint8_t read_timeout, std::int32_t data_bits = 8) {
    return serial_open(port, data_bits, PARITY_NONE, 1, 38400, read_timeout);
}

// How many of this process's descriptors are open on `path`.
int fds_on(const std::string& path) {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code ignored;
        count += std::filesystem::read_symlink(entry.path(), ignored) == path ? 1 : 0;
    }
    return count;
}

class Serial : public testing::Test {
  protected:
    void SetUp() override { device_.link_as_port(PORT); }
    PtyDevice device_;
};

// What an open must clear, and what it must leave as the device had it.
constexpr tcflag_t RAW_INPUT = IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON;
constexpr tcflag_t RAW_LOCAL = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
constexpr tcflag_t KEPT_INPUT = IXOFF | IXANY | IGNPAR | IMAXBEL;
constexpr tcflag_t KEPT_LOCAL = TOSTOP | NOFLSH | ECHOE;
constexpr tcflag_t KEPT_CONTROL = HUPCL | CRTSCTS;

struct Setting {
    std::int32_t data_bits, parity, stop_bits, baud;
    std::uint8_t read_timeout;
    tcflag_t kept; // all ones: the device had the kept bits set; 0: clear
    tcflag_t size, framing, inpck;
    speed_t speed;
};

// Each row starts from a device set the other way: raw bits set; CLOCAL,
// PARODD, CSTOPB and INPCK opposite to the row's; 300 baud, VMIN 1, VTIME 7.
// A byte 0xF1 sent after the open then shows the data mask.
TEST_F(Serial, OpenSetsTheLineAndKeepsWhatItDoesNotOwn) {
    const Setting rows[] = {
        {5, PARITY_NONE, 1, 0, 1, 0, CS5, 0, 0, B0},
        {6, PARITY_ODD, 2, 57600, 2, ~0U, CS6, PARENB | PARODD | CSTOPB, INPCK, B57600},
        {7, PARITY_EVEN, 1, 115200, 255, ~0U, CS7, PARENB, INPCK, B115200},
        {8, PARITY_EVEN, 2, 38400, 10, 0, CS8, PARENB | CSTOPB, INPCK, B38400}};
    for (const Setting& row : rows) {
        SCOPED_TRACE(row.data_bits);
        termios t{};
        t.c_iflag = RAW_INPUT | (INPCK & ~row.inpck) | (KEPT_INPUT & row.kept);
        t.c_oflag = OPOST | (ONLCR & row.kept);
        t.c_lflag = RAW_LOCAL | (KEPT_LOCAL & row.kept);
        t.c_cflag = CS8 | CREAD | ((PARODD | CSTOPB) & ~row.framing) | (KEPT_CONTROL & row.kept);
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 7;
        cfsetspeed(&t, B300);
        ASSERT_EQ(tcsetattr(device_.master(), TCSANOW, &t), 0);
        device_.send("early"); // discarded by the open
        ASSERT_EQ(
            serial_open(PORT, row.data_bits, row.parity, row.stop_bits, row.baud, row.read_timeout),
            SERIAL_OK);
        EXPECT_EQ(g_applied.c_cflag & ~(CBAUD | CIBAUD),
                  row.size | row.framing | CREAD | CLOCAL | (KEPT_CONTROL & row.kept));
        ASSERT_EQ(tcgetattr(device_.master(), &t), 0);
        EXPECT_EQ(
            std::tuple(t.c_iflag, t.c_oflag, t.c_lflag, t.c_cflag & (CLOCAL | PARODD | CSTOPB)),
            std::tuple(row.inpck | (KEPT_INPUT & row.kept), ONLCR & row.kept, KEPT_LOCAL & row.kept,
                       CLOCAL | (row.framing & ~PARENB)));
        EXPECT_EQ(std::tuple(cfgetispeed(&t), cfgetospeed(&t), t.c_cc[VMIN], t.c_cc[VTIME]),
                  std::tuple(row.speed, row.speed, 0, row.read_timeout));
        device_.send("\xF1");
        EXPECT_EQ(serial_getc(PORT), 0xF1 & ((1 << row.data_bits) - 1));
    }
}

// Every speed the header promises sets that rate: the C library, which
// takes a rate as a number too, says which constant that is.
TEST_F(Serial, OpenSetsEveryPromisedSpeed) {
    for (const int baud : {0, 50, 75, 110, 134, 150, 200, 300, 600, 1200, 1800, 2400, 4800, 9600,
                           19200, 38400, 57600, 115200}) {
        termios want{}, got{};
        cfsetspeed(&want, static_cast<speed_t>(baud));
        ASSERT_EQ(serial_open(PORT, 8, PARITY_NONE, 1, baud, 0), SERIAL_OK) << baud;
        ASSERT_EQ(tcgetattr(device_.master(), &got), 0);
        EXPECT_EQ(cfgetospeed(&got), cfgetospeed(&want)) << baud;
    }
}

// Refused after the device is opened: the port, open before, is closed and
// nothing is left open.
TEST_F(Serial, BadLineSettingsAreRefusedAndLeaveThePortClosed) {
    const std::int32_t rows[][4] = {{9, PARITY_NONE, 1, 38400}, {4, PARITY_NONE, 1, 38400},
                                    {8, PARITY_NONE, 3, 38400}, {8, PARITY_NONE, 0, 38400},
                                    {8, 3, 1, 38400},           {8, PARITY_NONE, 1, 9601}};
    for (const auto& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row));
        ASSERT_EQ(open_line(PORT, 0), SERIAL_OK);
        EXPECT_EQ(serial_open(PORT, row[0], row[1], row[2], row[3], 0), SERIAL_BAD_ARGUMENT);
        EXPECT_EQ(serial_getc(PORT), SERIAL_NOT_OPEN);
        EXPECT_EQ(fds_on(device_.slave_path()), 0);
    }
}

TEST(SerialPorts, OutOfRangeAndClosedPortsAreRefusedByEveryOperation) {
    for (const std::int32_t port : {16, CLOSED_PORT}) {
        SCOPED_TRACE(port);
        const bool closed = port == CLOSED_PORT;
        const std::int32_t refused = closed ? SERIAL_NOT_OPEN : SERIAL_BAD_ARGUMENT;
        char buf[8];
        EXPECT_EQ(open_line(port, 0), closed ? SERIAL_IO_ERROR : SERIAL_BAD_ARGUMENT); // no file
        EXPECT_EQ(serial_close(port), closed ? SERIAL_OK : SERIAL_BAD_ARGUMENT);
        EXPECT_EQ(serial_putc(port, 'a'), refused);
        EXPECT_EQ(serial_puts(port, "", LINE_END_NONE), refused); // writes nothing
        EXPECT_EQ(serial_getc(port), refused);
        EXPECT_EQ(serial_gets(port, buf, sizeof buf, 1), refused);
        EXPECT_EQ(serial_ungetc(port, 'a'), refused);
        EXPECT_EQ(serial_set_modem_line(port, MODEM_LINE_DTR, 1), refused);
        EXPECT_EQ(serial_keep_lines_at_close(port), refused);
        EXPECT_EQ(serial_discard_input(port), refused);
    }
}

// What the line holds; the buffer size; the lines read, one per call. Then
// only "Z" is left, and the next line waits for its end through exactly 3
// read time-outs: each character may wait `retries` of them.
TEST_F(Serial, GetsReadsUpToALineEndOrTheBufferSizeOrRetriesTimeOuts) {
    const std::tuple<std::string, std::int32_t, std::vector<std::string>> rows[] = {
        {"AB\r\nC\nZ", 16, {"AB", "", "C"}},
        {"ABCD\rZ", 3, {"AB", "CD", ""}},
        {std::string("\0CD\rZ", 5), 3, {std::string("\0C", 2), "D"}},
        {"Z", 1, {""}}};
    for (const auto& [incoming, size, lines] : rows) {
        SCOPED_TRACE(testing::PrintToString(incoming));
        ASSERT_EQ(open_line(PORT, 2), SERIAL_OK);
        device_.send(incoming);
        std::string buf(16, 'j');
        for (const std::string& line : lines) {
            EXPECT_EQ(serial_gets(PORT, buf.data(), size, 1), SERIAL_OK);
            EXPECT_EQ(buf.substr(0, line.size() + 1), line + '\0');
        }
        g_empty_reads = 0;
        EXPECT_EQ(serial_gets(PORT, buf.data(), 16, 3), SERIAL_NO_DATA);
        EXPECT_EQ(buf.substr(0, 2), std::string("Z\0", 2)); // nothing read beyond the lines
        EXPECT_EQ(g_empty_reads, 3);
    }
}

// The line holds one byte 0xD1, read with 7 data bits as 'Q'; a push-back
// is not masked.
TEST_F(Serial, UngetcPushesBackOneCharacter) {
    ASSERT_EQ(open_line(PORT, 1, 7), SERIAL_OK);
    device_.send("\xD1");
    for (const auto& [pushed, read] : {std::pair{0xE9, 0xE9}, {0x141, 'A'}, {0, 0}}) {
        EXPECT_EQ(serial_ungetc(PORT, pushed), SERIAL_OK);
        EXPECT_EQ(serial_getc(PORT), read);
    }
    serial_ungetc(PORT, 'a');
    serial_ungetc(PORT, 'b'); // replaces the first
    EXPECT_EQ(serial_getc(PORT), 'b');
    EXPECT_EQ(serial_getc(PORT), 'Q');
}

TEST_F(Serial, PutsSendsTheTextAndItsLineEnd) {
    ASSERT_EQ(open_line(PORT, 0), SERIAL_OK);
    for (const std::int32_t line_end :
         {LINE_END_NONE, LINE_END_CR, LINE_END_LF, LINE_END_CRLF, LINE_END_LFCR, 5, -1}) {
        EXPECT_EQ(serial_puts(PORT, "ab", line_end), SERIAL_OK);
    }
    // The longest text fills the module's buffer: a sanitizer build sees any overflow.
    const std::string longest(SERIAL_TEXT_MAX, 'x');
    EXPECT_EQ(serial_puts(PORT, longest.c_str(), LINE_END_CRLF), SERIAL_OK);
    EXPECT_EQ(serial_puts(PORT, (longest + "x").c_str(), LINE_END_CR), SERIAL_TOO_LONG);
    EXPECT_EQ(serial_putc(PORT, 0x123), SERIAL_OK); // the low 8 bits: '#'
    const std::string sent = "abab\rab\nab\r\nab\n\rabab" + longest + "\r\n#";
    EXPECT_EQ(device_.receive(sent.size(), milliseconds(1000)), sent); // the marker '#' last
}

// Clearing HUPCL changes nothing else; discarding input drops the push-back
// too; a pty has no modem lines to set.
TEST_F(Serial, KeepsLinesAtCloseDiscardsInputAndFindsNoModemLinesOnAPty) {
    termios line{};
    ASSERT_EQ(tcgetattr(device_.master(), &line), 0);
    line.c_cflag |= HUPCL; // a pty starts without it
    ASSERT_EQ(tcsetattr(device_.master(), TCSANOW, &line) + open_line(PORT, 1), SERIAL_OK);
    const termios opened = g_applied;
    EXPECT_EQ(serial_keep_lines_at_close(PORT), SERIAL_OK);
    EXPECT_EQ(g_applied.c_cflag, opened.c_cflag & ~tcflag_t{HUPCL});
    EXPECT_EQ(serial_ungetc(PORT, 'a'), SERIAL_OK);
    EXPECT_EQ(serial_discard_input(PORT), SERIAL_OK);
    EXPECT_EQ(serial_getc(PORT), SERIAL_NO_DATA);
    EXPECT_EQ(serial_set_modem_line(PORT, MODEM_LINE_RTS, 1), SERIAL_IO_ERROR);
    EXPECT_EQ(errno, ENOTTY);
    EXPECT_EQ(serial_set_modem_line(PORT, 3, 1), SERIAL_BAD_ARGUMENT);
    serial_close(PORT);
}

// The line is the module's alone while open: another open of it, here by
// its port link, is refused and leaves nothing open: by our TIOCEXCL
// (EBUSY), or by our flock (EWOULDBLOCK) for a user TIOCEXCL lets in
// (CAP_SYS_ADMIN). An explicit serial_init first must do no harm.
TEST_F(Serial, OpenByPathHoldsTheLineUntilClose) {
    serial_init();
    ASSERT_EQ(serial_open_device(OTHER_PORT, device_.slave_path(), 8, PARITY_NONE, 1, 38400, 0),
              SERIAL_OK);
    EXPECT_EQ(open_line(PORT, 0), SERIAL_IO_ERROR);
    EXPECT_TRUE(errno == EBUSY || errno == EWOULDBLOCK) << errno;
    EXPECT_EQ(fds_on(device_.slave_path()), 1);
    EXPECT_EQ(serial_close(OTHER_PORT), SERIAL_OK);
    EXPECT_EQ(fds_on(device_.slave_path()), 0);
}

} // namespace
