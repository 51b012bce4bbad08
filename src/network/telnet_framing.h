// Telnet framing as lorvrc speaks it to an RFC 2217 server, over libtelnet
// (which negotiates options as RFC 1143 describes and does no I/O): data
// in and out with every 0xFF doubled on the wire, options asked for and
// answered, COM-PORT sub-negotiations sent and their answers collected.
// The caller moves the bytes: what is to be sent collects in wire_out(),
// what the device sent in device_data().
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "com_port.h"

struct telnet_t;
union telnet_event_t;

class TelnetFraming {
  public:
    TelnetFraming();
    ~TelnetFraming();
    TelnetFraming(const TelnetFraming&) = delete;
    TelnetFraming& operator=(const TelnetFraming&) = delete;

    // Asks for BINARY in both directions and SGA in both, and offers
    // COM-PORT. Options the server offers that are not these are refused.
    void offer_options();

    // Frames data from the session for the device (IAC doubled).
    void send_data(const char* data, std::size_t size);

    // Frames IAC SB COM-PORT <body> IAC SE (see com_port_request).
    void send_com_port(const std::string& body);

    // Takes bytes as they came from the server, in any pieces: the
    // device's data goes to device_data(), commands and sub-negotiations
    // never do; answers the negotiation is owed go to wire_out().
    void receive(const char* data, std::size_t size);

    // Bytes for the server, in order; the caller removes what it sent.
    std::string& wire_out() { return wire_out_; }
    // The device's bytes, unescaped; the caller removes what it used.
    std::string& device_data() { return device_data_; }
    // COM-PORT answers in the order they came; the caller removes them.
    std::vector<ComPortAnswer>& com_port_answers() { return answers_; }

    // The server agreed to binary both ways / to COM-PORT.
    bool binary_agreed() const { return binary_ours_ && binary_theirs_; }
    bool com_port_agreed() const { return com_port_; }
    // The server refused binary in either direction.
    bool binary_refused() const { return binary_refused_; }
    // The server has sent a COM-PORT sub-negotiation of any kind.
    bool com_port_heard() const { return com_port_heard_; }
    // The stream broke telnet's rules (not a telnet server).
    bool broken() const { return broken_; }

  private:
    static void on_event(telnet_t* telnet, telnet_event_t* event, void* self);
    void handle(const telnet_event_t& event);
    void watch_for_refusal(unsigned char byte);

    telnet_t* telnet_ = nullptr;
    std::string wire_out_;
    std::string device_data_;
    std::vector<ComPortAnswer> answers_;
    bool binary_ours_ = false;
    bool binary_theirs_ = false;
    bool binary_refused_ = false;
    bool com_port_ = false;
    bool com_port_heard_ = false;
    bool broken_ = false;
    enum class Scan { data, after_iac, after_refusal } refusal_scan_ = Scan::data;
};
