#include "file_tree.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string_view>

namespace {

using namespace std::string_literals;

namespace fs = std::filesystem;

struct TreeEntry {
    const char* path;    // relative to the tree's directory
    bool directory;      // a directory the device may name like a file
    std::string content; // a file's bytes
    std::string reply;   // written out by hand, not derived from content
};

const std::string LINE_300(300, 'y');
const std::string LINE_400(400, 'x');

// Each entry stands for one kind of file the sender must get right.
const TreeEntry ENTRIES[] = {
    {"prog.bas", false, "10 PRINT \"HI\"\n20 GOTO 10\n", "O10 PRINT \"HI\"\r20 GOTO 10\r\r\0"s},
    {"lib.inc", false, "A\r\nB", "OA\r\rB\r\0"s},
    {"util.app", false, "x|y\tz\0\xFF\n\x80"s, "Ox\xCDy\tz \xD8\r\xE7\r\0"s},
    {"empty.bas", false, "", "O\r\0"s},
    {".bas", false, "hidden", "Ohidden\r\0"s},
    {"long.bas", false, "first\n" + LINE_400 + "\n" + LINE_300 + "\nlast",
     "Ofirst\r" + LINE_300 + "\rlast\r\0"s},
    {"dir.bas", true, "", "E"},
    {"utf8.bas", false, "caf\u00E9 \u20AC\n\u4E2D", "Ocaf\x91 \xE7\r \r\0"s},
    {"sub/x.inc", false, "in sub\n", "Oin sub\r\r\0"s},
    {"sub/deeper/y.app", false, "\n\n", "O\r\r\r\0"s},
};

fs::path tree_root;
std::map<std::string, std::string> replies_by_real_path;

void remove_tree() {
    std::error_code ignored;
    fs::remove_all(tree_root, ignored);
}

std::string real_path(const std::string& path) {
    char resolved[PATH_MAX];
    return realpath(path.c_str(), resolved) != nullptr ? resolved : "";
}

void create_entry(const TreeEntry& entry) {
    const fs::path path = tree_root / entry.path;
    fs::create_directories(entry.directory ? path : path.parent_path());
    if (!entry.directory) {
        std::ofstream(path, std::ios::binary) << entry.content;
    }
    replies_by_real_path[real_path(path)] = entry.reply;
}

} // namespace

std::string create_file_tree() {
    std::string pattern = (fs::temp_directory_path() / "lorvrc-fuzz-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("session fuzzer: cannot create the file tree");
        std::abort();
    }
    tree_root = pattern;
    std::atexit(remove_tree);
    for (const TreeEntry& entry : ENTRIES) {
        create_entry(entry);
    }
    return tree_root.string();
}

std::optional<std::string> expected_reply(const std::string& file_name) {
    // A name that does not resolve cannot be opened either (no such file,
    // a component or the whole too long for the system).
    const bool absolute = !file_name.empty() && file_name[0] == '/';
    const std::string resolved =
        real_path(absolute ? file_name : tree_root.string() + "/" + file_name);
    if (resolved.empty()) {
        return "E";
    }
    const auto found = replies_by_real_path.find(resolved);
    if (found == replies_by_real_path.end()) {
        return std::nullopt;
    }
    return found->second;
}
