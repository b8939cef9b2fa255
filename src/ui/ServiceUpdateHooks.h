// The window's update hooks carried out by the update service: the remote configuration at start-up, the version
// check from the timer and the hand-over to the updater.
#pragma once

#include "ui/UpdateHooks.h"
#include "update/UpdateService.h"

namespace vexo {

class TServiceUpdateHooks final : public TUpdateHooks {
  public:
    // `programDir`: the folder the update is unpacked into, ended by "/".
    TServiceUpdateHooks(THosts hosts, TWindowHandle window, TUpdateWindowHooks hooks, std::string programDir)
        : service_(std::move(hosts), std::move(window), std::move(hooks), std::move(programDir)) {}

    void StartRemoteConfig() override { service_.StartRemoteConfig(); }
    void StartVersionCheck(const std::string& version) override { service_.StartVersionCheck(version); }
    bool HandOver() override { return service_.HandOver(); }

  private:
    TUpdateService service_;
};

}  // namespace vexo
