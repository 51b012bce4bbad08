// The usual end-to-end set-up: a pseudo-terminal device on a port, the
// tool started against it, and the start sequence already read.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "pty_device.h"
#include "tool_process.h"

namespace testing_support {

// A fresh temporary directory, removed with all it holds at the end.
class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // Writes `bytes` to path()/name (creating subdirectories); returns the path.
    std::string write_file(const std::string& name, const std::string& bytes) const;

  private:
    std::string path_;
};

// Makes `path` below test_root(): a file that holds `bytes` and a line
// feed, or with "-> target" a link to target (one already there stays).
void plant(const std::string& path, const std::string& bytes);

// A tty as the kernel shows it below test_root()'s sys/: its class entry,
// its device (`above` / `device`) with that device's driver, and its UART
// type or the attributes of the USB device `above` it (ids, then the
// strings it has).
void make_tty(const std::string& name, const std::string& above, const std::string& device,
              const std::string& driver, const std::vector<std::string>& attributes);

struct DeviceSession {
    // Links `port` to a new pty, starts the tool with `args` in `directory`
    // and reads the start sequence (through its 0 byte) into start_sequence.
    // The tool opens the port its arguments name (1 when none): `args` must
    // name `port` when it is not 1.
    explicit DeviceSession(const std::vector<std::string>& args, int port = 1,
                           const std::string& directory = "");

    PtyDevice device;
    std::unique_ptr<ToolProcess> tool;
    std::string start_sequence;
};

} // namespace testing_support
