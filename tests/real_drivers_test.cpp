// lorvrc on the kernel's own serial drivers: a QEMU guest (TCG) runs the
// static tool on its 16550 (ttyS1, the 8250 driver) and on an FTDI adapter
// behind xHCI (ttyUSB0, ftdi_sio); this test plays the device at the host
// end of each line and checks every byte. One boot serves all rows, in
// order: the guest's init (real_drivers_guest.sh, which also builds the
// initramfs and starts this test) runs each row's command as it is sent on
// the console and answers with the status, CPU time and output.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#include "device_session.h"

using namespace testing_support;
using std::string_literals::operator""s;
using Clock = std::chrono::steady_clock;

namespace {

// '<' lorvrc must send these bytes next; '>' the device sends them; '~'
// lorvrc stays silent for two seconds; '!' a command to QEMU's monitor
// (device_del unplugs the adapter, device_add plugs it in again).
struct Step {
    char kind;
    std::string bytes;
};

struct Row {
    const char* what;
    std::string command; // a guest shell command, run in a folder holding the init's files
    bool on_usb;         // the device plays on the adapter's line, else on the 16550's
    std::vector<Step> talk;
    std::string stderr_text;
    int status;
    std::string stdout_text = {};
};

// The file reply for `text`: each line ended by CR, the piece after the
// last line feed too. The files hold only characters the table keeps.
std::string reply(std::string text) {
    std::replace(text.begin(), text.end(), '\n', '\r');
    return "O" + text + "\r" + '\0';
}

// The init's numbered files: big.app (16 KiB) and huge.app (4 MiB).
std::string numbered(int lines, const char* format) {
    std::string text;
    char line[64];
    for (int i = 1; i <= lines; ++i) {
        text += std::string(line, std::snprintf(line, sizeof line, format, i));
    }
    return text;
}

const std::string PROG = reply("10 PRINT \"HI\"\n20 END\n");
const std::string BIG = reply(numbered(512, "%04d ABCDEFGHIJKLMNOPQRSTUVWXYZ\n"));
const std::string HUGE_START =
    reply(numbered(131072, "%06d ABCDEFGHIJKLMNOPQRSTUVWX\n")).substr(0, 65536);
// Control bytes the line must pass untouched: no signals, no flow control,
// no CR/LF mapping, no erase.
const std::string CONTROLS = "\x01\x03\x04\x11\x13\x1a\x1b[1m\r\n\x7f\xff end"s;
const std::string BY_ID = "/dev/serial/by-id/usb-QEMU_QEMU_USB_SERIAL_1-0000:00:03.0-1-if00-port0";
const std::string LOST = "lorvrc: lost the connection on /dev/ttyUSB0\n";

std::vector<Step> whole_session(const std::string& start) {
    return {{'<', start},     {'>', "Mprog\0"s}, {'<', PROG},
            {'>', "Iinc\0"s}, {'<', "E"},        {'>', "T" + CONTROLS + '\0' + "Abig\0"s},
            {'<', BIG},       {'>', "O"}};
}

const Row ROWS[] = {
    {"a whole session on the 16550", "lorvrc prog 1", false, whole_session("Cprog\0"s), CONTROLS,
     0},
    {"a whole session on the adapter", "lorvrc -t prog ttyUSB0", true, whole_session("Tprog\0"s),
     CONTROLS, 0},
    {"a second process reads the line settings lorvrc made",
     "lorvrc prog 1 & sleep 1; kill -0 $! && stty -F /dev/ttyS1 -a 2>/dev/null | tr ' ;' '\\n\\n' "
     "| grep -x -E "
     "'38400|-?(parenb|cs8|cstopb|clocal|istrip|icrnl|ixon|opost|isig|icanon|iexten|echo)'; "
     "wait $!",
     false,
     {{'<', "Cprog\0"s}, {'~', ""}, {'>', "O"}},
     "",
     0,
     "38400\n-parenb\ncs8\n-cstopb\nclocal\n-istrip\n-icrnl\n-ixon\n-opost\n-isig\n-icanon\n"
     "-iexten\n-echo\n"},
    {"a ttyS port with no UART behind it",
     "lorvrc prog 3",
     false,
     {},
     "lorvrc: cannot open /dev/ttyS3: Input/output error (no serial hardware answers at this "
     "port; lorvrc --list shows the ports that have some)\n",
     1},
    {"--list on the guest's sysfs, with a by-id link made as udev would",
     "lorvrc --list",
     false,
     {},
     "",
     0,
     "/dev/ttyS0  serial  16550A\n/dev/ttyS1  serial  16550A\n/dev/ttyUSB0  ftdi_sio  0403:6001"
     "  QEMU QEMU USB SERIAL  serial 1-0000:00:03.0-1\n  " +
         BY_ID + "\n"},
    {"a session on the adapter by its by-id name",
     "lorvrc prog " + BY_ID,
     true,
     {{'<', "Cprog\0"s}, {'>', "O"}},
     "",
     0},
    {"the adapter unplugged while lorvrc waits",
     "lorvrc prog ttyUSB0",
     true,
     {{'<', "Cprog\0"s}, {'~', ""}, {'!', "device_del ftdi"}},
     LOST,
     1},
    {"the adapter unplugged while lorvrc sends a large file",
     "await /dev/ttyUSB0; lorvrc prog ttyUSB0",
     true,
     {{'!', "device_add usb-serial,id=ftdi,bus=xhci.0,chardev=usb"},
      {'<', "Cprog\0"s},
      {'>', "Ahuge\0"s},
      {'<', HUGE_START},
      {'!', "device_del ftdi"}},
     LOST,
     1},
    // DTR and RTS (--dtr, --rts, --no-hangup) go here once the tool has
    // them: QEMU's "-trace serial_write,file=<dir>/uart.trace" logs every
    // write to the 16550's registers, the modem control register (offset
    // 4: bit 0 DTR, bit 1 RTS) among them, so a row can check each edge.
};

int connect_to(const std::string& path, Clock::time_point deadline) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    while (Clock::now() < deadline) {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
            return fd;
        }
        close(fd);
        std::this_thread::sleep_for(milliseconds(20));
    }
    return -1;
}

// Adds to `into` up to `most` bytes that come on `fd` within `wait`; false
// once the far end closed.
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
        ASSERT_GT(n, 0) << "the line's socket closed";
        done += static_cast<std::size_t>(n);
    }
}

std::string unhex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 1; i + 1 < hex.size(); i += 2) { // after the leading 'x'
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

struct Outcome {
    std::vector<std::string> talk; // lorvrc's turns, as read
    int status = -1;
    double cpu_seconds = 0;
    std::string stdout_text, stderr_text;
    double seconds_after_unplug = 0; // from the last monitor command to the answer
};

class Machine {
  public:
    explicit Machine(const std::string& dir)
        : qemu_("/usr/bin/env", {"qemu-system-x86_64",
                                 "-accel",
                                 "tcg",
                                 "-m",
                                 "256",
                                 "-nographic",
                                 "-no-reboot",
                                 "-nic",
                                 "none",
                                 "-kernel",
                                 env("KERNEL"),
                                 "-initrd",
                                 env("INITRAMFS"),
                                 "-append",
                                 "console=ttyS0 8250.nr_uarts=4 panic=-1 quiet",
                                 "-serial",
                                 "unix:" + dir + "/console,server=on,wait=off",
                                 "-chardev",
                                 "socket,id=uart,path=" + dir + "/uart,server=on,wait=off",
                                 "-serial",
                                 "chardev:uart",
                                 "-chardev",
                                 "socket,id=usb,path=" + dir + "/usb,server=on,wait=off",
                                 "-device",
                                 "qemu-xhci,id=xhci,addr=3",
                                 "-device",
                                 "usb-serial,id=ftdi,bus=xhci.0,chardev=usb",
                                 "-monitor",
                                 "unix:" + dir + "/monitor,server=on,wait=off"}) {
        const auto deadline = Clock::now() + std::chrono::seconds(10);
        for (const char* name : {"console", "uart", "usb", "monitor"}) {
            fds_.push_back(connect_to(dir + "/" + name, deadline));
        }
    }
    ~Machine() {
        for (const int fd : fds_) {
            close(fd);
        }
    }

    bool ok() const { return fds_.back() >= 0; }
    int line(bool usb) const { return fds_[usb ? 2 : 1]; }

    // The console's text through `marker` and the end of its line, while
    // the device's lines are drained; empty at the deadline.
    std::string until(const std::string& marker, Clock::time_point deadline) {
        std::string drained;
        while (Clock::now() < deadline) {
            const std::size_t at = console_.find(marker);
            const std::size_t end = console_.find('\n', at);
            if (at != std::string::npos && end != std::string::npos) {
                std::string text = console_.substr(0, end + 1);
                console_.erase(0, end + 1);
                return text;
            }
            read_some(fds_[0], console_, milliseconds(10));
            read_some(fds_[1], drained, milliseconds(0));
            read_some(fds_[2], drained, milliseconds(0));
        }
        std::printf("console so far:\n%s\n", console_.c_str());
        return "";
    }

    void run(const std::string& command) { send_all(fds_[0], command + "\n"); }
    void monitor(const std::string& command) { send_all(fds_[3], command + "\n"); }

  private:
    static std::string env(const char* name) {
        const char* value = std::getenv(("REAL_DRIVERS_"s + name).c_str());
        return value != nullptr ? value : "";
    }

    ToolProcess qemu_; // killed with the machine
    std::vector<int> fds_;
    std::string console_;
};

Outcome play(Machine& machine, const Row& row) {
    Outcome got;
    const int line = machine.line(row.on_usb);
    auto unplugged = Clock::now();
    machine.run(row.command);
    for (const Step& step : row.talk) {
        const auto deadline =
            Clock::now() + (step.kind == '~' ? milliseconds(2000) : milliseconds(30000));
        if (step.kind == '<' || step.kind == '~') {
            std::string bytes;
            const std::size_t want = step.kind == '~' ? 1 : step.bytes.size();
            while (bytes.size() < want && Clock::now() < deadline &&
                   read_some(line, bytes, milliseconds(10), want - bytes.size())) {
            }
            got.talk.push_back(bytes);
        } else if (step.kind == '>') {
            send_all(line, step.bytes);
        } else {
            machine.monitor(step.bytes);
            unplugged = Clock::now();
        }
    }
    std::istringstream answer(machine.until("@@ ", Clock::now() + std::chrono::seconds(60)));
    std::string marker, out, err;
    answer.ignore(1 << 20, '@') >> marker >> got.status >> got.cpu_seconds >> out >> err;
    got.seconds_after_unplug = std::chrono::duration<double>(Clock::now() - unplugged).count();
    got.stdout_text = unhex(out);
    got.stderr_text = unhex(err);
    return got;
}

TEST(RealDrivers, RowsInOneBoot) {
    TempDir dir;
    const auto started = Clock::now();
    Machine machine(dir.path());
    ASSERT_TRUE(machine.ok()) << "QEMU's sockets did not come up";
    ASSERT_NE(machine.until("@@ ready", started + std::chrono::seconds(120)), "");
    std::printf("booted in %.1f s\n",
                std::chrono::duration<double>(Clock::now() - started).count());
    for (const Row& row : ROWS) {
        SCOPED_TRACE(row.what);
        const Outcome got = play(machine, row);
        std::vector<std::string> turns;
        for (const Step& step : row.talk) {
            if (step.kind == '<' || step.kind == '~') {
                turns.push_back(step.bytes);
            }
        }
        EXPECT_TRUE(got.talk == turns) << "the bytes on the line differ";
        EXPECT_EQ(got.stderr_text, row.stderr_text);
        EXPECT_EQ(got.stdout_text, row.stdout_text);
        EXPECT_EQ(got.status, row.status);
        // Waiting costs a wake-up a second, an unplug ends the run at once.
        if (std::any_of(row.talk.begin(), row.talk.end(),
                        [](const Step& s) { return s.kind == '~'; })) {
            EXPECT_LT(got.cpu_seconds, 0.3);
        }
        if (!row.talk.empty() && row.talk.back().kind == '!') {
            EXPECT_LT(got.seconds_after_unplug, 1.0);
        }
        std::printf("%-60s status %d, %.2f s CPU, %.2f s after the last step\n", row.what,
                    got.status, got.cpu_seconds, got.seconds_after_unplug);
    }
}

} // namespace
