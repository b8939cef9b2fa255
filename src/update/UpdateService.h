// Everything the main window starts for the remote configuration, the self-update and the version check, behind
// the few calls the window makes. The window keeps only what it shows: the update window and its progress bar.
// With the [hosts] config and update entries empty nothing is fetched and nothing is installed.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "engine/Hosts.h"
#include "engine/Notify.h"
#include "update/RemoteConfig.h"
#include "update/UpdateThread.h"
#include "update/autoUpdate.h"

namespace vexo {

struct TUpdateWindowHooks {
    std::function<void()> StopVersionCheck;  // the configuration carried version information: disable tmrupdate
    std::function<void()> HideTray;          // hand-over, just before the program ends
    // Ends the program at the hand-over; empty: every process of the program file, this one last.
    std::function<void(const std::string& programPath)> EndProgram;
    // Giving up after the last failed configuration download; empty: this process ends at once.
    std::function<void()> GiveUp;
};

class TUpdateService {
  public:
    // window receives the update notifications (kMsgUpdate); programDir and dataDir default to ProgramDir() and
    // AppDir().
    TUpdateService(THosts hosts, TWindowHandle window, TUpdateWindowHooks hooks, std::string programDir = {},
                   std::string dataDir = {});
    ~TUpdateService();
    TUpdateService(const TUpdateService&) = delete;
    TUpdateService& operator=(const TUpdateService&) = delete;

    // Start-up: fetch the remote configuration (nothing when no configuration host is set).
    void StartRemoteConfig();
    // The version-check timer fired: start the periodic check once (nothing when no update host is set).
    void StartVersionCheck(const std::string& version);
    // Starts an update with the record: the update window is asked for (kUpdateShowWindow, delivered
    // synchronously) before the first download starts. Done once; later records are dropped.
    void StartUpdate(std::unique_ptr<TUpDateInfo> info);
    // The window's handler of kUpdateHandOver. False when update.exe cannot be started: the program keeps running.
    bool HandOver();

    bool SelfUpdate() const { return selfUpdate_; }

  private:
    const THosts hosts_;
    const TWindowHandle window_;
    const TUpdateWindowHooks hooks_;
    const std::string programDir_;
    const bool selfUpdate_;
    std::unique_ptr<TRemoteConfig> remoteConfig_;
    std::unique_ptr<TAutoUpdate> update_;
    TUpdateThread* versionCheck_ = nullptr;  // runs for the life of the process
    bool versionCheckStarted_ = false;
};

}  // namespace vexo
