// Program folder and the rule for when the program may update itself.
#include "update/UpdateFiles.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace vexo {

std::string ProgramDir() {
    std::error_code error;
    const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error)
        return {};
    std::string dir = exe.parent_path().string();
    if (!dir.ends_with('/'))
        dir += '/';
    return dir;
}

bool SelfUpdateAllowed(const std::string& programDir, const std::string& dataDir) {
    if (programDir.empty() || dataDir.empty())
        return false;
    if (::access(programDir.c_str(), W_OK | X_OK) != 0)
        return false;
    std::error_code error;
    return std::filesystem::equivalent(programDir, dataDir, error) && !error;
}

}  // namespace vexo
