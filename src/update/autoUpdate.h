// The update run: the program package, then the updater package when needed, then the hand-over to update.exe.
// Progress and the end of the downloads reach the main window as update notifications (kMsgUpdate):
//   wParam kUpdateShowWindow (sent by the window itself before Start), kUpdateProgress with the percent,
//   kUpdateHandOver when the downloads are over, 0 or -1 (the status as a signed byte) when the program package
//   failed. The window shows; HandOver does the rest.
#pragma once

#include <sys/types.h>

#include <functional>
#include <memory>
#include <string>

#include "engine/Notify.h"
#include "update/DownIdHttp.h"
#include "update/UpdateFiles.h"

namespace vexo {

class TAutoUpdate {
  public:
    // programDir: the folder of the program files (ProgramDir()); runningProgram: the file name of the program
    // that runs the update, which the updater package may not replace.
    TAutoUpdate(TWindowHandle window, std::unique_ptr<TUpDateInfo> info, std::string programDir,
                std::string runningProgram);
    // Tells a running download to stop; it reports to nobody afterwards.
    ~TAutoUpdate();
    TAutoUpdate(const TAutoUpdate&) = delete;
    TAutoUpdate& operator=(const TAutoUpdate&) = delete;

    // Starts the program package download when the record announces an update. UI thread.
    void Start();

    const TUpDateInfo& Info() const { return *info_; }
    bool Downloading() const { return current_ != nullptr; }

  private:
    void StartDownload(const std::string& address, std::string_view file, TDownKind kind, std::uint32_t crc,
                       void (TAutoUpdate::*handler)(std::uint8_t status));
    void ProgramPackageEnded(std::uint8_t status);
    void UpdaterPackageEnded(std::uint8_t status);

    const TWindowHandle window_;
    const std::unique_ptr<TUpDateInfo> info_;
    const std::string programDir_;
    const std::string runningProgram_;
    TDownIdHttp* current_ = nullptr;  // not owned: the download frees itself
};

// What the hand-over needs from the program besides the files.
struct THandOverSteps {
    std::function<void()> HideTray;
    // Ends every running instance of the program, this one last and through its exit path. Empty: kill the other
    // processes of the program file (KillProcessByName) and end this one with ExitProgram.
    std::function<void(const std::string& programPath)> EndProgram;
};

// Hand-over to the updater: writes uplog.txt (the program's file name and CR LF), starts update.exe directly
// (never through a file-type handler) in its own session, then ends the program. False, with nothing started
// and the program left running, when update.exe is not a regular executable file or cannot be started.
bool HandOver(const std::string& programDir, const std::string& programFileName, const THandOverSteps& steps,
              pid_t* updaterPid = nullptr);

}  // namespace vexo
