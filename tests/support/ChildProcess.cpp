#include "support/ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

extern char** environ;

namespace vexo::test {

namespace fs = std::filesystem;

pid_t SpawnChild(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
                 const std::string& outPath, const std::string& errPath) {
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    std::vector<char*> envp;
    for (const std::string& entry : environment)
        envp.push_back(const_cast<char*>(entry.c_str()));
    envp.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (out < 0 || err < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0)
            _exit(127);
        execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    if (pid > 0)
        setpgid(pid, pid);  // also from here, so the group exists before the caller signals it
    return pid;
}

std::optional<int> WaitForChild(pid_t pid, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0 || std::chrono::steady_clock::now() >= end)
            return std::nullopt;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void KillChildGroup(pid_t pid) {
    kill(-pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
}

std::vector<std::string> EnvironmentWithout(const std::vector<std::string>& names) {
    std::vector<std::string> kept;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string name = text.substr(0, text.find('='));
        bool drop = false;
        for (const std::string& unwanted : names)
            drop = drop || name == unwanted;
        if (!drop)
            kept.push_back(text);
    }
    return kept;
}

std::vector<pid_t> ProcessesRunning(const std::string& exe, const std::string& argumentPart) {
    std::vector<pid_t> found;
    std::error_code error;
    const fs::path wanted = fs::weakly_canonical(exe, error);
    for (const fs::directory_entry& entry : fs::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.empty() || name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::error_code linkError;
        const fs::path program = fs::read_symlink(entry.path() / "exe", linkError);
        if (linkError || program != wanted)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string statText((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
        const std::size_t close = statText.rfind(')');
        if (close != std::string::npos && close + 2 < statText.size() && statText[close + 2] == 'Z')
            continue;
        std::ifstream cmdline(entry.path() / "cmdline", std::ios::binary);
        const std::string arguments((std::istreambuf_iterator<char>(cmdline)), std::istreambuf_iterator<char>());
        if (arguments.find(argumentPart) != std::string::npos)
            found.push_back(static_cast<pid_t>(std::stoi(name)));
    }
    return found;
}

}  // namespace vexo::test
