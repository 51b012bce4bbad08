#include "reports.h"

#include <optional>

#include "device_link.h"
#include "file_paths.h"
#include "user_output.h"

namespace {

// A device that never ends its report must not grow us without limit;
// 64 KiB is far more than any real report.
constexpr std::size_t REPORT_KEEP = std::size_t{64} * 1024;

// "<directory>\<file>": the current directory and the name the device
// asked for; for a file found elsewhere or under another name (a search
// directory, the case rule), the directory that holds it and its own name.
std::string reported_file(const std::string& directory, const ServedFile& current) {
    if (current.path.empty() || current.path == current.name) {
        return directory + "\\" + current.name;
    }
    const PathParts parts = split_path(absolute_path(current.path));
    return parts.directory + "\\" + parts.base;
}

// The rest of the report's line once the payload is read, or as much of
// it as came before the line was lost.
void print_payload(const DeviceString& payload, const std::optional<std::string>& directory,
                   const ServedFile& current, const ServedLines& served, ErrorFormat format) {
    const std::size_t comma = payload.bytes.find(',');
    const std::size_t start = comma == std::string::npos ? 0 : comma + 1;
    const std::string message = payload.bytes.substr(start);
    const std::string cut =
        payload.cut > 0 ? " [" + std::to_string(payload.cut) + " more bytes cut]" : "";
    if (format == ErrorFormat::plain) {
        write_to_stderr(message + cut + "\n");
        return;
    }
    const ErrorPlace place = served.place_of(message, current);
    write_to_stderr(
        error_line(format, path_for_editors(place.path, directory), place.line, message + cut));
}

} // namespace

void print_error_report(DeviceLine& line, const ServedFile& current, const ServedLines& served,
                        ErrorFormat format) {
    // Editors and scripts look for the report at the start of a line.
    end_open_stderr_line();
    const std::optional<std::string> directory = fetch_current_directory();
    if (format == ErrorFormat::plain) {
        write_to_stderr("Error " + reported_file(directory.value_or(UNKNOWN_DIRECTORY), current) +
                        " ");
    }
    DeviceString payload;
    try {
        receive_string(line, REPORT_KEEP, payload);
    } catch (const LinkLost&) {
        // What the device said before it fell silent or went away is
        // still the best clue the user gets.
        print_payload(payload, directory, current, served, format);
        throw;
    }
    print_payload(payload, directory, current, served, format);
}

void print_trace_text(DeviceLine& line) {
    for (int byte = next_byte(line); byte != 0; byte = next_byte(line)) {
        const char c = static_cast<char>(byte);
        write_to_stderr(&c, 1);
    }
}
