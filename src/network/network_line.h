// The device line over a TCP connection to a port served elsewhere: raw
// (the bytes as they are) or framed as telnet for an RFC 2217 server.
//
// Bytes written are gathered and sent together: when the data written
// ends a line (a carriage return), when 4 KiB are waiting, at the next
// read and at the close. One send per byte would put each byte in a
// segment of its own, since the socket has TCP_NODELAY.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "device_line.h"
#include "telnet_framing.h"

class NetworkLine final : public DeviceLine {
  public:
    using Clock = std::chrono::steady_clock;

    // Takes over the connected socket (see connect_tcp). Without framing
    // the line is raw TCP.
    NetworkLine(int fd, std::unique_ptr<TelnetFraming> framing);
    ~NetworkLine() override; // close()

    long read_byte() override;
    long write_some(const char* data, std::size_t size) override;
    // On RFC 2217 also asks the server to purge what it received from the
    // device and not yet sent; then drops what has arrived here.
    bool discard_input() override;
    // The device's bytes that arrived and were not read, after taking in
    // what is readable now.
    std::size_t input_waiting() override;

    // Sends what is waiting, then drops every byte of the device's that has
    // arrived or is readable now. False when the line is lost.
    bool drop_arrived();

    // The telnet framing, for setting the line up; null on raw TCP.
    TelnetFraming* framing() { return framing_.get(); }

    // Sends what is waiting and takes in what comes until done() holds or
    // the deadline passes. False when the connection ended meanwhile (what
    // came before the end has been taken in).
    bool exchange_until(const std::function<bool()>& done, Clock::time_point deadline);

    // The device's bytes taken in and not yet read.
    std::string unread() const;

    // The socket, for an ending signal's handler, which may only close it.
    int descriptor() const { return fd_; }

    // Sends what is gathered (waiting at most a second), tells the server
    // we are done (so that the last bytes are delivered, not cut off by a
    // reset), reads until it closes too or half a second passes, closes.
    // Idempotent.
    void close();

  private:
    std::string& outgoing();
    std::string& incoming();
    // One wait of at most until `deadline` for the socket, then one send
    // of what is waiting and one read of what came. False once lost.
    bool pump(Clock::time_point deadline);
    // Sends what can go now without waiting.
    void send_waiting();
    void drop_incoming();

    int fd_;
    std::unique_ptr<TelnetFraming> framing_;
    std::string raw_out_;
    std::string raw_in_;
    std::size_t in_read_ = 0; // how much of incoming() was read already
    bool lost_ = false;
};
