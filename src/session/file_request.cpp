#include "file_request.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "device_link.h"
#include "device_text.h"
#include "line_index.h"
#include "serial.h"
#include "source_lines.h"
#include "user_output.h"

namespace {

// Enough of a line to keep every line that fits whole: a character takes
// at most four bytes in UTF-8 and one byte in Windows-1252. Longer lines
// are measured to their end but not kept.
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

// Sends one line in device codes with its CR, or warns why it is left out
// or changed.
void send_line(int port, const std::string& file_name, const SourceLine& line) {
    const std::string where = file_name + ": line " + std::to_string(line.number);
    if (line.cp1252_length > SERIAL_TEXT_MAX) {
        tell_user(where + " is " + std::to_string(line.cp1252_length) +
                  " bytes long, over the device's limit of " + std::to_string(SERIAL_TEXT_MAX) +
                  "; not sent");
        return;
    }
    // Measured at most SERIAL_TEXT_MAX, the line was short enough to keep whole.
    const DeviceText text = device_text(line.text);
    send_text(port, text, LINE_END_CR);
    warn_if_unheld(where, text);
}

// Sends the file reply: "E" alone when the file cannot be opened or is no
// regular file, else "O", each line ended by one CR, then a 0 byte. A
// failing read ends the reply after the last whole line, with a warning;
// a file that turns out shorter than it was at the open is sent as far as
// it goes, with a warning.
// Returns whether the file was sent (else "E" was); `numbered` then holds
// its numbered lines.
bool send_file(int port, const std::string& file_name, NumberedLines& numbered) {
    std::uint64_t size_at_open = 0;
    const OpenFile file(open_regular_file(file_name, size_at_open));
    if (file.fd() < 0) {
        send_byte(port, 'E');
        return false;
    }
    send_byte(port, 'O');
    SourceLineReader lines(file.fd(), LINE_KEEP);
    SourceLine line;
    while (lines.next(line)) {
        numbered.add(line.text, line.number);
        send_line(port, file_name, line);
    }
    send_byte(port, 0);
    if (lines.error() != 0) {
        tell_user(file_name + ": read error after line " + std::to_string(lines.lines_read()) +
                  ": " + std::strerror(lines.error()) + "; the rest was not sent");
    } else if (lines.bytes_read() < size_at_open) {
        tell_user(file_name + " changed while it was sent");
    }
    return true;
}

} // namespace

void serve_file_request(int port, int command, ServedFile& current, ServedLines& served) {
    // A name longer than a path can be never opens: cut, and with its
    // extension, it is still too long and is refused like a missing file.
    // Keeping more of it would only let a confused device grow us.
    const DeviceString name = receive_string(port, PATH_MAX);
    current = {name.bytes + extension_for(command), ""};
    NumberedLines numbered;
    if (send_file(port, current.name, numbered)) {
        current.path = current.name;
        served.remember(current.path, std::move(numbered));
    }
}
