// update.exe: installs a downloaded program package. Started by the program just before it ends, it waits for
// the program named in uplog.txt to end (ending it after a bounded wait), unpacks update.zip over the program
// folder under the same rules as any package, deletes it, and starts the program again. What it did goes to
// update.log in the program folder.
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <dirent.h>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <string>
#include <string_view>
#include <thread>

#include "text/Global.h"
#include "update/UpdateFiles.h"
#include "update/ZipUnpack.h"

namespace {

// The version FileVersionText reads from this file; kept in the binary by being used.
constexpr char kEmbeddedVersion[] = "VEXO_FILE_VERSION=1.0.0.1";

constexpr std::chrono::milliseconds kProgramEndWait{5000};
constexpr std::chrono::milliseconds kKillWait{3000};
constexpr std::chrono::milliseconds kPollInterval{100};
constexpr std::string_view kDeletedSuffix = " (deleted)";

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;

class TLog {
  public:
    explicit TLog(const std::string& path) : file_(path, std::ios::app) {}
    void Line(const std::string& text) {
        const std::time_t now = std::time(nullptr);
        char stamp[32] = {};
        std::tm local{};
        localtime_r(&now, &local);
        std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
        file_ << stamp << ' ' << text << '\n';
        file_.flush();
        std::fprintf(stderr, "update.exe: %s\n", text.c_str());
    }

  private:
    std::ofstream file_;
};

// True while a process of this user runs the program file.
bool ProgramRuns(const std::string& programPath) {
    DIR* proc = ::opendir("/proc");
    if (proc == nullptr)
        return false;
    bool found = false;
    const pid_t self = ::getpid();
    while (const dirent* entry = ::readdir(proc)) {
        char* end = nullptr;
        const long id = std::strtol(entry->d_name, &end, 10);
        if (end == entry->d_name || *end != '\0' || id <= 0 || id == self)
            continue;
        const std::string dir = std::string("/proc/") + entry->d_name;
        struct stat info {};
        if (::stat(dir.c_str(), &info) != 0 || info.st_uid != ::getuid())
            continue;
        char target[4096];
        const ssize_t length = ::readlink((dir + "/exe").c_str(), target, sizeof target - 1);
        if (length <= 0)
            continue;
        std::string exe(target, static_cast<std::size_t>(length));
        if (exe.ends_with(kDeletedSuffix))
            exe.resize(exe.size() - kDeletedSuffix.size());
        if (exe == programPath) {
            found = true;
            break;
        }
    }
    ::closedir(proc);
    return found;
}

bool WaitUntilEnded(const std::string& programPath, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (ProgramRuns(programPath)) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(kPollInterval);
    }
    return true;
}

// The program file named in uplog.txt: its first line without line ends, a plain file name.
std::string ReadProgramName(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line))
        return {};
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.pop_back();
    if (line.empty() || line == "." || line == ".." || line.find('/') != std::string::npos ||
        line.find('\0') != std::string::npos)
        return {};
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string_view(argv[1]) == "--version") {
        std::printf("%s\n", kEmbeddedVersion + std::strlen("VEXO_FILE_VERSION="));
        return kExitOk;
    }
    const std::string dir = vexo::ProgramDir();
    if (dir.empty()) {
        std::fprintf(stderr, "update.exe: cannot find its own folder\n");
        return kExitFailed;
    }
    TLog log(dir + std::string(vexo::kUpdaterLogFile));
    log.Line(std::string("updater ") + (kEmbeddedVersion + std::strlen("VEXO_FILE_VERSION=")) + " in " + dir);

    const std::string handOver = dir + std::string(vexo::kHandOverFile);
    const std::string program = ReadProgramName(handOver);
    if (program.empty()) {
        log.Line("no program named in " + handOver + "; nothing done");
        return kExitFailed;
    }
    const std::string programPath = dir + program;
    if (!WaitUntilEnded(programPath, kProgramEndWait)) {
        log.Line(program + " still runs after " + std::to_string(kProgramEndWait.count()) + " ms: ending it");
        vexo::KillProcessByName(programPath);
        if (!WaitUntilEnded(programPath, kKillWait)) {
            log.Line(program + " could not be ended; nothing installed");
            return kExitFailed;
        }
    }
    log.Line(program + " has ended");

    int status = kExitOk;
    const std::string package = dir + std::string(vexo::kProgramPackageFile);
    struct stat info {};
    if (::stat(package.c_str(), &info) != 0) {
        log.Line("no " + std::string(vexo::kProgramPackageFile) + "; nothing to install");
    } else {
        const vexo::TUnpackResult result =
            vexo::UnpackArchive(package, dir, vexo::ProgramFolderRules(vexo::ExeFileName()));
        if (result.Ok) {
            for (const std::string& file : result.Files)
                log.Line("installed " + file);
            if (::unlink(package.c_str()) != 0)
                log.Line("cannot delete " + package + ": " + std::strerror(errno));
            else
                log.Line("deleted " + std::string(vexo::kProgramPackageFile));
        } else {
            // The package stays for inspection; the next download replaces it.
            log.Line("package refused, nothing installed: " + result.Error);
            status = kExitFailed;
        }
    }

    const pid_t pid = vexo::StartDetached(programPath);
    if (pid < 0) {
        log.Line("cannot start " + programPath);
        return kExitFailed;
    }
    log.Line("started " + program + " (process " + std::to_string(pid) + ")");
    return status;
}
