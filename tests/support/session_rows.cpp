#include "session_rows.h"

#include <cstdio>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "device_session.h"

namespace testing_support {

namespace {

constexpr milliseconds TURN_DEADLINE(3000);
constexpr milliseconds EXIT_DEADLINE(3000);
// Long enough for a tool that wrongly goes on talking to have done so.
constexpr milliseconds QUIET(100);

void make_file(const TempDir& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir.path() + "/" + name;
    if (bytes == "<fifo>") {
        mkfifo(path.c_str(), 0644);
    } else if (bytes == "<dir>") {
        std::filesystem::create_directories(path);
    } else if (bytes.rfind("-> ", 0) == 0) {
        symlink(bytes.substr(3).c_str(), path.c_str());
    } else {
        dir.write_file(name, bytes);
    }
}

int port_of(const std::vector<std::string>& args) {
    const std::size_t name = !args.empty() && args[0] == "-t" ? 2 : 1;
    return args.size() > name ? std::stoi(args.back()) : 1;
}

// Bytes as text a reader can compare: printable ASCII as it is, the rest
// escaped.
std::string shown(const std::string& bytes) {
    std::string text;
    for (const unsigned char byte : bytes) {
        if (byte >= 0x20 && byte < 0x7F && byte != '\\') {
            text += static_cast<char>(byte);
        } else if (byte == '\\' || byte == '\n' || byte == '\r' || byte == '\0') {
            text += byte == '\\' ? "\\\\" : byte == '\n' ? "\\n" : byte == '\r' ? "\\r" : "\\0";
        } else {
            char escape[5];
            std::snprintf(escape, sizeof escape, "\\x%02X", byte);
            text += escape;
        }
    }
    return text;
}

// The text with every `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

} // namespace

SessionOutcome expected(const SessionRow& row) {
    return {row.talk, "", row.stderr_text, "", row.status};
}

SessionOutcome play(const SessionRow& row) {
    TempDir dir;
    for (const auto& [name, bytes] : row.files) {
        make_file(dir, name, bytes);
    }
    PtyDevice device;
    device.link_as_port(port_of(row.args));
    ToolProcess tool(tool_under_test(), row.args, dir.path());
    SessionOutcome outcome;
    for (std::size_t turn = 0; turn < row.talk.size(); ++turn) {
        if (turn % 2 == 0) {
            outcome.talk.push_back(device.receive(row.talk[turn].size(), TURN_DEADLINE));
        } else {
            outcome.talk.push_back(row.talk[turn]);
            device.send(row.talk[turn]);
        }
    }
    outcome.status = tool.wait(EXIT_DEADLINE);
    outcome.sent_after = device.receive_until_quiet(QUIET, QUIET);
    outcome.stderr_text = replaced(replaced(tool.stderr_text(), dir.path(), "<dir>"),
                                   port_path(port_of(row.args)), "<port>");
    outcome.stdout_text = tool.stdout_text();
    return outcome;
}

bool operator==(const SessionOutcome& a, const SessionOutcome& b) {
    return a.talk == b.talk && a.sent_after == b.sent_after && a.stderr_text == b.stderr_text &&
           a.stdout_text == b.stdout_text && a.status == b.status;
}

std::ostream& operator<<(std::ostream& out, const SessionOutcome& outcome) {
    out << "\n  talk:";
    for (std::size_t turn = 0; turn < outcome.talk.size(); ++turn) {
        out << (turn % 2 == 0 ? "\n    tool:   \"" : "\n    device: \"")
            << shown(outcome.talk[turn]) << '"';
    }
    out << "\n  sent after: \"" << shown(outcome.sent_after) << '"';
    out << "\n  stderr: \"" << shown(outcome.stderr_text) << '"';
    out << "\n  stdout: \"" << shown(outcome.stdout_text) << '"';
    out << "\n  status: ";
    return outcome.status ? out << *outcome.status : out << "killed at the deadline";
}

std::ostream& operator<<(std::ostream& out, const SessionRow& row) { return out << row.what; }

} // namespace testing_support
