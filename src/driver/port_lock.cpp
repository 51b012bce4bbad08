#include "port_lock.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <set>
#include <unistd.h>

#include "host_paths.h"

namespace {

// The lock files we made, in static storage so the signal handler can
// remove them without allocating. Two directories are the usual; the
// build setting may name a few more.
constexpr int MAX_LOCK_FILES = 8;
char made[MAX_LOCK_FILES][PATH_MAX];
volatile std::sig_atomic_t made_count = 0;

constexpr int CLEANUP_SIGNALS[] = {SIGINT, SIGTERM, SIGHUP};

extern "C" void remove_locks_and_reraise(int signal) {
    for (int i = 0; i < made_count; ++i) {
        unlink(made[i]);
    }
    // SA_RESETHAND restored the default action: the signal, delivered when
    // the handler returns, ends the process as it would have.
    raise(signal);
}

void install_cleanup() {
    static bool installed = false;
    if (installed) {
        return;
    }
    installed = true;
    struct sigaction action {};
    action.sa_handler = remove_locks_and_reraise;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (const int signal : CLEANUP_SIGNALS) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : CLEANUP_SIGNALS) {
        struct sigaction old {};
        // nohup and background jobs ignore some signals on purpose.
        if (sigaction(signal, nullptr, &old) == 0 && old.sa_handler != SIG_IGN) {
            sigaction(signal, &action, nullptr);
        }
    }
}

// "LCK..<name>" for a resolved device path. Devices the kernel makes live
// in /dev even when a test build looks for named ones elsewhere.
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

// The process that a lock file names, if it is alive; 0 when the file is
// missing, names no process, or names one that is gone (a stale lock).
pid_t live_holder(const std::string& lock_file) {
    std::ifstream in(lock_file);
    long pid = 0;
    in >> pid;
    if (pid <= 0 || pid > INT_MAX || pid == getpid()) {
        return 0;
    }
    // EPERM: alive, only not ours to signal.
    const bool alive = kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
    return alive ? static_cast<pid_t>(pid) : 0;
}

// Creates the lock file with our process id; false (errno set) when it
// cannot be made, EEXIST when another program made it first.
bool create_lock_file(const std::string& lock_file) {
    const int fd = open(lock_file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    char text[16];
    const int length = std::snprintf(text, sizeof text, "%10d\n", static_cast<int>(getpid()));
    const bool written = write(fd, text, static_cast<std::size_t>(length)) == length;
    close(fd);
    if (!written) {
        unlink(lock_file.c_str());
    }
    return written;
}

// Whether a lock file of ours there could be removed again at every end.
bool room_for(const std::string& lock_file) {
    return made_count < MAX_LOCK_FILES && lock_file.size() < PATH_MAX;
}

void remember(const std::string& lock_file) {
    install_cleanup();
    std::strcpy(made[made_count], lock_file.c_str());
    made_count = made_count + 1;
}

// Our lock file in one directory, or the live process that holds the port
// by one there.
LockHolder lock_in(const std::string& dir, const std::string& name) {
    const std::string lock_file = dir + "/" + name;
    const pid_t holder = live_holder(lock_file);
    if (holder != 0) {
        return {holder, lock_file};
    }
    if (!room_for(lock_file)) {
        return {};
    }
    unlink(lock_file.c_str()); // a stale lock, or none at all
    if (create_lock_file(lock_file)) {
        remember(lock_file);
        return {};
    }
    // EEXIST: another program made it between our look and our create.
    // Any other failure: a directory we may not write to, no lock there.
    if (errno == EEXIST) {
        const pid_t winner = live_holder(lock_file);
        if (winner != 0) {
            return {winner, lock_file};
        }
    }
    return {};
}

} // namespace

std::string resolved_path(const std::string& path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) != nullptr ? buffer : "";
}

LockHolder lock_port(const std::string& path) {
    const std::string device = resolved_path(path);
    if (device.empty()) {
        return {};
    }
    const std::string name = lock_name(device);
    std::set<std::string> searched;
    for (const std::string& dir : lock_dirs()) {
        const std::string real_dir = resolved_path(dir);
        if (real_dir.empty() || !searched.insert(real_dir).second) {
            continue;
        }
        LockHolder holder = lock_in(real_dir, name);
        if (holder.pid != 0) {
            unlock_port();
            return holder;
        }
    }
    return {};
}

void unlock_port() {
    for (int i = 0; i < made_count; ++i) {
        unlink(made[i]);
    }
    made_count = 0;
}
