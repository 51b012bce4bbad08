#include "file_request.h"

#include <climits>
#include <cstring>

#include "device_link.h"
#include "device_text.h"
#include "file_lookup.h"
#include "file_paths.h"
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

// What a reply carried, as the user counts it: the file's lines that were
// sent (the empty piece after a final line feed is no line of an editor's),
// and every byte of them on the wire, CRs included.
struct ReplyCount {
    std::uint64_t lines = 0;
    std::uint64_t bytes = 0;

    void add(const SourceLine& line, std::uint64_t sent) {
        bytes += sent;
        lines += sent > 0 && !(line.last && line.text.empty()) ? 1 : 0;
    }
};

// Sends one line in device codes with its CR, or warns why it is left out
// or changed. Returns the bytes sent: 0 when it was left out.
std::uint64_t send_line(DeviceLine& device, const std::string& file_name, const SourceLine& line) {
    const std::string where = file_name + ": line " + std::to_string(line.number);
    if (line.cp1252_length > SERIAL_TEXT_MAX) {
        tell_user(where + " is " + std::to_string(line.cp1252_length) +
                  " bytes long, over the device's limit of " + std::to_string(SERIAL_TEXT_MAX) +
                  "; not sent");
        return 0;
    }
    // Measured at most SERIAL_TEXT_MAX, the line was short enough to keep whole.
    const DeviceText text = device_text(line.text);
    send_text(device, text, true);
    warn_if_unheld(where, text);
    return text.codes().size() + 1;
}

// Sends "O", each line ended by one CR, then a 0 byte. A failing read
// ends the reply after the last whole line, with a warning; a file that
// changed while it was sent is sent as far as it goes, with a warning.
// `numbered` gets the file's numbered lines.
ReplyCount send_file(DeviceLine& device, const FoundFile& file, NumberedLines& numbered) {
    send_byte(device, 'O');
    SourceLineReader lines(file.fd(), LINE_KEEP);
    SourceLine line;
    ReplyCount count;
    while (lines.next(line)) {
        numbered.add(line.text, line.number);
        count.add(line, send_line(device, file.path(), line));
    }
    send_byte(device, 0);
    if (lines.error() != 0) {
        tell_user(file.path() + ": read error after line " + std::to_string(lines.lines_read()) +
                  ": " + std::strerror(lines.error()) + "; the rest was not sent");
    } else if (lines.bytes_read() < file.stamp_at_open().size || file.changed()) {
        tell_user(file.path() + " changed while it was sent");
    }
    return count;
}

std::string counted(std::uint64_t count, const char* what) {
    return std::to_string(count) + " " + what + (count == 1 ? "" : "s");
}

} // namespace

void serve_file_request(DeviceLine& line, int command, const FileServing& serving,
                        ServedFile& current, ServedLines& served) {
    // A name longer than a path can be never opens: cut, and with its
    // extension, it is still too long and is refused like a missing file.
    // Keeping more of it would only let a confused device grow us.
    const DeviceString name = receive_string(line, PATH_MAX);
    current = {name.bytes + extension_for(command), ""};
    const Lookup found = look_up_file(current.name, serving.search_dirs);
    if (!found.file.is_open()) {
        send_byte(line, 'E');
        if (found.ambiguous || serving.verbose) {
            tell_user(current.name + ": " + found.why);
        }
        return;
    }
    current.path = found.file.path();
    NumberedLines numbered;
    const ReplyCount count = send_file(line, found.file, numbered);
    served.remember(current.path, std::move(numbered));
    if (serving.verbose) {
        tell_user(current.name + ": sent " + counted(count.lines, "line") + " (" +
                  counted(count.bytes, "byte") + ") from " + absolute_path(current.path));
    }
}
