// The update run and the hand-over to the updater program.
#include "update/autoUpdate.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>

#include "platform/Shutdown.h"
#include "text/Global.h"

namespace vexo {

namespace {

constexpr std::string_view kLineEnd = "\r\n";

// A link is refused too: the file started must be the one the package put there.
bool IsRegularExecutable(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

TAutoUpdate::TAutoUpdate(TWindowHandle window, std::unique_ptr<TUpDateInfo> info, std::string programDir,
                         std::string runningProgram)
    : window_(std::move(window)),
      info_(info ? std::move(info) : std::make_unique<TUpDateInfo>()),
      programDir_(std::move(programDir)),
      runningProgram_(std::move(runningProgram)) {}

TAutoUpdate::~TAutoUpdate() {
    if (current_ != nullptr) {
        current_->ClearOnTerminate();
        current_->Terminate();
    }
}

void TAutoUpdate::Start() {
    if (!info_->HasUpdate || current_ != nullptr)
        return;
    StartDownload(info_->UpdateUrl, kProgramPackageFile, TDownKind::Plain, info_->UpdateCrc,
                  &TAutoUpdate::ProgramPackageEnded);
}

void TAutoUpdate::StartDownload(const std::string& address, std::string_view file, TDownKind kind, std::uint32_t crc,
                                void (TAutoUpdate::*handler)(std::uint8_t status)) {
    auto download = std::make_unique<TDownIdHttp>(window_, address, programDir_ + std::string(file), kind, crc,
                                                  kMsgUpdate, ProgramFolderRules(runningProgram_));
    TDownIdHttp* raw = download.get();
    download->SetOnTerminate([this, raw, handler] {
        current_ = nullptr;
        (this->*handler)(raw->Status());
    });
    current_ = raw;
    if (TWorkerThread::Start(std::move(download)) == nullptr)
        current_ = nullptr;  // the callback has already reported the failure
}

void TAutoUpdate::ProgramPackageEnded(std::uint8_t status) {
    if (status != kDownDone) {
        if (window_)
            window_->Post(kMsgUpdate, static_cast<std::int8_t>(status));
        return;
    }
    if (info_->NeedUpdater) {
        StartDownload(info_->UpdaterUrl, kUpdaterPackageFile, TDownKind::Zip, info_->UpdaterCrc,
                      &TAutoUpdate::UpdaterPackageEnded);
        return;
    }
    if (window_)
        window_->Post(kMsgUpdate, kUpdateHandOver);
}

void TAutoUpdate::UpdaterPackageEnded(std::uint8_t) {
    // The hand-over happens whatever became of the updater package.
    if (window_)
        window_->Post(kMsgUpdate, kUpdateHandOver);
}

bool HandOver(const std::string& programDir, const std::string& programFileName, const THandOverSteps& steps,
              pid_t* updaterPid) {
    const std::string updater = programDir + std::string(kUpdaterFile);
    if (!IsRegularExecutable(updater))
        return false;
    const std::string log = programDir + std::string(kHandOverFile);
    std::FILE* file = std::fopen(log.c_str(), "wb");
    if (file == nullptr)
        return false;
    const std::string line = programFileName + std::string(kLineEnd);
    const bool wrote = std::fwrite(line.data(), 1, line.size(), file) == line.size();
    if (std::fclose(file) != 0 || !wrote)
        return false;
    const pid_t pid = StartDetached(updater);
    if (pid < 0)
        return false;
    if (updaterPid != nullptr)
        *updaterPid = pid;
    if (steps.HideTray)
        steps.HideTray();
    const std::string programPath = programDir + programFileName;
    if (steps.EndProgram) {
        steps.EndProgram(programPath);
        return true;
    }
    // The other instances end at once; this one through the exit path, its files closed.
    KillProcessByName(programPath, false);
    ExitProgram(0);
}

}  // namespace vexo
