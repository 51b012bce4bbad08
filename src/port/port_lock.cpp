#include "port_lock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
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
    const std::string dev_dir = resolved_path(dev_root());
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

// The live process a lock file's text names; 0 when it names none, or one
// that is gone (a stale lock), or us.
pid_t live_pid(const char* text) {
    const long pid = std::strtol(text, nullptr, 10);
    if (pid <= 0 || pid > INT_MAX || pid == getpid()) {
        return 0;
    }
    // EPERM: alive, only not ours to signal.
    const bool alive = kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    return alive ? static_cast<pid_t>(pid) : 0;
}

// What sits at the lock name; `present` tells whether anything does. The
// directory is writable by every user: a FIFO or a link planted there must
// neither block us nor lead us elsewhere, so links are not followed and
// the open never waits.
LockHolder read_lock(const std::string& lock_file, bool& present) {
    const int fd =
        open(lock_file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    present = fd >= 0 || errno != ENOENT;
    if (fd < 0) {
        return {0, lock_file, !present};
    }
    struct stat info {};
    char text[32] = {};
    const bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    const ssize_t got = regular ? read(fd, text, sizeof text - 1) : -1;
    close(fd);
    return {got < 0 ? 0 : live_pid(text), lock_file, got >= 0};
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
// went away between our look and our link.
LockHolder lock_in(const std::string& dir, const std::string& name) {
    const std::string lock_file = dir + "/" + name;
    bool present = false;
    for (int attempt = 0; attempt < 3; ++attempt) {
        LockHolder holder = read_lock(lock_file, present);
        if (holder.holds() || made_count >= MAX_LOCK_FILES || lock_file.size() >= PATH_MAX) {
            return holder;
        }
        if (present) {
            unlink(lock_file.c_str()); // stale: its process is gone
        }
        const Link link = link_our_lock(dir, lock_file);
        if (link == Link::made) {
            remember(lock_file);
        }
        if (link != Link::taken) {
            return {};
        }
    }
    return read_lock(lock_file, present);
}

} // namespace

LockHolder lock_port(const std::string& path) {
    const std::string device = resolved_path(path);
    if (device.empty()) {
        return {};
    }
    const int length =
        std::snprintf(our_text, sizeof our_text, "%10d\n", static_cast<int>(getpid()));
    our_length = static_cast<std::size_t>(length);
    const std::string name = lock_name(device);
    std::set<std::string> searched;
    for (const std::string& dir : lock_dirs()) {
        const std::string real_dir = resolved_path(dir);
        if (real_dir.empty() || !searched.insert(real_dir).second) {
            continue;
        }
        LockHolder holder = lock_in(real_dir, name);
        if (holder.holds()) {
            unlock_port();
            return holder;
        }
    }
    return {};
}

void unlock_port() {
    for (int i = 0; i < made_count; ++i) {
        if (holds_our_pid(made[i])) {
            unlink(made[i]);
        }
    }
    made_count = 0;
}
