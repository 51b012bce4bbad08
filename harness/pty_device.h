// A pseudo-terminal standing in for a serial device: the tool (or the
// serial module) opens the slave side through a link named like a port,
// and the test plays the device on the master side.
#pragma once

#include <chrono>
#include <string>
#include <vector>

namespace testing_support {

using std::chrono::milliseconds;

// Root of the test build's own /dev, /sys and /run/lock: "<root>/dev",
// "<root>/sys", "<root>/run/lock". Tests make what they need below it.
std::string test_root();

// The path the test build of the tool opens for a port: "<dir>/ttyS<port>".
std::string port_path(int port);

// Points port_path(port) at `target` (any file); an empty target only
// removes the link. False when the link could not be made.
bool link_port(int port, const std::string& target);

class PtyDevice {
  public:
    PtyDevice();
    ~PtyDevice();
    PtyDevice(const PtyDevice&) = delete;
    PtyDevice& operator=(const PtyDevice&) = delete;

    bool ok() const { return master_ >= 0; }
    int master() const { return master_; }
    const std::string& slave_path() const { return slave_path_; }

    // Makes port_path(port) point at this pty's slave. The
    // link goes with the device: a stale one would point at whatever
    // terminal gets this pty's number next.
    void link_as_port(int port);

    // Sends bytes to whoever holds the slave.
    void send(const std::string& bytes) const;

    // Reads until `count` bytes have come or `timeout` has passed; returns
    // what came (with a timeout of 0, what had come already). Waits through
    // moments when no one holds the slave open.
    std::string receive(std::size_t count, milliseconds timeout) const;

    // Reads through the first 0 byte (included in the result), or until
    // `timeout` has passed.
    std::string receive_through_zero(milliseconds timeout) const;

    // Reads until no byte has come for `quiet`, or `timeout` has passed.
    std::string receive_until_quiet(milliseconds quiet, milliseconds timeout) const;

    // Closes the master side: the far end hangs up.
    void hang_up();

  private:
    int master_ = -1;
    std::string slave_path_;
    std::vector<std::string> links_;
};

} // namespace testing_support
