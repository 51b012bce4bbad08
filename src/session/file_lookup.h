// Finding the file a request names. First the exact name in each place in
// turn: the current directory, then the search directories (a name that
// starts with '/' has only its own place); then, in the same order, the
// case rule: a file in the directory the name's path points into whose
// name differs from it only in ASCII case. The first regular file found is
// the one. Only regular files (and links to them) are ever opened, each
// looked at before and after the open, so no FIFO or device is opened and
// nothing swapped in between is read; the case rule lists only the name's
// own directory.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// A file's size and modification time, to tell whether it changed.
struct FileStamp {
    std::uint64_t size = 0;
    timespec modified{};
};

// A file found for a request, open for reading; closed with this value.
class FoundFile {
  public:
    FoundFile() = default;
    FoundFile(int fd, std::string path, const FileStamp& stamp);
    ~FoundFile();
    FoundFile(FoundFile&& other) noexcept;
    FoundFile& operator=(FoundFile&&) = delete;
    FoundFile(const FoundFile&) = delete;
    FoundFile& operator=(const FoundFile&) = delete;

    bool is_open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // The path opened: the name itself when it was found under that name
    // in the current directory, else the place and the name found there.
    const std::string& path() const { return path_; }
    const FileStamp& stamp_at_open() const { return stamp_; }
    // Whether the file's size or modification time now differ from those
    // at the open; true when it can no longer be looked at.
    bool changed() const;

  private:
    int fd_ = -1;
    std::string path_;
    FileStamp stamp_;
};

struct Lookup {
    FoundFile file; // not open when nothing is to be sent
    // Then why, in words for the user after "<name>: ": "not found in
    // <places>", "not a regular file", "cannot open <path>: <reason>", or
    // the case rule's refusal.
    std::string why;
    // `why` is the case rule's refusal of two or more files, which the
    // user is always told; the other reasons only on request.
    bool ambiguous = false;
};

// Looks for `name` in the current directory and then in `search_dirs`,
// as above. An unreadable regular file ends the search (the user meant
// it); a place where the name is no regular file, or cannot be looked at,
// is passed over, and the first such reason is kept for `why`.
Lookup look_up_file(const std::string& name, const std::vector<std::string>& search_dirs);
