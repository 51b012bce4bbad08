#include "ser2net_server.h"

#include <csignal>
#include <fstream>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "pty_device.h"
#include "timing.h"

namespace testing_support {

namespace {

// Whether something listens on 127.0.0.1:port, as the kernel lists it
// (without connecting, which would open the device).
bool listening(int port) {
    std::ifstream table("/proc/net/tcp");
    char wanted[32];
    std::snprintf(wanted, sizeof wanted, "0100007F:%04X 00000000:0000 0A", port);
    for (std::string line; std::getline(table, line);) {
        if (line.find(wanted) != std::string::npos) {
            return true;
        }
    }
    return false;
}

} // namespace

std::string ser2net_program() {
    for (const char* path : {"/usr/sbin/ser2net", "/usr/bin/ser2net", "/usr/local/sbin/ser2net"}) {
        if (access(path, X_OK) == 0) {
            return path;
        }
    }
    return "";
}

int listen_on_free_port(int& port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    bind(fd, reinterpret_cast<sockaddr*>(&address), size);
    listen(fd, 1);
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
    return fd;
}

int free_port() {
    int port = 0;
    close(listen_on_free_port(port));
    return port;
}

std::string local_url(const char* scheme, int port) {
    return std::string(scheme) + "://127.0.0.1:" + std::to_string(port);
}

bool Ser2net::start() {
    const auto device = [](int port) {
        return "\n  connector: serialdev," + port_path(port) + ",9600n81,local\n";
    };
    const std::string config = dir_.write_file(
        "ser2net.yaml", "connection: &rfc2217\n  accepter: telnet(rfc2217),tcp,127.0.0.1," +
                            std::to_string(rfc_port_) + device(device_port_) +
                            "connection: &raw\n  accepter: tcp,127.0.0.1," +
                            std::to_string(raw_port_) + device(device_port_ + 1));
    // -n: in the foreground; -u: no UUCP lock files, which the test user
    // may not be allowed to make.
    process_ = std::make_unique<ToolProcess>(
        ser2net_program(),
        std::vector<std::string>{"-n", "-u", "-c", config, "-P", dir_.path() + "/pid"});
    return wait_until([this] { return listening(rfc_port_) && listening(raw_port_); }, DEADLINE);
}

void Ser2net::stop() {
    kill(process_->pid(), SIGTERM);
    process_->wait(DEADLINE);
}

} // namespace testing_support
