// A simulated device for trying lorvrc without hardware. It plays the
// device's side of one session on a pseudo-terminal: it starts the tool
// with the pty's own path as the port, asks for the program and its
// include, shows what it received, and then either sends the program's
// output as trace text and ends the session, or (with --error) reports a
// syntax error.
//
// usage: lorvrc_demo_device [--error] <directory> <tool> <argument>...
//
// The device's own lines go to standard output, each labelled "device";
// what the tool prints is passed on to standard error as it comes. The exit
// status is the tool's (1 if it had to be killed).
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "pty_device.h"
#include "tool_process.h"

namespace {

using testing_support::milliseconds;
using testing_support::PtyDevice;
using testing_support::ToolProcess;

// Generous for a pty; the tool answers within milliseconds.
constexpr milliseconds REPLY_TIME{3000};

constexpr const char* INCLUDE_NAME = "mathlib";
constexpr const char* SYNTAX_ERROR = "12,Syntax error in line 30";
// What the program prints when it runs, as the device's trace text.
constexpr const char* PROGRAM_OUTPUT = "Hello from Lorvan BASIC\r\n"
                                       "1 squared is 1\r\n"
                                       "2 squared is 4\r\n"
                                       "3 squared is 9\r\n"
                                       "4 squared is 16\r\n"
                                       "5 squared is 25\r\n"
                                       "Sum of 1 to 5: 15\r\n"
                                       "Ready\r\n";

struct Options {
    bool error = false;
    std::string directory;
    std::string tool;
    std::vector<std::string> tool_args;
};

std::optional<Options> read_options(int argc, char** argv) {
    Options options;
    int next = 1;
    if (next < argc && std::string(argv[next]) == "--error") {
        options.error = true;
        ++next;
    }
    if (argc - next < 2) {
        return std::nullopt;
    }
    options.directory = argv[next++];
    // The tool starts in the directory, so a relative path would miss it.
    options.tool = std::filesystem::absolute(argv[next++]);
    options.tool_args.assign(argv + next, argv + argc);
    return options;
}

void say(const std::string& text) { std::cout << "device: " << text << std::endl; }

// Passes on what the tool has printed since the last call.
class ToolOutput {
  public:
    explicit ToolOutput(ToolProcess& tool) : tool_(tool) {}

    void show() {
        const std::string text = tool_.stderr_text();
        std::cerr << text.substr(std::min(shown_, text.size())) << std::flush;
        shown_ = text.size();
    }

  private:
    ToolProcess& tool_;
    std::size_t shown_ = 0;
};

// The lines of a file reply ("O", lines ended by CR, 0); nothing for a
// refusal or an incomplete reply. A file that ends in a line feed arrives
// with an empty last line, which the interpreter skips.
std::optional<std::vector<std::string>> reply_lines(const std::string& reply) {
    if (reply.size() < 2 || reply.front() != 'O' || reply.back() != '\0') {
        return std::nullopt;
    }
    std::vector<std::string> lines;
    std::size_t start = 1;
    for (std::size_t cr = reply.find('\r', start); cr != std::string::npos;
         cr = reply.find('\r', start)) {
        lines.push_back(reply.substr(start, cr - start));
        start = cr + 1;
    }
    if (!lines.empty() && lines.back().empty()) {
        lines.pop_back();
    }
    return lines;
}

// One file reply: "E" alone, or "O" through its closing 0 byte.
std::string receive_file_reply(const PtyDevice& device) {
    const std::string first = device.receive(1, REPLY_TIME);
    return first == "O" ? first + device.receive_through_zero(REPLY_TIME) : first;
}

// Sends a file request and shows the reply; false when none came.
bool request_file(const PtyDevice& device, char command, const std::string& name,
                  const std::string& extension) {
    say(std::string("asks for ") + name + extension + " (\"" + command + "\")");
    device.send(command + name + '\0');
    const std::string reply = receive_file_reply(device);
    const auto lines = reply_lines(reply);
    if (!lines) {
        say(reply == "E" ? "lorvrc refused " + name + extension
                         : "no complete reply for " + name + extension);
        return false;
    }
    say("received " + name + extension + ": " + std::to_string(lines->size()) + " lines");
    for (const std::string& line : *lines) {
        std::cout << "device:   | " << line << '\n';
    }
    return true;
}

// Plays the session; false when lorvrc did not answer as a device expects.
bool play(const PtyDevice& device, ToolProcess& tool, ToolOutput& output, bool error) {
    const std::string start = device.receive_through_zero(REPLY_TIME);
    if (start.size() < 2 || start.back() != '\0') {
        say("no start sequence came");
        return false;
    }
    const std::string program = start.substr(1, start.size() - 2);
    say("start byte \"" + start.substr(0, 1) + "\", program " + program);
    if (!request_file(device, 'M', program, ".bas")) {
        return false;
    }
    if (error) {
        say("finds a syntax error in line 30 and reports it (\"E\")");
        device.send(std::string("E") + SYNTAX_ERROR + '\0');
        return true;
    }
    if (!request_file(device, 'I', INCLUDE_NAME, ".inc")) {
        return false;
    }
    say("runs " + program + " and sends its output as trace text (\"T\"):");
    device.send("T" + ("RUN " + program + "\r\n") + PROGRAM_OUTPUT + '\0');
    tool.wait_for_stderr("Ready\r\n", REPLY_TIME);
    output.show();
    say("ends the session (\"O\")");
    device.send("O");
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Options> options = read_options(argc, argv);
    if (!options) {
        std::cerr << "usage: lorvrc_demo_device [--error] <directory> <tool> <argument>...\n";
        return 2;
    }
    PtyDevice device;
    if (!device.ok()) {
        std::cerr << "lorvrc_demo_device: cannot create a pseudo-terminal\n";
        return 1;
    }
    say("simulated device on " + device.slave_path());
    // The pty's own path is the port: lorvrc opens nothing else.
    std::vector<std::string> tool_args = options->tool_args;
    tool_args.push_back(device.slave_path());
    ToolProcess tool(options->tool, tool_args, options->directory);
    ToolOutput output(tool);
    if (!play(device, tool, output, options->error)) {
        device.hang_up(); // a real device would drop off the line too
    }
    const std::optional<int> status = tool.wait(REPLY_TIME);
    output.show();
    std::cout << "demo: "
              << (status ? "lorvrc exited with status " + std::to_string(*status)
                         : "lorvrc did not end in time and was stopped")
              << std::endl;
    return status.value_or(1);
}
