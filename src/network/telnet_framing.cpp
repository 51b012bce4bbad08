#include "telnet_framing.h"

#include <new>

#include <libtelnet.h>

namespace {

// What we agree to: BINARY and SGA both ways; COM-PORT from our side only
// (the client sends the commands, RFC 2217). Anything else is refused.
const telnet_telopt_t OPTIONS[] = {
    {TELNET_TELOPT_BINARY, TELNET_WILL, TELNET_DO},
    {TELNET_TELOPT_SGA, TELNET_WILL, TELNET_DO},
    {TELOPT_COM_PORT, TELNET_WILL, TELNET_DONT},
    {-1, 0, 0},
};

} // namespace

TelnetFraming::TelnetFraming() : telnet_(telnet_init(OPTIONS, on_event, 0, this)) {
    if (telnet_ == nullptr) {
        throw std::bad_alloc();
    }
}

TelnetFraming::~TelnetFraming() { telnet_free(telnet_); }

void TelnetFraming::offer_options() {
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_BINARY);
    telnet_negotiate(telnet_, TELNET_WILL, TELNET_TELOPT_SGA);
    telnet_negotiate(telnet_, TELNET_DO, TELNET_TELOPT_SGA);
    telnet_negotiate(telnet_, TELNET_WILL, TELOPT_COM_PORT);
}

void TelnetFraming::send_data(const char* data, std::size_t size) {
    telnet_send(telnet_, data, size);
}

void TelnetFraming::send_com_port(const std::string& body) {
    telnet_subnegotiation(telnet_, static_cast<char>(TELOPT_COM_PORT), body.data(), body.size());
}

void TelnetFraming::receive(const char* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        watch_for_refusal(static_cast<unsigned char>(data[i]));
    }
    telnet_recv(telnet_, data, size);
}

// libtelnet takes a refusal of an option we asked for (WANTYES to NO, RFC
// 1143) without any event, so IAC WONT BINARY and IAC DONT BINARY are
// looked for here. IAC IAC is a data byte, never the start of a command.
void TelnetFraming::watch_for_refusal(unsigned char byte) {
    switch (refusal_scan_) {
    case Scan::after_iac:
        refusal_scan_ =
            byte == TELNET_WONT || byte == TELNET_DONT ? Scan::after_refusal : Scan::data;
        break;
    case Scan::after_refusal:
        binary_refused_ = binary_refused_ || byte == TELNET_TELOPT_BINARY;
        refusal_scan_ = Scan::data;
        break;
    case Scan::data: refusal_scan_ = byte == TELNET_IAC ? Scan::after_iac : Scan::data; break;
    }
}

void TelnetFraming::on_event(telnet_t*, telnet_event_t* event, void* self) {
    static_cast<TelnetFraming*>(self)->handle(*event);
}

void TelnetFraming::handle(const telnet_event_t& event) {
    switch (event.type) {
    case TELNET_EV_SEND: wire_out_.append(event.data.buffer, event.data.size); break;
    case TELNET_EV_DATA: device_data_.append(event.data.buffer, event.data.size); break;
    case TELNET_EV_DO:
        binary_ours_ = binary_ours_ || event.neg.telopt == TELNET_TELOPT_BINARY;
        com_port_ = com_port_ || event.neg.telopt == TELOPT_COM_PORT;
        break;
    case TELNET_EV_WILL:
        binary_theirs_ = binary_theirs_ || event.neg.telopt == TELNET_TELOPT_BINARY;
        break;
    case TELNET_EV_SUBNEGOTIATION:
        if (event.sub.telopt == TELOPT_COM_PORT) {
            com_port_heard_ = true;
            if (const auto answer =
                    read_com_port_answer(std::string(event.sub.buffer, event.sub.size))) {
                answers_.push_back(*answer);
            }
        }
        break;
    case TELNET_EV_ERROR: broken_ = true; break;
    default: break;
    }
}
