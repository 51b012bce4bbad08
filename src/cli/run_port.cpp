#include "run_port.h"

#include <csignal>

#include "port_open.h"

namespace {

constexpr int ENDING_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

// The port the handler gives back; set and cleared with the signals held.
const PortChoice* held_port = nullptr;

extern "C" void release_and_reraise(int signal) {
    if (held_port != nullptr) {
        release_port(*held_port);
    }
    // SA_RESETHAND restored the default action: the signal, delivered when
    // the handler returns, ends the process as it would have.
    raise(signal);
}

sigset_t ending_signals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : ENDING_SIGNALS) {
        sigaddset(&set, signal);
    }
    return set;
}

// Holds the ending signals back while it lives; one that comes meanwhile
// is delivered when it ends.
class SignalsHeldBack {
  public:
    SignalsHeldBack() {
        const sigset_t set = ending_signals();
        sigprocmask(SIG_BLOCK, &set, &before_);
    }
    ~SignalsHeldBack() { sigprocmask(SIG_SETMASK, &before_, nullptr); }
    SignalsHeldBack(const SignalsHeldBack&) = delete;
    SignalsHeldBack& operator=(const SignalsHeldBack&) = delete;

  private:
    sigset_t before_{};
};

} // namespace

void install_signal_endings() {
    struct sigaction action {};
    action.sa_handler = release_and_reraise;
    action.sa_flags = SA_RESETHAND;
    action.sa_mask = ending_signals();
    for (const int signal : ENDING_SIGNALS) {
        struct sigaction old {};
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

Result<std::unique_ptr<DeviceLine>> take_port_for_run(const PortChoice& port,
                                                      const std::string& program_name,
                                                      const BoardLines& lines) {
    const SignalsHeldBack held_back;
    Result<std::unique_ptr<DeviceLine>> line = take_port(port, program_name, lines);
    if (line) {
        held_port = &port;
    }
    return line;
}

void release_port_for_run(const PortChoice& port) {
    const SignalsHeldBack held_back;
    held_port = nullptr;
    release_port(port);
}
