// Hosts of the outside services from the client configuration file.
#include "engine/Hosts.h"

#include <utility>

#include "text/Global.h"

namespace vexo {

namespace {

// Replaces `host` with the configured value unless that is blank.
void Override(const TIniFile& config, std::string_view key, std::string& host) {
    std::string value = config.ReadString(kHostsSection, key, "");
    if (!Trim(value).empty())
        host = std::move(value);
}

}  // namespace

THosts LoadHosts(const TIniFile& config) {
    THosts hosts;
    Override(config, kHostKeyBaidu, hosts.Baidu);
    Override(config, kHostKeySo360, hosts.So360);
    Override(config, kHostKeySogou, hosts.Sogou);
    Override(config, kHostKeyIcp, hosts.Icp);
    Override(config, kHostKeyConfig, hosts.Config);
    Override(config, kHostKeyUpdate, hosts.Update);
    return hosts;
}

THosts LoadHosts(const std::string& cfgPath) {
    return LoadHosts(TIniFile(cfgPath));
}

std::string ClientConfigPath() {
    return AppDir() + std::string(kClientConfigFile);
}

}  // namespace vexo
