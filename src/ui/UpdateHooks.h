// What the main window starts for the remote configuration and the version check. The window calls these at the
// steps of its start-up and from its two timers; the default does nothing.
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
};

}  // namespace vexo
