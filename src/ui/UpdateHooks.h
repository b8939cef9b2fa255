// What the main window starts for the remote configuration, the version check and the update. The window calls
// these at the steps of its start-up, from its two timers and at the end of the downloads; the default does nothing.
#pragma once

#include <string>

namespace vexo {

class TUpdateHooks {
  public:
    virtual ~TUpdateHooks() = default;
    // Start-up: download the remote configuration on a worker thread.
    virtual void StartRemoteConfig() {}
    // Each tick of the configuration retry timer (tmrconfig).
    virtual void RemoteConfigRetry() {}
    // The one-shot version-check timer (tmrupdate) fired: check with the program's version.
    virtual void StartVersionCheck(const std::string& version) { (void)version; }
    // The downloads are over: start the updater and end the program. False when the updater cannot be started;
    // the program then keeps running.
    virtual bool HandOver() { return false; }
};

}  // namespace vexo
