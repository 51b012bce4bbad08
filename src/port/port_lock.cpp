#include "port_lock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <optional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "host_paths.h"
#include "links.h"

namespace {

// The lock files we made, in static storage so that unlock_port() can run
// in a signal handler. Two directories are the usual; the build setting
// may name a few more.
constexpr int MAX_LOCK_FILES = 8;
char made[MAX_LOCK_FILES][PATH_MAX];
volatile std::sig_atomic_t made_count = 0;

// Our pid as our lock files hold it, "%10d\n".
char our_text[16];
std::size_t our_length = 0;

} // namespace

// Devices the kernel makes live in /dev even when a test build looks for
// named ones elsewhere.
std::string lock_name(const std::string& device) {
    std::string name = device;
    const std::string dev_dir = resolved_path(dev_root()).value_or("");
    for (const std::string& dir : {dev_dir, std::string("/dev")}) {
        if (!dir.empty() && name.starts_with(dir + "/")) {
            name.erase(0, dir.size() + 1);
            break;
        }
    }
    name.erase(0, name.find_first_not_of('/'));
    std::replace(name.begin(), name.end(), '/', '_');
    return "LCK.." + name;
}

namespace {

// A lock file that names no process may be one another program is still
// writing (created, pid not yet written): held while it is this young.
constexpr long BEING_WRITTEN_SECONDS = 5;

// The process a lock file's bytes name: text, blanks and a newline around
// the digits; or four bytes in the machine's order, as older tools wrote
// it (a pid fits in 22 bits, so those hold a 0 byte, which text never does).
std::optional<long> named_pid(const char* bytes, ssize_t size) {
    std::int32_t binary = 0;
    if (size == sizeof binary && std::memchr(bytes, 0, sizeof binary) != nullptr) {
        std::memcpy(&binary, bytes, sizeof binary);
        return binary;
    }
    char* end = nullptr;
    const long pid = std::strtol(bytes, &end, 10);
    return end == bytes ? std::nullopt : std::optional<long>(pid);
}

// Whether the pid is a live process other than us. EPERM: alive, only not
// ours to signal.
bool lives(long pid) {
    return pid > 0 && pid <= INT_MAX && pid != getpid() &&
           (kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

bool young(const struct stat& info) {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    return std::labs(now.tv_sec - info.st_mtim.tv_sec) < BEING_WRITTEN_SECONDS;
}

// What sits at a lock name: nothing, a stale lock file (`seen` as it was
// read, so that only that file is removed), or someone's lock.
struct LockLook {
    bool present = false;
    std::optional<LockHolder> holder;
    struct stat seen {};
};

// The directory is writable by every user: a FIFO or a link planted there
// must neither block us nor lead us elsewhere, so links are not followed
// and the open never waits.
LockLook read_lock(const std::string& lock_file) {
    const int fd =
        open(lock_file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT) {
        return {};
    }
    LockLook look{true, LockHolder{lock_file, std::nullopt, false}};
    char bytes[32] = {};
    const bool regular = fd >= 0 && fstat(fd, &look.seen) == 0 && S_ISREG(look.seen.st_mode);
    const ssize_t got = regular ? read(fd, bytes, sizeof bytes - 1) : -1;
    if (fd >= 0) {
        close(fd);
    }
    if (got < 0) {
        return look;
    }
    const std::optional<long> pid = named_pid(bytes, got);
    look.holder->readable = true;
    if (pid && lives(*pid)) {
        look.holder->pid = static_cast<pid_t>(*pid);
    } else if (pid || !young(look.seen)) {
        look.holder.reset(); // stale: its process is gone
    }
    return look;
}

// Removes the stale lock file only while it is the one that was read:
// another run that found it too may already have put its own there.
void remove_stale(const std::string& lock_file, const struct stat& seen) {
    struct stat now {};
    if (lstat(lock_file.c_str(), &now) == 0 && now.st_dev == seen.st_dev &&
        now.st_ino == seen.st_ino && now.st_ctim.tv_sec == seen.st_ctim.tv_sec &&
        now.st_ctim.tv_nsec == seen.st_ctim.tv_nsec) {
        unlink(lock_file.c_str());
    }
}

enum class Link { made, taken, impossible };

// Writes our pid under a temporary name and links it to the lock name.
// `taken`: another program's file is there; `impossible`: a directory we
// may not write to, which holds no lock of ours and is no error.
Link link_our_lock(const std::string& dir, const std::string& lock_file) {
    const std::string temporary = dir + "/LTMP." + std::to_string(getpid());
    unlink(temporary.c_str()); // left by an earlier process with our pid
    const int fd =
        open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0) {
        return Link::impossible;
    }
    // Readable by every user whatever our umask: others must see who holds it.
    const bool written = fchmod(fd, 0644) == 0 &&
                         write(fd, our_text, our_length) == static_cast<ssize_t>(our_length);
    close(fd);
    const bool linked = written && link(temporary.c_str(), lock_file.c_str()) == 0;
    const int error = errno;
    unlink(temporary.c_str());
    return linked ? Link::made : written && error == EEXIST ? Link::taken : Link::impossible;
}

// Whether the lock file still holds our pid.
bool holds_our_pid(const char* lock_file) {
    const int fd = open(lock_file, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    char text[sizeof our_text];
    const ssize_t got = read(fd, text, sizeof text);
    close(fd);
    return got == static_cast<ssize_t>(our_length) && std::memcmp(text, our_text, our_length) == 0;
}

void remember(const std::string& lock_file) {
    std::strcpy(made[made_count], lock_file.c_str());
    made_count = made_count + 1;
}

// Our lock file in one directory, or whoever holds the port by one there.
// A stale file is removed and the link tried again; so is a file that
// went away between our look and our link, and ours when it was replaced
// right after the link.
std::optional<LockHolder> lock_in(const std::string& dir, const std::string& name) {
    const std::string lock_file = dir + "/" + name;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const LockLook look = read_lock(lock_file);
        if (look.holder || made_count >= MAX_LOCK_FILES || lock_file.size() >= PATH_MAX) {
            return look.holder;
        }
        if (look.present) {
            remove_stale(lock_file, look.seen);
        }
        const Link link = link_our_lock(dir, lock_file);
        if (link == Link::impossible) {
            return std::nullopt;
        }
        if (link == Link::made && holds_our_pid(lock_file.c_str())) {
            remember(lock_file);
            return std::nullopt;
        }
    }
    return read_lock(lock_file).holder;
}

} // namespace

std::optional<LockHolder> lock_port(const std::string& path) {
    const std::optional<std::string> device = resolved_path(path);
    if (!device) {
        return std::nullopt;
    }
    const int length =
        std::snprintf(our_text, sizeof our_text, "%10d\n", static_cast<int>(getpid()));
    our_length = static_cast<std::size_t>(length);
    const std::string name = lock_name(*device);
    std::set<std::string> searched;
    for (const std::string& dir : lock_dirs()) {
        const std::optional<std::string> real_dir = resolved_path(dir);
        if (!real_dir || !searched.insert(*real_dir).second) {
            continue;
        }
        if (std::optional<LockHolder> holder = lock_in(*real_dir, name)) {
            unlock_port();
            return holder;
        }
    }
    return std::nullopt;
}

void unlock_port() {
    for (int i = 0; i < made_count; ++i) {
        if (holds_our_pid(made[i])) {
            unlink(made[i]);
        }
    }
    made_count = 0;
}
