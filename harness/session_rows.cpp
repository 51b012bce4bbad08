#include "session_rows.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "device_session.h"
#include "timing.h"

namespace testing_support {

namespace {

void make_file(const TempDir& dir, const std::string& name, const std::string& bytes) {
    const std::string path = dir.path() + "/" + name;
    if (bytes == "<fifo>") {
        mkfifo(path.c_str(), 0644);
    } else if (bytes == "<dir>") {
        std::filesystem::create_directories(path);
    } else if (bytes.rfind("-> ", 0) == 0) {
        std::error_code made;
        std::filesystem::create_symlink(bytes.substr(3), path, made);
    } else {
        dir.write_file(name, bytes);
    }
}

} // namespace

std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at)) {
        text.replace(at, from.size(), to);
        at += to.size();
    }
    return text;
}

SessionOutcome expected(const SessionRow& row) {
    return {row.talk, "", row.stderr_text, row.stdout_text, row.status};
}

SessionOutcome play(const SessionRow& row, Ports ports) {
    TempDir dir;
    for (const auto& [name, bytes] : row.files) {
        make_file(dir, name, bytes);
    }
    PtyDevice device;
    for (int port = ports.first; port < ports.end; ++port) {
        device.link_as_port(port);
    }
    for (const auto& [name, value] : row.environment) {
        setenv(name.c_str(), value.c_str(), 1);
    }
    ToolProcess tool(tool_under_test(), row.args, dir.path());
    for (const auto& variable : row.environment) {
        unsetenv(variable.first.c_str());
    }
    SessionOutcome outcome;
    for (std::size_t turn = 0; turn < row.talk.size(); ++turn) {
        if (turn % 2 == 0) {
            outcome.talk.push_back(device.receive(row.talk[turn].size(), DEADLINE));
        } else {
            outcome.talk.push_back(row.talk[turn]);
            device.send(row.talk[turn]);
        }
    }
    outcome.status = tool.wait(DEADLINE);
    outcome.sent_after = device.receive_until_quiet(QUIET, QUIET);
    std::string text = replaced(tool.stderr_text(), device.slave_path(), "<port>");
    for (int port = ports.end - 1; port >= ports.first; --port) { // ttyS10 before ttyS1
        text = replaced(text, port_path(port), "<port>");
    }
    outcome.stderr_text = replaced(replaced(text, dir.path(), "<dir>"), test_root(), "<root>");
    outcome.stdout_text = replaced(tool.stdout_text(), test_root(), "<root>");
    return outcome;
}

std::ostream& operator<<(std::ostream& out, const SessionOutcome& outcome) {
    out << "\n  talk:";
    for (std::size_t turn = 0; turn < outcome.talk.size(); ++turn) {
        out << (turn % 2 == 0 ? "\n    tool:   " : "\n    device: ")
            << testing::PrintToString(outcome.talk[turn]);
    }
    out << "\n  sent after: " << testing::PrintToString(outcome.sent_after)
        << "\n  stderr: " << testing::PrintToString(outcome.stderr_text)
        << "\n  stdout: " << testing::PrintToString(outcome.stdout_text) << "\n  status: ";
    return outcome.status ? out << *outcome.status : out << "killed at the deadline";
}

std::ostream& operator<<(std::ostream& out, const SessionRow& row) { return out << row.what; }

} // namespace testing_support
