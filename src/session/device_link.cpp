#include "device_link.h"

#include <chrono>

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

[[noreturn]] void lose_line() { throw LinkLost(line_lost(run_patience.port_name)); }

// Whether `waited` has used up the time-out; 0 never does.
bool past_timeout(Clock::duration waited) {
    return run_patience.timeout_seconds > 0 &&
           waited >= std::chrono::seconds(run_patience.timeout_seconds);
}

std::string timeout_text() { return std::to_string(run_patience.timeout_seconds) + " s"; }

// Called at each read wait that brought nothing; `silent` is how long this
// read has waited.
void bear_silence(Clock::duration silent) {
    if (past_timeout(silent)) {
        throw LinkLost(
            {"no answer from the device on " + run_patience.port_name + " for " + timeout_text()});
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

int next_byte(DeviceLine& line) {
    const auto start = Clock::now();
    for (;;) {
        const long result = line.read_byte();
        if (result >= 0) {
            heard = true;
            return static_cast<int>(result);
        }
        if (result != LINE_NOTHING_YET) {
            lose_line();
        }
        bear_silence(Clock::now() - start);
    }
}

DeviceString receive_string(DeviceLine& line, std::size_t keep) {
    DeviceString received;
    receive_string(line, keep, received);
    return received;
}

void receive_string(DeviceLine& line, std::size_t keep, DeviceString& received) {
    for (int byte = next_byte(line); byte != 0; byte = next_byte(line)) {
        if (received.bytes.size() < keep) {
            received.bytes.push_back(static_cast<char>(byte));
        } else {
            ++received.cut;
        }
    }
}

void send_bytes(DeviceLine& line, const std::string& bytes) {
    std::size_t sent = 0;
    auto last_progress = Clock::now();
    while (sent < bytes.size()) {
        const long taken = line.write_some(bytes.data() + sent, bytes.size() - sent);
        if (taken < 0) {
            lose_line();
        }
        if (taken > 0) {
            sent += static_cast<std::size_t>(taken);
            last_progress = Clock::now();
        } else if (past_timeout(Clock::now() - last_progress)) {
            throw LinkLost({"the device on " + run_patience.port_name + " took nothing for " +
                            timeout_text()});
        }
    }
}

void send_byte(DeviceLine& line, unsigned char byte) {
    send_bytes(line, std::string(1, static_cast<char>(byte)));
}

void send_text(DeviceLine& line, const DeviceText& text, bool with_cr) {
    send_bytes(line, with_cr ? text.codes() + '\r' : text.codes());
}

void send_start_sequence(DeviceLine& line, char start_byte, const DeviceText& program_name) {
    send_byte(line, static_cast<unsigned char>(start_byte));
    send_text(line, program_name, false);
    send_byte(line, 0);
}
