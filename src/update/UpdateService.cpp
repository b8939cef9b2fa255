// The update side of the main window.
#include "update/UpdateService.h"

#include "text/Global.h"

namespace vexo {

TUpdateService::TUpdateService(THosts hosts, TWindowHandle window, TUpdateWindowHooks hooks, std::string programDir,
                               std::string dataDir)
    : hosts_(std::move(hosts)),
      window_(std::move(window)),
      hooks_(std::move(hooks)),
      programDir_(programDir.empty() ? ProgramDir() : std::move(programDir)),
      selfUpdate_(SelfUpdateAllowed(programDir_, dataDir.empty() ? AppDir() : dataDir)) {}

TUpdateService::~TUpdateService() {
    if (versionCheck_ != nullptr) {
        versionCheck_->ClearOnTerminate();
        versionCheck_->Terminate();
    }
}

void TUpdateService::StartRemoteConfig() {
    if (hosts_.Config.empty() || remoteConfig_)
        return;
    TRemoteConfigHooks hooks;
    hooks.StopVersionCheck = hooks_.StopVersionCheck;
    hooks.GiveUp = hooks_.GiveUp;
    hooks.StartUpdate = [this](std::unique_ptr<TUpDateInfo> info) { StartUpdate(std::move(info)); };
    remoteConfig_ = std::make_unique<TRemoteConfig>(RemoteConfigAddress(hosts_.Config), programDir_, selfUpdate_,
                                                    std::move(hooks), window_->Dispatcher());
    remoteConfig_->Start();
}

void TUpdateService::StartVersionCheck(const std::string& version) {
    if (hosts_.Update.empty() || versionCheckStarted_)
        return;
    versionCheckStarted_ = true;
    // The answer is handed over and discarded: the program takes no action on it.
    auto check = std::make_unique<TUpdateThread>(hosts_.Update, version, programDir_, nullptr);
    check->SetOnTerminate([this] { versionCheck_ = nullptr; });
    versionCheck_ = TWorkerThread::Start(std::move(check));
}

void TUpdateService::StartUpdate(std::unique_ptr<TUpDateInfo> info) {
    if (update_ || !info || !info->HasUpdate || !selfUpdate_)
        return;
    window_->Deliver({kMsgUpdate, kUpdateShowWindow, std::intptr_t{0}});
    update_ = std::make_unique<TAutoUpdate>(window_, std::move(info), programDir_, ExeFileName());
    update_->Start();
}

bool TUpdateService::HandOver() {
    return vexo::HandOver(programDir_, ExeFileName(), {hooks_.HideTray, hooks_.EndProgram});
}

}  // namespace vexo
