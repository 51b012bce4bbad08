// Tests of the serial port module on pseudo-terminals. Ports 8, 9 and 15
// are this binary's; the test fixture closes and unlinks them after each test.
#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <filesystem>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>
#include <vector>

#include "device_session.h"
#include "serial.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

constexpr int kPort = 8;
constexpr int kOtherPort = 9;
constexpr int kClosedPort = 15; // never linked, never opened
constexpr milliseconds kWait(1000);

// The last settings handed to tcsetattr in this process. A pty reports CS8
// and PARENB cleared whatever it was asked for, so the character size and
// parity enable can only be checked on the request itself.
termios g_applied{};
int g_applied_calls = 0;

} // namespace

extern "C" int tcsetattr(int fd, int actions, const termios* settings) noexcept {
    using Real = int (*)(int, int, const termios*);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "tcsetattr"));
    g_applied = *settings;
    ++g_applied_calls;
    return real(fd, actions, settings);
}

namespace {

// ---- helpers -------------------------------------------------------------

// The descriptors this process has open, with the files they stand for.
std::vector<std::pair<int, std::string>> open_fds() {
    std::vector<std::pair<int, std::string>> fds;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        fds.emplace_back(std::stoi(entry.path().filename()),
                         std::filesystem::read_symlink(entry.path(), ignored));
    }
    return fds;
}

std::vector<int> fds_open_on(const std::string& path) {
    std::vector<int> found;
    for (const auto& [fd, target] : open_fds()) {
        if (target == path) {
            found.push_back(fd);
        }
    }
    return found;
}

// The slave's settings: the master side of a pty reports its slave's.
termios line_settings(const PtyDevice& device) {
    termios settings{};
    tcgetattr(device.master(), &settings);
    return settings;
}

// Gives the device its own settings before the module opens it.
template <typename Change> void preset(const PtyDevice& device, Change change) {
    termios settings = line_settings(device);
    change(settings);
    ASSERT_EQ(tcsetattr(device.master(), TCSANOW, &settings), 0);
}

// Waits until bytes sent to the slave can be read there: the pty hands
// them over asynchronously, and a read with time-out 0 would not wait.
bool wait_readable(const PtyDevice& device) {
    const int fd = open(device.slave_path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    pollfd probe{fd, POLLIN, 0};
    const bool ready = fd >= 0 && poll(&probe, 1, 1000) == 1 && (probe.revents & POLLIN) != 0;
    close(fd);
    return ready;
}

std::int32_t open_8n1(int port, std::uint8_t read_timeout = 10, std::int32_t data_bits = 8) {
    return serial_open(port, data_bits, PARITY_NONE, 1, 38400, read_timeout);
}

// Opens kPort at 38400 baud and returns the settings the open applied.
termios open_and_capture(std::int32_t data_bits, std::int32_t parity, std::int32_t stop_bits) {
    g_applied_calls = 0;
    EXPECT_EQ(serial_open(kPort, data_bits, parity, stop_bits, 38400, 10), SERIAL_OK);
    EXPECT_EQ(g_applied_calls, 1) << "settings applied once";
    return g_applied;
}

template <typename F> milliseconds time_of(F call) {
    const auto start = std::chrono::steady_clock::now();
    call();
    return std::chrono::duration_cast<milliseconds>(std::chrono::steady_clock::now() - start);
}

// Each test gets a pty linked as kPort; every port of ours is closed and
// unlinked afterwards.
class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(device_.ok());
        device_.link_as_port(kPort);
    }
    void TearDown() override {
        for (int port : {kPort, kOtherPort, kClosedPort}) {
            serial_close(port);
            unlink(port_path(port).c_str());
        }
    }
    PtyDevice device_;
};

template <typename Row>
class SerialTableTest : public SerialTest, public ::testing::WithParamInterface<Row> {};

std::string row_name(const std::string& text) {
    std::string name;
    for (char c : text) {
        name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
    }
    return name;
}

// Rows print as their names in test logs.
template <typename Row>
requires requires(const Row& row) { row.name; }
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

template <typename Row> std::string name_of(const ::testing::TestParamInfo<Row>& info) {
    return row_name(info.param.name);
}

// ---- result codes and paths ------------------------------------------------

TEST(SerialCodes, HaveTheirFixedValues) {
    EXPECT_EQ(SERIAL_OK, 0);
    EXPECT_EQ(SERIAL_NO_DATA, -1);
    EXPECT_EQ(SERIAL_IO_ERROR, -2);
    EXPECT_EQ(SERIAL_NOT_OPEN, -4);
    EXPECT_EQ(SERIAL_TOO_LONG, -5);
    EXPECT_EQ(SERIAL_BAD_ARGUMENT, -6);
}

TEST(SerialDevicePath, IsFormedForAnyNumber) {
    EXPECT_EQ(serial_device_path(8), test_port_dir() + "/ttyS8");
    EXPECT_EQ(serial_device_path(16), test_port_dir() + "/ttyS16");
    EXPECT_EQ(serial_device_path(-1), test_port_dir() + "/ttyS-1");
}

// ---- line settings ---------------------------------------------------------

constexpr tcflag_t kRawClearedInput =
    IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON;
constexpr tcflag_t kRawClearedLocal = ECHO | ECHONL | ICANON | ISIG | IEXTEN;
// Settings the module has no business with: they keep the device's value.
constexpr tcflag_t kKeptInput = IXOFF | IXANY | IGNPAR | IMAXBEL;
constexpr tcflag_t kKeptOutput = ONLCR;
constexpr tcflag_t kKeptLocal = TOSTOP | NOFLSH | ECHOE;
constexpr tcflag_t kKeptControl = HUPCL | CRTSCTS;

struct RawRow {
    std::string name;
    bool device_had_kept_bits;
};

using RawMode = SerialTableTest<RawRow>;

TEST_P(RawMode, ClearsTheListedBitsAndKeepsTheOthers) {
    const bool had = GetParam().device_had_kept_bits;
    preset(device_, [had](termios& t) {
        t.c_iflag |= kRawClearedInput;
        t.c_oflag |= OPOST;
        t.c_lflag |= kRawClearedLocal;
        t.c_cflag &= ~static_cast<tcflag_t>(CLOCAL);
        const auto apply = [had](tcflag_t& flags, tcflag_t bits) {
            flags = had ? flags | bits : flags & ~bits;
        };
        apply(t.c_iflag, kKeptInput);
        apply(t.c_oflag, kKeptOutput);
        apply(t.c_lflag, kKeptLocal);
        apply(t.c_cflag, kKeptControl);
    });
    const termios applied = open_and_capture(8, PARITY_NONE, 1);

    const termios t = line_settings(device_);
    EXPECT_EQ(t.c_iflag & kRawClearedInput, 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_lflag & kRawClearedLocal, 0u);
    EXPECT_EQ(t.c_cflag & CLOCAL, CLOCAL);
    EXPECT_EQ(applied.c_cflag & (CREAD | CLOCAL), CREAD | CLOCAL);
    EXPECT_EQ(t.c_iflag & kKeptInput, had ? kKeptInput : 0u);
    EXPECT_EQ(t.c_oflag & kKeptOutput, had ? kKeptOutput : 0u);
    EXPECT_EQ(t.c_lflag & kKeptLocal, had ? kKeptLocal : 0u);
    EXPECT_EQ(t.c_cflag & kKeptControl, had ? kKeptControl : 0u);
}

INSTANTIATE_TEST_SUITE_P(Serial, RawMode,
                         ::testing::Values(RawRow{"device had optional bits set", true},
                                           RawRow{"device had optional bits clear", false}),
                         name_of<RawRow>);

struct DataBitsRow {
    std::string name;
    std::int32_t data_bits;
    tcflag_t size;
    int mask;
};

using DataBits = SerialTableTest<DataBitsRow>;

TEST_P(DataBits, SetCharacterSizeAndMaskBytesRead) {
    const DataBitsRow& row = GetParam();
    EXPECT_EQ(open_and_capture(row.data_bits, PARITY_NONE, 1).c_cflag & CSIZE, row.size);

    device_.send("\xFF\xC1");
    EXPECT_EQ(serial_getc(kPort), 0xFF & row.mask);
    EXPECT_EQ(serial_getc(kPort), 0xC1 & row.mask);
}

INSTANTIATE_TEST_SUITE_P(Serial, DataBits,
                         ::testing::Values(DataBitsRow{"5", 5, CS5, 0x1F},
                                           DataBitsRow{"6", 6, CS6, 0x3F},
                                           DataBitsRow{"7", 7, CS7, 0x7F},
                                           DataBitsRow{"8", 8, CS8, 0xFF}),
                         name_of<DataBitsRow>);

struct SpeedRow {
    std::string name;
    std::int32_t baud;
    speed_t constant;
};

using Speed = SerialTableTest<SpeedRow>;

TEST_P(Speed, SetsInputAndOutputSpeed) {
    preset(device_, [](termios& t) {
        cfsetispeed(&t, B300);
        cfsetospeed(&t, B300);
    });
    ASSERT_EQ(serial_open(kPort, 8, PARITY_NONE, 1, GetParam().baud, 10), SERIAL_OK);
    const termios t = line_settings(device_);
    EXPECT_EQ(cfgetospeed(&t), GetParam().constant);
    EXPECT_EQ(cfgetispeed(&t), GetParam().constant);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, Speed,
    ::testing::Values(SpeedRow{"0", 0, B0}, SpeedRow{"50", 50, B50}, SpeedRow{"75", 75, B75},
                      SpeedRow{"110", 110, B110}, SpeedRow{"134", 134, B134},
                      SpeedRow{"150", 150, B150}, SpeedRow{"200", 200, B200},
                      SpeedRow{"300", 300, B300}, SpeedRow{"600", 600, B600},
                      SpeedRow{"1200", 1200, B1200}, SpeedRow{"1800", 1800, B1800},
                      SpeedRow{"2400", 2400, B2400}, SpeedRow{"4800", 4800, B4800},
                      SpeedRow{"9600", 9600, B9600}, SpeedRow{"19200", 19200, B19200},
                      SpeedRow{"38400", 38400, B38400}, SpeedRow{"57600", 57600, B57600},
                      SpeedRow{"115200", 115200, B115200}),
    name_of<SpeedRow>);

struct FramingRow {
    std::string name;
    std::int32_t stop_bits;
    std::int32_t parity;
    tcflag_t preset_control; // set on the device before the open
    tcflag_t preset_input;
    tcflag_t control; // expected, of CSTOPB | PARENB | PARODD
    tcflag_t input;   // expected, of INPCK
};

using Framing = SerialTableTest<FramingRow>;

TEST_P(Framing, SetsStopBitsAndParity) {
    const FramingRow& row = GetParam();
    preset(device_, [&row](termios& t) {
        t.c_cflag = (t.c_cflag & ~static_cast<tcflag_t>(CSTOPB | PARODD)) | row.preset_control;
        t.c_iflag = (t.c_iflag & ~static_cast<tcflag_t>(INPCK)) | row.preset_input;
    });
    const termios applied = open_and_capture(8, row.parity, row.stop_bits);
    const termios t = line_settings(device_);
    EXPECT_EQ(t.c_cflag & (CSTOPB | PARODD), row.control & (CSTOPB | PARODD));
    EXPECT_EQ(applied.c_cflag & PARENB, row.control & PARENB);
    EXPECT_EQ(t.c_iflag & INPCK, row.input);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, Framing,
    ::testing::Values(FramingRow{"1 stop bit", 1, PARITY_NONE, CSTOPB, 0, 0, 0},
                      FramingRow{"2 stop bits", 2, PARITY_NONE, 0, 0, CSTOPB, 0},
                      FramingRow{"no parity", 1, PARITY_NONE, PARODD, INPCK, 0, 0},
                      FramingRow{"odd parity", 1, PARITY_ODD, 0, 0, PARENB | PARODD, INPCK},
                      FramingRow{"even parity", 1, PARITY_EVEN, PARODD, 0, PARENB, INPCK},
                      FramingRow{"even parity 2 stop bits", 2, PARITY_EVEN, 0, 0, CSTOPB | PARENB,
                                 INPCK}),
    name_of<FramingRow>);

class ReadTimeoutSetting : public SerialTest, public ::testing::WithParamInterface<int> {};

TEST_P(ReadTimeoutSetting, GoesToVtimeWithVminZero) {
    preset(device_, [](termios& t) {
        t.c_cc[VMIN] = 1;
        t.c_cc[VTIME] = 7;
    });
    ASSERT_EQ(open_8n1(kPort, static_cast<std::uint8_t>(GetParam())), SERIAL_OK);
    const termios t = line_settings(device_);
    EXPECT_EQ(t.c_cc[VMIN], 0);
    EXPECT_EQ(t.c_cc[VTIME], GetParam());
}

INSTANTIATE_TEST_SUITE_P(Serial, ReadTimeoutSetting, ::testing::Values(0, 1, 10, 255));

// ---- refused and failing opens ---------------------------------------------

struct BadParamsRow {
    std::string name;
    std::int32_t data_bits, parity, stop_bits, baud;
};

using BadParams = SerialTableTest<BadParamsRow>;

TEST_P(BadParams, OnAnExistingDeviceAreRefusedAndLeaveThePortClosed) {
    const BadParamsRow& row = GetParam();
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    EXPECT_EQ(serial_open(kPort, row.data_bits, row.parity, row.stop_bits, row.baud, 10),
              SERIAL_BAD_ARGUMENT);
    EXPECT_EQ(serial_getc(kPort), SERIAL_NOT_OPEN);
    EXPECT_EQ(fds_open_on(device_.slave_path()).size(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Serial, BadParams,
                         ::testing::Values(BadParamsRow{"9 data bits", 9, PARITY_NONE, 1, 38400},
                                           BadParamsRow{"4 data bits", 4, PARITY_NONE, 1, 38400},
                                           BadParamsRow{"3 stop bits", 8, PARITY_NONE, 3, 38400},
                                           BadParamsRow{"0 stop bits", 8, PARITY_NONE, 0, 38400},
                                           BadParamsRow{"parity 3", 8, 3, 1, 38400},
                                           BadParamsRow{"parity -1", 8, -1, 1, 38400},
                                           BadParamsRow{"speed 230400", 8, PARITY_NONE, 1, 230400},
                                           BadParamsRow{"speed 9601", 8, PARITY_NONE, 1, 9601},
                                           BadParamsRow{"speed -1", 8, PARITY_NONE, 1, -1}),
                         name_of<BadParamsRow>);

struct DeviceFileRow {
    std::string name;
    std::string target; // empty: no link at all; "<dir>": a directory
    int error;
};

using FailingDeviceFile = SerialTableTest<DeviceFileRow>;

// The device is opened and its settings read before the line parameters
// are looked at, so bad parameters change nothing here.
TEST_P(FailingDeviceFile, GivesInputOutputErrorWithErrnoAndNoLeak) {
    const DeviceFileRow& row = GetParam();
    TempDir dir;
    unlink(port_path(kPort).c_str());
    if (!row.target.empty()) {
        ASSERT_TRUE(link_port(kPort, row.target == "<dir>" ? dir.path() : row.target));
    }
    const BadParamsRow attempts[] = {{"good parameters", 8, PARITY_NONE, 1, 38400},
                                     {"9 data bits", 9, PARITY_NONE, 1, 38400},
                                     {"speed 230400", 8, PARITY_NONE, 1, 230400},
                                     {"3 stop bits", 8, PARITY_NONE, 3, 38400},
                                     {"parity 3", 8, 3, 1, 38400}};
    for (const BadParamsRow& attempt : attempts) {
        SCOPED_TRACE(attempt.name);
        const std::size_t fds_before = open_fds().size();
        errno = 0;
        EXPECT_EQ(serial_open(kPort, attempt.data_bits, attempt.parity, attempt.stop_bits,
                              attempt.baud, 10),
                  SERIAL_IO_ERROR);
        EXPECT_EQ(errno, row.error);
        EXPECT_EQ(open_fds().size(), fds_before);
        EXPECT_EQ(serial_getc(kPort), SERIAL_NOT_OPEN);
    }
}

INSTANTIATE_TEST_SUITE_P(Serial, FailingDeviceFile,
                         ::testing::Values(DeviceFileRow{"not a terminal", "/dev/null", ENOTTY},
                                           DeviceFileRow{"missing", "", ENOENT},
                                           DeviceFileRow{"directory", "<dir>", EISDIR}),
                         name_of<DeviceFileRow>);

TEST_F(SerialTest, SecondProgramOnTheSameLineIsLockedOut) {
    device_.link_as_port(kOtherPort);
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    errno = 0;
    EXPECT_EQ(open_8n1(kOtherPort), SERIAL_IO_ERROR);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(fds_open_on(device_.slave_path()).size(), 1u);
    EXPECT_EQ(serial_getc(kOtherPort), SERIAL_NOT_OPEN);

    // The first holder is untouched.
    device_.send("Q");
    EXPECT_EQ(serial_getc(kPort), 'Q');
    EXPECT_EQ(serial_putc(kPort, 'R'), SERIAL_OK);
    EXPECT_EQ(device_.receive(1, kWait), "R");
}

// ---- opening again and closing -----------------------------------------------

TEST_F(SerialTest, OpenDiscardsInputThatCameBefore) {
    device_.send("early\n"); // a whole line: readable even in canonical mode
    ASSERT_TRUE(wait_readable(device_));
    ASSERT_EQ(open_8n1(kPort, 0), SERIAL_OK);
    EXPECT_EQ(serial_getc(kPort), SERIAL_NO_DATA);
}

TEST_F(SerialTest, OpeningAnOpenPortAgainReplacesItsDescriptor) {
    ASSERT_EQ(open_8n1(kPort, 0), SERIAL_OK);
    ASSERT_EQ(serial_ungetc(kPort, 'x'), SERIAL_OK);
    ASSERT_EQ(open_8n1(kPort, 0), SERIAL_OK);
    EXPECT_EQ(fds_open_on(device_.slave_path()).size(), 1u);
    EXPECT_EQ(serial_getc(kPort), SERIAL_NO_DATA); // the push-back went with it

    device_.send("Q");
    ASSERT_TRUE(wait_readable(device_));
    EXPECT_EQ(serial_getc(kPort), 'Q');
}

TEST_F(SerialTest, InitMarksEveryPortClosed) {
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    serial_init();
    EXPECT_EQ(serial_getc(kPort), SERIAL_NOT_OPEN);
    // The module has forgotten the descriptor; release it here.
    for (const int fd : fds_open_on(device_.slave_path())) {
        close(fd);
    }
}

TEST_F(SerialTest, CloseReleasesTheDeviceAndMayBeRepeated) {
    EXPECT_EQ(serial_close(kPort), SERIAL_OK); // never opened
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    EXPECT_EQ(serial_close(kPort), SERIAL_OK);
    EXPECT_EQ(fds_open_on(device_.slave_path()).size(), 0u);
    EXPECT_EQ(serial_close(kPort), SERIAL_OK);
    EXPECT_EQ(serial_getc(kPort), SERIAL_NOT_OPEN);
    EXPECT_EQ(serial_ungetc(kPort, 'a'), SERIAL_NOT_OPEN);
}

// Every operation on a port that is out of range or not open.
TEST(SerialPortChecks, OutOfRangeAndClosedPorts) {
    unlink(port_path(kClosedPort).c_str());
    using Call = std::int32_t (*)(std::int32_t port, char* buf);
    struct Operation {
        const char* name;
        Call call;
        std::int32_t on_closed_port;
    };
    const Operation operations[] = {
        // No device file stands behind the closed port.
        {"open", [](std::int32_t p, char*) { return open_8n1(p); }, SERIAL_IO_ERROR},
        {"close", [](std::int32_t p, char*) { return serial_close(p); }, SERIAL_OK},
        {"putc", [](std::int32_t p, char*) { return serial_putc(p, 'a'); }, SERIAL_NOT_OPEN},
        {"puts", [](std::int32_t p, char*) { return serial_puts(p, "ab", LINE_END_CR); },
         SERIAL_NOT_OPEN},
        {"puts empty", [](std::int32_t p, char*) { return serial_puts(p, "", LINE_END_NONE); },
         SERIAL_NOT_OPEN},
        {"getc", [](std::int32_t p, char*) { return serial_getc(p); }, SERIAL_NOT_OPEN},
        {"gets", [](std::int32_t p, char* buf) { return serial_gets(p, buf, 8, 1); },
         SERIAL_NOT_OPEN},
        {"ungetc", [](std::int32_t p, char*) { return serial_ungetc(p, 'a'); }, SERIAL_NOT_OPEN},
    };
    const std::string too_long(SERIAL_TEXT_MAX + 1, 'x');
    for (const std::int32_t port : {16, -1, 1000, kClosedPort}) {
        for (const Operation& op : operations) {
            SCOPED_TRACE(std::string(op.name) + " on port " + std::to_string(port));
            char buf[8] = "junk";
            EXPECT_EQ(op.call(port, buf),
                      port == kClosedPort ? op.on_closed_port : SERIAL_BAD_ARGUMENT);
            EXPECT_STREQ(buf, std::string(op.name) == "gets" ? "" : "junk");
        }
        SCOPED_TRACE("port " + std::to_string(port));
        // An overlong text is refused before the port is looked at.
        EXPECT_EQ(serial_puts(port, too_long.c_str(), LINE_END_NONE), SERIAL_TOO_LONG);
    }
}

// ---- reading -------------------------------------------------------------

TEST_F(SerialTest, ReadWithoutDataTimesOutAfterOneSecond) {
    ASSERT_EQ(open_8n1(kPort, 10), SERIAL_OK);
    std::int32_t result = 0;
    const milliseconds took = time_of([&] { result = serial_getc(kPort); });
    EXPECT_EQ(result, SERIAL_NO_DATA);
    EXPECT_GE(took.count(), 800);
    EXPECT_LE(took.count(), 2000);
}

TEST_F(SerialTest, ReadTimeoutZeroReturnsAtOnceAndZeroByteReadsAsZero) {
    ASSERT_EQ(open_8n1(kPort, 0), SERIAL_OK);
    std::int32_t result = 0;
    const milliseconds took = time_of([&] { result = serial_getc(kPort); });
    EXPECT_EQ(result, SERIAL_NO_DATA);
    EXPECT_LT(took.count(), 200);

    device_.send(std::string(1, '\0'));
    ASSERT_TRUE(wait_readable(device_));
    EXPECT_EQ(serial_getc(kPort), 0);
    EXPECT_EQ(serial_getc(kPort), SERIAL_NO_DATA);
}

TEST_F(SerialTest, HangUpIsAnErrorAtOnceAndStaysOne) {
    ASSERT_EQ(open_8n1(kPort, 10), SERIAL_OK);
    device_.hang_up();
    std::int32_t result = 0;
    const milliseconds took = time_of([&] { result = serial_getc(kPort); });
    EXPECT_EQ(result, SERIAL_IO_ERROR);
    EXPECT_LT(took.count(), 500);
    EXPECT_EQ(serial_getc(kPort), SERIAL_IO_ERROR);
    EXPECT_EQ(serial_putc(kPort, 'a'), SERIAL_IO_ERROR);
    EXPECT_EQ(serial_puts(kPort, "ab", LINE_END_CR), SERIAL_IO_ERROR);
}

TEST_F(SerialTest, DescriptorClosedUnderTheReaderIsAnErrorNotATimeOut) {
    ASSERT_EQ(open_8n1(kPort, 10), SERIAL_OK);
    const std::vector<int> fds = fds_open_on(device_.slave_path());
    ASSERT_EQ(fds.size(), 1U);
    close(fds[0]);
    EXPECT_EQ(serial_getc(kPort), SERIAL_IO_ERROR);
    EXPECT_EQ(serial_putc(kPort, 'a'), SERIAL_IO_ERROR);
    // The close fails on the dead descriptor, yet the slot ends up closed.
    EXPECT_EQ(serial_close(kPort), SERIAL_IO_ERROR);
    EXPECT_EQ(serial_getc(kPort), SERIAL_NOT_OPEN);
}

struct PushbackRow {
    std::string name;
    std::int32_t data_bits;
    std::vector<std::int32_t> pushed;
    bool reopen_after_push;
    std::vector<std::int32_t> reads; // before the line runs dry
};

using Pushback = SerialTableTest<PushbackRow>;

TEST_P(Pushback, ComesBackBeforeTheLineBytes) {
    const PushbackRow& row = GetParam();
    ASSERT_EQ(open_8n1(kPort, 1, row.data_bits), SERIAL_OK);
    for (const std::int32_t c : row.pushed) {
        ASSERT_EQ(serial_ungetc(kPort, c), SERIAL_OK);
    }
    if (row.reopen_after_push) {
        ASSERT_EQ(open_8n1(kPort, 1, row.data_bits), SERIAL_OK);
    }
    device_.send("Q");
    ASSERT_TRUE(wait_readable(device_));
    for (const std::int32_t expected : row.reads) {
        EXPECT_EQ(serial_getc(kPort), expected);
    }
    EXPECT_EQ(serial_getc(kPort), SERIAL_NO_DATA);
}

INSTANTIATE_TEST_SUITE_P(
    Serial, Pushback,
    ::testing::Values(PushbackRow{"one character", 8, {0x78}, false, {0x78, 'Q'}},
                      PushbackRow{"not masked", 7, {0xE9}, false, {233, 'Q'}},
                      PushbackRow{"low 8 bits", 8, {0x141}, false, {0x41, 'Q'}},
                      PushbackRow{"zero byte", 8, {0}, false, {0, 'Q'}},
                      PushbackRow{"second replaces first", 8, {'a', 'b'}, false, {'b', 'Q'}},
                      PushbackRow{"negative clears", 8, {'a', -1}, false, {'Q'}},
                      PushbackRow{"gone after reopen", 8, {'a'}, true, {'Q'}}),
    name_of<PushbackRow>);

// ---- reading lines -----------------------------------------------------------

struct GetsRow {
    std::string name;
    std::string incoming;
    std::int32_t size;
    std::vector<std::string> lines; // one per call, each returning SERIAL_OK
};

using Gets = SerialTableTest<GetsRow>;

TEST_P(Gets, ReadsLineByLine) {
    const GetsRow& row = GetParam();
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    device_.send(row.incoming);
    for (const std::string& line : row.lines) {
        char buf[16];
        std::memset(buf, 'j', sizeof buf);
        EXPECT_EQ(serial_gets(kPort, buf, row.size, 1), SERIAL_OK);
        // Compared with the terminating zero, as a line may hold 0 bytes.
        EXPECT_EQ(std::string(buf, line.size() + 1), line + '\0');
    }
    EXPECT_EQ(serial_getc(kPort), 'Z'); // nothing read beyond the lines
}

INSTANTIATE_TEST_SUITE_P(
    Serial, Gets,
    ::testing::Values(GetsRow{"cr lf", "AB\r\nZ", 16, {"AB", ""}},
                      GetsRow{"lf cr", "AB\n\rZ", 16, {"AB", ""}},
                      GetsRow{"size 3", "ABCD\rZ", 3, {"AB", "CD", ""}},
                      GetsRow{"zero byte", std::string("A\0B\rZ", 5), 16, {std::string("A\0B", 3)}},
                      GetsRow{"zero byte counts toward size",
                              std::string("\0CD\rZ", 5),
                              3,
                              {std::string("\0C", 2), "D"}}),
    name_of<GetsRow>);

TEST_F(SerialTest, GetsWithSizeOneReadsNothingWhateverThePort) {
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    device_.send("Z");
    for (const std::int32_t port : {kPort, kClosedPort, 16, -1}) {
        SCOPED_TRACE("port " + std::to_string(port));
        char buf[1] = {'j'};
        EXPECT_EQ(serial_gets(port, buf, 1, 1), SERIAL_OK);
        EXPECT_EQ(buf[0], '\0');
    }
    EXPECT_EQ(serial_getc(kPort), 'Z');
}

struct RetriesRow {
    std::string name;
    std::int32_t retries;
    int min_ms, max_ms; // time of the whole call, at 0.2 s per time-out
};

using GetsRetries = SerialTableTest<RetriesRow>;

TEST_P(GetsRetries, GiveUpAfterThatManyTimeOutsInARow) {
    const RetriesRow& row = GetParam();
    ASSERT_EQ(open_8n1(kPort, 2), SERIAL_OK);
    device_.send("A");
    ASSERT_TRUE(wait_readable(device_));
    char buf[16];
    std::int32_t result = 0;
    const milliseconds took =
        time_of([&] { result = serial_gets(kPort, buf, sizeof buf, row.retries); });
    EXPECT_EQ(result, SERIAL_NO_DATA);
    EXPECT_STREQ(buf, "A");
    EXPECT_GE(took.count(), row.min_ms);
    EXPECT_LE(took.count(), row.max_ms);
}

INSTANTIATE_TEST_SUITE_P(Serial, GetsRetries,
                         ::testing::Values(RetriesRow{"three", 3, 550, 1500},
                                           RetriesRow{"one", 1, 150, 390},
                                           RetriesRow{"zero still reads once", 0, 150, 390},
                                           RetriesRow{"negative still reads once", -2, 150, 390}),
                         name_of<RetriesRow>);

// ---- writing ---------------------------------------------------------------

struct PutsRow {
    std::string name;
    std::string text;
    std::int32_t line_end;
    std::int32_t result;
    std::string sent;
};

using Puts = SerialTableTest<PutsRow>;

// A marker byte written after each case shows nothing else went out.
TEST_P(Puts, SendsTextAndLineEnd) {
    const PutsRow& row = GetParam();
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    EXPECT_EQ(serial_puts(kPort, row.text.c_str(), row.line_end), row.result);
    ASSERT_EQ(serial_putc(kPort, '#'), SERIAL_OK);
    const std::string expected = row.sent + "#";
    EXPECT_EQ(device_.receive(expected.size(), kWait), expected);
}

const std::string kLongest(SERIAL_TEXT_MAX, 'x');
const std::string kOverlong(SERIAL_TEXT_MAX + 1, 'x');

INSTANTIATE_TEST_SUITE_P(
    Serial, Puts,
    ::testing::Values(PutsRow{"none", "abc", LINE_END_NONE, SERIAL_OK, "abc"},
                      PutsRow{"cr", "abc", LINE_END_CR, SERIAL_OK, "abc\r"},
                      PutsRow{"lf", "abc", LINE_END_LF, SERIAL_OK, "abc\n"},
                      PutsRow{"crlf", "abc", LINE_END_CRLF, SERIAL_OK, "abc\r\n"},
                      PutsRow{"lfcr", "abc", LINE_END_LFCR, SERIAL_OK, "abc\n\r"},
                      PutsRow{"unknown line end 5", "abc", 5, SERIAL_OK, "abc"},
                      PutsRow{"unknown line end -1", "abc", -1, SERIAL_OK, "abc"},
                      PutsRow{"empty text", "", LINE_END_NONE, SERIAL_OK, ""},
                      PutsRow{"empty text and cr", "", LINE_END_CR, SERIAL_OK, "\r"},
                      PutsRow{"longest text", kLongest, LINE_END_CRLF, SERIAL_OK,
                              kLongest + "\r\n"},
                      PutsRow{"overlong text", kOverlong, LINE_END_NONE, SERIAL_TOO_LONG, ""}),
    name_of<PutsRow>);

TEST_F(SerialTest, PutcSendsTheLowEightBits) {
    ASSERT_EQ(open_8n1(kPort), SERIAL_OK);
    EXPECT_EQ(serial_putc(kPort, 0x141), SERIAL_OK);
    EXPECT_EQ(serial_putc(kPort, 0), SERIAL_OK);
    EXPECT_EQ(serial_putc(kPort, 0xE9), SERIAL_OK);
    EXPECT_EQ(device_.receive(3, kWait), std::string("A\0\xE9", 3));
}

} // namespace
