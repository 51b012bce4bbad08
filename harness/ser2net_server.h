// Debian's ser2net on 127.0.0.1, serving port links of the test build
// (which each run points at its own pseudo-terminal): one with RFC 2217,
// the next one raw, each on a free TCP port. Two links, so that a run on
// one form never finds the device still held by ser2net for the other
// ("Port's device already in use").
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "device_session.h"
#include "timing.h"
#include "tool_process.h"

namespace testing_support {

// The ser2net program, or "" when it is not installed.
std::string ser2net_program();

// A listening socket on 127.0.0.1 and a port that was free; its port in `port`.
int listen_on_free_port(int& port);
int free_port();

// "<scheme>://127.0.0.1:<port>".
std::string local_url(const char* scheme, int port);

class Ser2net {
  public:
    // RFC 2217 to port_path(device_port), raw to port_path(device_port + 1).
    explicit Ser2net(int device_port) : device_port_(device_port) {}

    // Starts ser2net and waits until both ports listen; false if they did
    // not within a few seconds.
    bool start();
    // Ends it by its pid (SIGTERM) and waits for it.
    void stop();

    std::string rfc2217() const { return local_url("rfc2217", rfc_port_); }
    std::string raw() const { return local_url("tcp", raw_port_); }

  private:
    int device_port_;
    int rfc_port_ = free_port();
    int raw_port_ = free_port();
    TempDir dir_;
    std::unique_ptr<ToolProcess> process_; // killed by pid at the end if still running
};

} // namespace testing_support
