// File requests end to end: the fake device asks for files by name and
// checks every byte of each reply, and what the tool prints meanwhile.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

#include "device_session.h"

using namespace testing_support;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds REPLY_TIME(2000);
constexpr milliseconds EXIT_TIME(3000);

// "4F 0D 00" -> the three bytes.
std::string hex(const std::string& text) {
    std::istringstream in(text);
    std::string bytes;
    unsigned value = 0;
    while (in >> std::hex >> value) {
        bytes.push_back(static_cast<char>(value));
    }
    return bytes;
}

// The bytes as "4F 0D 00", so that a failing comparison shows them.
std::string hex_of(const std::string& bytes) {
    std::string text;
    for (const unsigned char byte : bytes) {
        char digits[4];
        std::snprintf(digits, sizeof digits, "%02X", byte);
        if (!text.empty()) {
            text += ' ';
        }
        text += digits;
    }
    return text;
}

std::string request(char command, const std::string& name) { return command + name + '\0'; }

std::string reply_of_lines(const std::vector<std::string>& device_lines) {
    std::string reply = "O";
    for (const std::string& line : device_lines) {
        reply += line + '\r';
    }
    return reply + '\0';
}

std::string warning(const std::string& file_name, int line, std::size_t length) {
    return "lorvrc: " + file_name + ": line " + std::to_string(line) + " is " +
           std::to_string(length) + " bytes long, over the device's limit of 300; not sent\n";
}

// Sends the end command; the tool must exit with 0 and have sent nothing
// after its last reply.
void end_session(DeviceSession& session) {
    session.device.send("O");
    EXPECT_EQ(session.tool->wait(EXIT_TIME), 0);
    EXPECT_EQ(hex_of(session.device.receive(1, milliseconds(50))), "");
}

struct DroppedLine {
    int number;
    std::size_t length;
};

struct FileCase {
    std::string name; // requested with "M"; the file is name + ".bas"
    std::string content;
    std::string reply;
    std::vector<DroppedLine> dropped;
};

std::vector<FileCase> file_cases() {
    const std::string a300(300, 'A');
    const std::string a301(301, 'A');
    return {
        {"empty", "", hex("4F 0D 00"), {}},
        {"final_lf", "A\nB\n", hex("4F 41 0D 42 0D 0D 00"), {}},
        {"no_final_lf", "A\nB", hex("4F 41 0D 42 0D 00"), {}},
        {"lone_lf", "\n", hex("4F 0D 0D 00"), {}},
        {"crlf", "A\r\n", hex("4F 41 0D 0D 0D 00"), {}},
        {"tab", "A\tB", hex("4F 41 09 42 0D 00"), {}},
        {"zero_byte", hex("41 00 42"), hex("4F 41 20 42 0D 00"), {}},
        {"ff_byte", hex("41 FF 42"), hex("4F 41 D8 42 0D 00"), {}},
        {"translated", hex("7C E9 0A 80 41"), hex("4F CD 91 0D E7 41 0D 00"), {}},
        {"blank_lines", "\n\nA\n\n", reply_of_lines({"", "", "A", "", ""}), {}},
        {"line_300", a300, reply_of_lines({a300}), {}},
        {"line_300_translated",
         std::string(300, '\xE9'),
         reply_of_lines({std::string(300, '\x91')}),
         {}},
        {"line_300_with_cr",
         std::string(299, 'A') + "\r\n",
         reply_of_lines({std::string(299, 'A') + '\r', ""}),
         {}},
        {"line_301", a301 + "\nB", hex("4F 42 0D 00"), {{1, 301}}},
        {"line_301_with_cr", a300 + "\r\nB", hex("4F 42 0D 00"), {{1, 301}}},
        {"line_301_with_zero",
         hex("41 00") + std::string(299, 'A') + "\nB",
         hex("4F 42 0D 00"),
         {{1, 301}}},
        {"long_in_middle",
         "10 A\n" + std::string(400, 'x') + "\n30 C\n",
         reply_of_lines({"10 A", "30 C", ""}),
         {{2, 400}}},
        {"several_long",
         "a\n" + std::string(301, 'x') + "\nb\n" + std::string(1000, 'y') + "\nc\n" +
             std::string(302, 'z'),
         reply_of_lines({"a", "b", "c"}),
         {{2, 301}, {4, 1000}, {6, 302}}},
        {"long_last_no_lf", "A\n" + std::string(350, 'Q'), reply_of_lines({"A"}), {{2, 350}}},
        {"only_long", std::string(70000, 'L') + "\n", reply_of_lines({""}), {{1, 70000}}},
        {"long_after_many",
         [] {
             std::string many;
             for (int i = 0; i < 500; ++i) {
                 many += "x\n";
             }
             return many + std::string(301, 'L');
         }(),
         reply_of_lines(std::vector<std::string>(500, "x")),
         {{501, 301}}},
    };
}

TEST(FileReplies, EachFileIsSentLineByLineInDeviceCodes) {
    TempDir dir;
    const std::vector<FileCase> cases = file_cases();
    for (const FileCase& file : cases) {
        dir.write_file(file.name + ".bas", file.content);
    }
    DeviceSession session({"prog"}, 1, dir.path());
    std::string warnings;
    for (const FileCase& file : cases) {
        SCOPED_TRACE(file.name);
        session.device.send(request('M', file.name));
        const std::string reply = session.device.receive_file_reply(REPLY_TIME);
        ASSERT_FALSE(reply.empty()) << "no reply at all";
        EXPECT_EQ(hex_of(reply), hex_of(file.reply));
        for (const DroppedLine& line : file.dropped) {
            warnings += warning(file.name + ".bas", line.number, line.length);
        }
    }
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), warnings);
}

struct RequestCase {
    std::string what;
    char command;
    std::string name;
    std::string reply;
};

TEST(FileReplies, NamesAreUsedAsReceivedWithTheRequestsExtension) {
    TempDir dir;
    TempDir elsewhere;
    dir.write_file("p.bas", "bas");
    dir.write_file("p.inc", "inc");
    dir.write_file("p.app", "app");
    dir.write_file("sub/x.inc", "sub inc");
    dir.write_file(".bas", "dot bas");
    dir.write_file("prog.bas", "one");
    dir.write_file("prog.bas.bas", "two");
    dir.write_file("\xE9n.bas", "E9"); // as the device sends it
    dir.write_file("\x91n.bas", "91"); // the device code of E9
    dir.write_file("twice.bas", "same\nfile");
    std::filesystem::create_directory(dir.path() + "/d.bas");
    // Opening fails even for root: a link to itself, and a path through a file.
    std::filesystem::create_symlink("loop.bas", dir.path() + "/loop.bas");
    const std::string absolute = elsewhere.write_file("abs/y.bas", "absolute");
    const std::string absolute_name = absolute.substr(0, absolute.size() - 4);
    // If the tool stopped reading the name early, the rest would be taken
    // as commands, and "O" ends the session.
    const std::string huge_name(5000, 'O');

    const std::vector<RequestCase> cases = {
        {"M appends .bas", 'M', "p", reply_of_lines({"bas"})},
        {"I appends .inc", 'I', "p", reply_of_lines({"inc"})},
        {"A appends .app", 'A', "p", reply_of_lines({"app"})},
        {"subdirectory", 'I', "sub/x", reply_of_lines({"sub inc"})},
        {"absolute name", 'M', absolute_name, reply_of_lines({"absolute"})},
        {"missing file", 'M', "nothing", "E"},
        {"missing .inc", 'I', "nothing", "E"},
        {"missing .app", 'A', "nothing", "E"},
        {"link loop", 'M', "loop", "E"},
        {"path through a file", 'M', "p.bas/x", "E"},
        {"served after a refusal", 'M', "p", reply_of_lines({"bas"})},
        {"extension already there", 'M', "prog.bas", reply_of_lines({"two"})},
        {"empty name", 'M', "", reply_of_lines({"dot bas"})},
        {"name not trimmed", 'M', "p ", "E"},
        {"no reverse translation", 'M', "\x91n", reply_of_lines({"91"})},
        {"no translation", 'M', "\xE9n", reply_of_lines({"E9"})},
        {"directory", 'M', "d", hex("4F 0D 00")},
        {"first time", 'M', "twice", reply_of_lines({"same", "file"})},
        {"second time", 'M', "twice", reply_of_lines({"same", "file"})},
        {"name longer than a path", 'M', huge_name, "E"},
        {"served after a long name", 'A', "p", reply_of_lines({"app"})},
    };
    DeviceSession session({"prog"}, 1, dir.path());
    for (const RequestCase& c : cases) {
        SCOPED_TRACE(c.what);
        session.device.send(request(c.command, c.name));
        const std::string reply = session.device.receive_file_reply(REPLY_TIME);
        ASSERT_FALSE(reply.empty()) << "no reply at all";
        EXPECT_EQ(hex_of(reply), hex_of(c.reply));
    }
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), "");
}

TEST(FileReplies, FileIsReadAfreshOnEveryRequest) {
    TempDir dir;
    dir.write_file("prog.bas", "10 PRINT 1\n20 END");
    DeviceSession session({"prog"}, 1, dir.path());
    session.device.send(request('M', "prog"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME),
              reply_of_lines({"10 PRINT 1", "20 END"}));
    dir.write_file("prog.bas", "5 END");
    session.device.send(request('M', "prog"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), reply_of_lines({"5 END"}));
    std::filesystem::remove(dir.path() + "/prog.bas");
    session.device.send(request('M', "prog"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), "E");
    end_session(session);
}

TEST(FileReplies, UnreadableFileIsRefused) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "root reads files whatever their permissions";
    }
    TempDir dir;
    const std::string path = dir.write_file("secret.bas", "10 END");
    ASSERT_EQ(chmod(path.c_str(), 0), 0);
    DeviceSession session({"prog"}, 1, dir.path());
    session.device.send(request('M', "secret"));
    EXPECT_EQ(session.device.receive_file_reply(REPLY_TIME), "E");
    end_session(session);
    EXPECT_EQ(session.tool->stderr_text(), "");
}

std::string large_program(std::size_t at_least) {
    std::string text;
    for (int number = 10; text.size() < at_least; number += 10) {
        text += std::to_string(number) + " PRINT \"HELLO\"; X(I)\n";
    }
    return text;
}

TEST(FileReplies, DeviceHangingUpDuringAReplyEndsTheRun) {
    TempDir dir;
    dir.write_file("big.bas", large_program(200 * 1024));
    DeviceSession session({"prog"}, 1, dir.path());
    PtyDevice& device = session.device;
    ToolProcess& tool = *session.tool;
    ASSERT_EQ(session.start_sequence, std::string("Cprog\0", 6));

    device.send(request('M', "big"));
    EXPECT_EQ(device.receive(4, REPLY_TIME), "O10 ");
    device.hang_up();
    const auto hung_up = std::chrono::steady_clock::now();
    EXPECT_EQ(tool.wait(milliseconds(5000)), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - hung_up, milliseconds(2000));
    EXPECT_EQ(tool.stderr_text(), "lorvrc: lost the connection on " + test_port_dir() + "/ttyS1\n");
}

} // namespace
