#include "device_link.h"

#include <chrono>

#include "serial.h"
#include "user_output.h"

namespace {

using Clock = std::chrono::steady_clock;

// Long enough for any device that is running to have answered the start.
constexpr std::chrono::seconds NOTICE_AFTER(3);

// The run's patience, and whether the device has said anything at all yet
// or been noticed as silent: one run per process.
Patience run_patience;
bool heard = false;
bool noticed = false;

// Called at each read time-out; `silent` is how long this read has waited.
void bear_silence(Clock::duration silent) {
    if (run_patience.timeout_seconds > 0 &&
        silent >= std::chrono::seconds(run_patience.timeout_seconds)) {
        throw LinkLost(LinkLost::Cause::no_answer);
    }
    if (run_patience.notice && !heard && !noticed && silent >= NOTICE_AFTER) {
        noticed = true;
        tell_user("nothing from the device on " + run_patience.port_name +
                  " yet; still waiting (Ctrl-C to stop)");
    }
}

} // namespace

void set_patience(const Patience& patience) {
    run_patience = patience;
    heard = false;
    noticed = false;
}

int next_byte(int port) {
    const auto start = Clock::now();
    for (;;) {
        const std::int32_t result = serial_getc(port);
        if (result >= 0) {
            heard = true;
            return result;
        }
        if (result != SERIAL_NO_DATA) {
            throw LinkLost();
        }
        bear_silence(Clock::now() - start);
    }
}

DeviceString receive_string(int port, std::size_t keep) {
    DeviceString received;
    receive_string(port, keep, received);
    return received;
}

void receive_string(int port, std::size_t keep, DeviceString& received) {
    for (int byte = next_byte(port); byte != 0; byte = next_byte(port)) {
        if (received.bytes.size() < keep) {
            received.bytes.push_back(static_cast<char>(byte));
        } else {
            ++received.cut;
        }
    }
}

void send_byte(int port, unsigned char byte) {
    if (serial_putc(port, byte) < 0) {
        throw LinkLost();
    }
}

void send_text(int port, const DeviceText& text, std::int32_t line_end) {
    if (serial_puts(port, text.codes().c_str(), line_end) < 0) {
        throw LinkLost();
    }
}

void send_start_sequence(int port, char start_byte, const DeviceText& program_name) {
    send_byte(port, static_cast<unsigned char>(start_byte));
    send_text(port, program_name, LINE_END_NONE);
    send_byte(port, 0);
}
