#include "file_request.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device_charset.h"
#include "device_link.h"
#include "serial.h"
#include "source_lines.h"
#include "user_output.h"
#include "utf8_to_cp1252.h"

namespace {

// Enough of a line to convert and measure it: a Windows-1252 character
// takes at most three bytes in UTF-8, and one that Windows-1252 cannot hold
// at most four but becomes one blank, so any longer line stays too long.
constexpr std::size_t LINE_KEEP = std::size_t{4} * SERIAL_TEXT_MAX;

const char* extension_for(int command) {
    switch (command) {
    case 'M': return ".bas";
    case 'I': return ".inc";
    case 'A': return ".app";
    default: return "";
    }
}

// Closes the source file however the reply ends, a lost line included.
class OpenFile {
  public:
    explicit OpenFile(int fd) : fd_(fd) {}
    ~OpenFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int fd() const { return fd_; }

  private:
    int fd_;
};

// Opens a regular file (a link to one will do) for reading, and tells its
// size; -1 for anything else. A FIFO, a device or a directory could block
// the open, never end, or hold no text: none of them is ever read. The
// name is looked at before the open so that no device is even opened, and
// the open file again so that nothing swapped in between is read.
int open_regular_file(const std::string& file_name, std::uint64_t& size) {
    struct stat info {};
    if (stat(file_name.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    const int fd = open(file_name.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return fd;
}

void warn_line_dropped(const std::string& file_name, const SourceLine& line, std::uint64_t length) {
    tell_user(file_name + ": line " + std::to_string(line.number) + " is " +
              std::to_string(length) + " bytes long, over the device's limit of " +
              std::to_string(SERIAL_TEXT_MAX) + "; not sent");
}

// Sends one line in device codes with its CR, or warns why it is left out
// or changed.
void send_line(int port, const std::string& file_name, const SourceLine& line) {
    const bool whole = line.length == line.text.size();
    const Cp1252Text text = whole ? utf8_to_cp1252(line.text) : Cp1252Text{};
    const std::uint64_t length = whole ? text.bytes.size() : line.length;
    if (length > SERIAL_TEXT_MAX || !send_text(port, to_device_charset(text.bytes), LINE_END_CR)) {
        warn_line_dropped(file_name, line, length);
        return;
    }
    if (text.first_unheld != 0) {
        tell_user(file_name + ": line " + std::to_string(line.number) +
                  " holds characters the device cannot show (" +
                  code_point_name(text.first_unheld) + "); sent as blanks");
    }
}

} // namespace

void serve_file_request(int port, int command, std::string& current_file_name) {
    // A name longer than a path can be never opens: cut, and with its
    // extension, it is still too long and is refused like a missing file.
    // Keeping more of it would only let a confused device grow us.
    const DeviceString name = receive_string(port, PATH_MAX);
    current_file_name = name.bytes + extension_for(command);
    send_file(port, current_file_name);
}

void send_file(int port, const std::string& file_name) {
    std::uint64_t size_at_open = 0;
    const OpenFile file(open_regular_file(file_name, size_at_open));
    if (file.fd() < 0) {
        send_byte(port, 'E');
        return;
    }
    send_byte(port, 'O');
    SourceLineReader lines(file.fd(), LINE_KEEP);
    SourceLine line;
    while (lines.next(line)) {
        send_line(port, file_name, line);
    }
    send_byte(port, 0);
    if (lines.error() != 0) {
        tell_user(file_name + ": read error after line " + std::to_string(lines.lines_read()) +
                  ": " + std::strerror(lines.error()) + "; the rest was not sent");
    } else if (lines.bytes_read() < size_at_open) {
        tell_user(file_name + " changed while it was sent");
    }
}
