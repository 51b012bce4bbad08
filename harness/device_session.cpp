#include "device_session.h"

#include <filesystem>
#include <fstream>
#include <stdlib.h>

#include "timing.h"

namespace testing_support {

std::string tool_under_test() { return LORVRC_UNDER_TEST; }

TempDir::TempDir() {
    std::string pattern = std::filesystem::temp_directory_path() / "lorvrc-test-XXXXXX";
    // The real path, as the tool's getcwd will name it, even when the
    // temporary directory is reached through a link.
    path_ = mkdtemp(pattern.data()) != nullptr ? std::filesystem::canonical(pattern).string() : "";
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write_file(const std::string& name, const std::string& bytes) const {
    const std::filesystem::path file = std::filesystem::path(path_) / name;
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << bytes;
    return file;
}

void plant(const std::string& path, const std::string& bytes) {
    const std::filesystem::path made = std::filesystem::path(test_root()) / path;
    std::filesystem::create_directories(made.parent_path());
    std::error_code exists;
    bytes.starts_with("-> ") ? std::filesystem::create_symlink(bytes.substr(3), made, exists)
                             : static_cast<void>(std::ofstream(made) << bytes << '\n');
}

void make_tty(const std::string& name, const std::string& above, const std::string& device,
              const std::string& driver, const std::vector<std::string>& attributes) {
    const char* const USB[] = {"idVendor", "idProduct", "manufacturer", "product", "serial"};
    plant("sys/class/tty/" + name + "/device", "-> ../../../devices/" + above + "/" + device);
    plant("sys/devices/" + above + "/" + device + "/driver", "-> " + driver);
    for (std::size_t i = 0; i < attributes.size(); ++i) {
        plant(attributes.size() == 1 ? "sys/class/tty/" + name + "/type"
                                     : "sys/devices/" + above + "/" + USB[i],
              attributes[i]);
    }
}

DeviceSession::DeviceSession(const std::vector<std::string>& args, int port,
                             const std::string& directory) {
    device.link_as_port(port);
    tool = std::make_unique<ToolProcess>(tool_under_test(), args, directory);
    start_sequence = device.receive_through_zero(DEADLINE);
}

} // namespace testing_support
