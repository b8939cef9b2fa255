// Program folder, the rule for when the program may update itself, starting the programs of an update.
#include "update/UpdateFiles.h"

#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

extern char** environ;

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

pid_t StartDetached(const std::string& path) {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attributes) != 0)
        return -1;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    sigset_t all;
    sigfillset(&all);
    posix_spawnattr_setsigdefault(&attributes, &all);
    sigset_t none;
    sigemptyset(&none);
    posix_spawnattr_setsigmask(&attributes, &none);
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (!folder.empty())
        posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::string argv0 = path;
    char* argv[] = {argv0.data(), nullptr};
    pid_t pid = -1;
    const int error = posix_spawn(&pid, path.c_str(), &actions, &attributes, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return error == 0 ? pid : -1;
}

}  // namespace vexo
