// Hosts of the outside services, from the [hosts] section of the client configuration file. An empty host
// means the service is not used: no filing lookup, no remote configuration, no version check.
#pragma once

#include <string>
#include <string_view>

#include "text/IniFile.h"

namespace vexo {

// The client configuration file in the program directory.
inline constexpr std::string_view kClientConfigFile = "qzclient.cfg";

inline constexpr std::string_view kHostsSection = "hosts";
inline constexpr std::string_view kHostKeyBaidu = "baidu";
inline constexpr std::string_view kHostKeySo360 = "so360";
inline constexpr std::string_view kHostKeySogou = "sogou";
inline constexpr std::string_view kHostKeyIcp = "icp";
inline constexpr std::string_view kHostKeyConfig = "config";
inline constexpr std::string_view kHostKeyUpdate = "update";

// The search endpoints used when none is configured.
inline constexpr std::string_view kDefaultBaiduSearchHost = "www.baidu.com";
inline constexpr std::string_view kDefault360SearchHost = "www.so.com";
inline constexpr std::string_view kDefaultSogouSearchHost = "www.sogou.com";

struct THosts {
    std::string Baidu{kDefaultBaiduSearchHost};  // search endpoints
    std::string So360{kDefault360SearchHost};
    std::string Sogou{kDefaultSogouSearchHost};
    std::string Icp;     // ICP filing lookup service
    std::string Config;  // remote configuration server
    std::string Update;  // version check and update server
};

// The hosts configured in [hosts]; a missing or blank key keeps its default.
THosts LoadHosts(const TIniFile& config);
THosts LoadHosts(const std::string& cfgPath);

// AppDir() + kClientConfigFile.
std::string ClientConfigPath();

}  // namespace vexo
