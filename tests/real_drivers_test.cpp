// lorvrc on the kernel's own serial drivers: a QEMU guest (TCG) runs the
// static tool on its 16550 (ttyS1, the 8250 driver) and on an FTDI adapter
// behind xHCI (ttyUSB0, ftdi_sio); this test plays the device at the host
// end of each line and checks every byte. real_drivers_guest.sh boots the
// guest once and hands over its sockets; the rows run in order, each a
// command sent on the guest's console, which answers
// "@@ <status> <CPU seconds> x<stdout in hex> x<stderr in hex>".
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using std::string_literals::operator""s;

// '<' lorvrc must send these bytes next; '>' the device sends them; '~'
// lorvrc stays silent for two seconds; '!' a command to QEMU's monitor
// (device_del unplugs the adapter, device_add plugs it in again).
struct Step {
    char kind;
    std::string bytes;
};

struct Row {
    const char* what;
    std::string command; // run by the guest's shell beside the init's files
    bool on_usb;         // the device plays on the adapter's line, else on the 16550's
    std::vector<Step> talk;
    std::string stderr_text;
    int status;
    std::string stdout_text = {};
    // The states DTR and RTS of the 16550 went through, as QEMU saw them:
    // "DR" both up, "dR" RTS alone, "dr" both down. Not checked when empty.
    std::string modem = {};
};

// The file reply for `text`: each line ended by CR, the piece after the
// last line feed too. The files hold only characters the table keeps.
std::string reply(std::string text) {
    std::ranges::replace(text, '\n', '\r');
    return "O" + text + "\r" + '\0';
}

// The init's numbered files of 32-byte lines: big.app and huge.app.
std::string numbered(int lines) {
    std::string text;
    for (int i = 1; i <= lines; ++i) {
        char line[40];
        text.append(line, std::snprintf(line, sizeof line, "%05d ABCDEFGHIJKLMNOPQRSTUVWXY\n", i));
    }
    return text;
}

const std::string BIG = reply(numbered(512));                          // 16 KiB
const std::string HUGE_START = reply(numbered(4096)).substr(0, 65536); // of 3 MiB
// Control bytes the line must pass untouched: no signals, no flow control,
// no CR/LF mapping, no erase.
const std::string CONTROLS = "\x01\x03\x04\x11\x13\x1a\x1b[1m\r\n\x7f\xff end"s;
const std::string BY_ID = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_1-0000:00:03.0-1-if00-port0";
const std::string LOST = "lorvrc: lost the connection on /dev/ttyUSB0\n";

// A table reads best with a row to a few lines.
// clang-format off
std::vector<Step> whole_session(const std::string& start) {
    return {{'<', start}, {'>', "Mprog\0"s}, {'<', reply("10 PRINT \"HI\"\n20 END\n")}, {'>', "Iinc\0"s},
            {'<', "E"}, {'>', "T" + CONTROLS + '\0' + "Abig\0"s}, {'<', BIG}, {'>', "O"}};
}

const Row ROWS[] = {
    {"a whole session on the 16550", "lorvrc prog 1", false, whole_session("Cprog\0"s), CONTROLS, 0},
    {"a whole session on the adapter", "lorvrc -t prog ttyUSB0", true, whole_session("Tprog\0"s),
     CONTROLS, 0},
    {"the line settings, read by a second process while lorvrc runs",
     "lorvrc prog 1 & sleep 1; kill -0 $! && stty -F /dev/ttyS1 -a 2>/dev/null | tr ' ;' '\\n\\n' | "
     "grep -xE '38400|-?(parenb|cs8|cstopb|clocal|istrip|icrnl|ixon|opost|isig|icanon|iexten|echo)'; "
     "wait $!", false, {{'<', "Cprog\0"s}, {'~', ""}, {'>', "O"}}, "", 0,
     "38400\n-parenb\ncs8\n-cstopb\nclocal\n-istrip\n-icrnl\n-ixon\n-opost\n-isig\n-icanon\n-iexten\n-echo\n"},
    {"a ttyS port with no UART behind it", "lorvrc prog 3", false, {}, "lorvrc: cannot open "
     "/dev/ttyS3: Input/output error (no serial hardware answers at this port; ports with hardware "
     "here: /dev/ttyS1, 16550A; /dev/ttyUSB0, QEMU QEMU USB SERIAL; use one with: lorvrc prog "
     "ttyS1)\n", 1}, // ttyS0 is the guest's console: never suggested, marked in the list
    {"--list on the guest's sysfs, with a by-id link made as udev would", "lorvrc --list", false,
     {}, "", 0, "/dev/ttyS0  serial  16550A  console\n/dev/ttyS1  serial  16550A\n/dev/ttyUSB0  ftdi_sio  "
     "0403:6001  QEMU QEMU USB SERIAL  serial 1-0000:00:03.0-1\n  " + BY_ID + "\n"},
    {"a session on the adapter by its by-id name", "lorvrc prog " + BY_ID, true,
     {{'<', "Cprog\0"s}, {'>', "O"}}, "", 0},
    {"the adapter unplugged while lorvrc waits", "lorvrc prog ttyUSB0", true,
     {{'<', "Cprog\0"s}, {'~', ""}, {'!', "device_del ftdi"}}, LOST, 1},
    {"the adapter unplugged while lorvrc sends a large file", "await /dev/ttyUSB0; lorvrc prog "
     "ttyUSB0", true, {{'!', "device_add usb-serial,id=ftdi,bus=xhci.0,chardev=usb"},
     {'<', "Cprog\0"s}, {'>', "Ahuge\0"s}, {'<', HUGE_START}, {'!', "device_del ftdi"}}, LOST, 1},
    // The open sets the register with both lines down, then raises them;
    // the options lower them at once, and without HUPCL the close leaves
    // them up.
    {"--dtr=off --rts=off after the open", "lorvrc --dtr=off --rts=off prog 1", false,
     {{'<', "Cprog\0"s}, {'>', "O"}}, "", 0, "", "dr DR dR dr"},
    {"no drop at the close with --no-hangup", "lorvrc --no-hangup prog 1", false,
     {{'<', "Cprog\0"s}, {'>', "O"}}, "", 0, "", "dr DR"},
};
// clang-format on

int connect_to(const char* name) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    const char* dir = std::getenv("REAL_DRIVERS_SOCKETS");
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s/%s", dir ? dir : ".", name);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    return connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 ? fd : -1;
}

const int CONSOLE = connect_to("console"), UART = connect_to("uart"), USB = connect_to("usb"),
          MONITOR = connect_to("monitor");

// Adds to `into` at most `most` bytes that come on `fd` within `wait`;
// false once the far end closed.
bool read_some(int fd, std::string& into, milliseconds wait, std::size_t most = 65536) {
    pollfd p{fd, POLLIN, 0};
    char buffer[65536];
    if (poll(&p, 1, static_cast<int>(wait.count())) <= 0) {
        return true;
    }
    const ssize_t n = read(fd, buffer, std::min(most, sizeof buffer));
    into.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    return n > 0;
}

void send_all(int fd, const std::string& bytes) {
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        ASSERT_GT(n, 0) << "QEMU closed a socket";
        done += static_cast<std::size_t>(n);
    }
}

// The console's next line holding `marker`, while the device's lines are
// drained (QEMU stalls on a full socket); empty at the deadline.
std::string console_line(const std::string& marker, milliseconds timeout) {
    static std::string console;
    std::string drained;
    for (const auto deadline = Clock::now() + timeout; Clock::now() < deadline;) {
        const std::size_t at = console.find(marker), end = console.find('\n', at);
        if (at != std::string::npos && end != std::string::npos) {
            std::string line = console.substr(at, end - at);
            console.erase(0, end + 1);
            return line;
        }
        read_some(CONSOLE, console, milliseconds(10));
        read_some(UART, drained, milliseconds(0));
        read_some(USB, drained, milliseconds(0));
    }
    std::printf("the console so far:\n%s\n", console.c_str());
    return "";
}

std::string unhex(const std::string& hex) { // after the leading 'x'
    std::string bytes;
    for (std::size_t i = 1; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// The states of DTR and RTS in the 16550's modem control register (offset
// 4: bit 0 DTR, bit 1 RTS), each change once, from the writes QEMU traced
// after the first `from` bytes of its trace; `from` moves past them.
std::string modem_lines(std::size_t& from) {
    std::ifstream trace(std::string(std::getenv("REAL_DRIVERS_SOCKETS")) + "/trace");
    trace.seekg(static_cast<std::streamoff>(from));
    std::string states;
    for (std::string line; std::getline(trace, line) && !trace.eof();) {
        from += line.size() + 1;
        const std::size_t at = line.find("addr 0x04 val 0x");
        const int mcr =
            at == std::string::npos ? -1 : std::stoi(line.substr(at + 16, 2), nullptr, 16);
        const std::string state = {mcr & 1 ? 'D' : 'd', mcr & 2 ? 'R' : 'r'};
        if (mcr >= 0 && !states.ends_with(state)) {
            states += (states.empty() ? "" : " ") + state;
        }
    }
    return states;
}

void play(const Row& row) {
    static std::size_t traced = 0;
    modem_lines(traced);
    const int line = row.on_usb ? USB : UART;
    auto last_step = Clock::now();
    send_all(CONSOLE, row.command + "\n");
    for (const Step& step : row.talk) {
        last_step = Clock::now();
        const std::size_t want = step.kind == '~' ? 1 : step.bytes.size();
        std::string got;
        while ((step.kind == '<' || step.kind == '~') && got.size() < want &&
               Clock::now() < last_step + milliseconds(step.kind == '~' ? 2000 : 30000) &&
               read_some(line, got, milliseconds(10), want - got.size())) {
        }
        EXPECT_TRUE(got == (step.kind == '<' ? step.bytes : ""))
            << "lorvrc sent " << got.size() << " bytes";
        if (step.kind == '>') {
            send_all(line, step.bytes);
        } else if (step.kind == '!') {
            send_all(MONITOR, step.bytes + "\n");
        }
    }
    std::istringstream answer(console_line("@@ ", milliseconds(60000)));
    int status = -1;
    double cpu = 0;
    std::string marker, out, err;
    answer >> marker >> status >> cpu >> out >> err;
    const double after = std::chrono::duration<double>(Clock::now() - last_step).count();
    std::printf("%-66s status %d, %.2f s CPU, %.2f s after its last step\n", row.what, status, cpu,
                after);
    EXPECT_EQ(status, row.status);
    EXPECT_EQ(unhex(err), row.stderr_text);
    EXPECT_EQ(unhex(out), row.stdout_text);
    if (!row.modem.empty()) {
        EXPECT_EQ(modem_lines(traced), row.modem);
    }
    // Waiting costs a wake-up a second; an unplug ends the run at once.
    if (std::ranges::any_of(row.talk, [](const Step& step) { return step.kind == '~'; })) {
        EXPECT_LT(cpu, 0.3);
    }
    if (!row.talk.empty() && row.talk.back().kind == '!') {
        EXPECT_LT(after, 1.0);
    }
}

TEST(RealDrivers, RowsInOneBoot) {
    ASSERT_TRUE(CONSOLE >= 0 && UART >= 0 && USB >= 0 && MONITOR >= 0) << "no QEMU sockets";
    const auto started = Clock::now();
    ASSERT_NE(console_line("@@ ready", milliseconds(120000)), "");
    std::printf("ready %.1f s after the test started\n",
                std::chrono::duration<double>(Clock::now() - started).count());
    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.what);
        play(row);
    }
}

} // namespace
