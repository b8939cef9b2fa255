// Hosts of the outside services, from the [hosts] section of the client configuration file. An empty host
// means the service is not used: no filing lookup, no remote configuration, no version check.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

// True when the text can stand between "http://" and the path of an address: a host name (ASCII letters, digits,
// "-", "_" and ".", or non-ASCII UTF-8 for an international name), an IPv4 address, or an IPv6 address in
// brackets, optionally followed by ":" and a port from 1 to 65535. A scheme, a path, a user, a query, white space
// or a control character makes it no host.
bool IsHostEntry(std::string_view text);

struct THostEntry {
    std::string_view Key;  // the [hosts] key
    std::string Value;
};

// The configured hosts that are not IsHostEntry, in key order; an empty host (a service not used) is none.
std::vector<THostEntry> RefusedHosts(const THosts& hosts);

// AppDir() + kClientConfigFile.
std::string ClientConfigPath();

}  // namespace vexo
