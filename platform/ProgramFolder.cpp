#include "platform/ProgramFolder.h"

#include <filesystem>
#include <system_error>

std::string ProgramFolder() {
    std::error_code ec;
    // /proc/self/exe names the executable itself, even when started through a link.
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec || exe.empty()) {
        std::filesystem::path cwd = std::filesystem::current_path(ec);
        return ec ? std::string(".") : cwd.string();
    }
    return exe.parent_path().string();
}
