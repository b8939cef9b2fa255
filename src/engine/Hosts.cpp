// Hosts of the outside services from the client configuration file.
#include "engine/Hosts.h"

#include <charconv>
#include <utility>

#include "text/Gbk.h"
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

namespace {

constexpr int kMaxPort = 65535;

bool IsNameByte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
           c == '.' || c >= 0x80;
}

bool IsIpv6Byte(unsigned char c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F') || c == ':' || c == '.';
}

bool IsPort(std::string_view text) {
    int port = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
    return !text.empty() && text.front() != '-' && text.front() != '+' && error == std::errc() &&
           end == text.data() + text.size() && port >= 1 && port <= kMaxPort;
}

}  // namespace

bool IsHostEntry(std::string_view text) {
    if (!IsValidUtf8(text))
        return false;
    std::string_view host = text;
    std::string_view rest;
    if (text.starts_with('[')) {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        for (const char c : text.substr(1, close - 1)) {
            if (!IsIpv6Byte(static_cast<unsigned char>(c)))
                return false;
        }
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        host = text.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
        if (host.empty() || host.front() == '.' || host.front() == '-' || host.find("..") != std::string_view::npos)
            return false;
        for (const char c : host) {
            if (!IsNameByte(static_cast<unsigned char>(c)))
                return false;
        }
    }
    return rest.empty() || (rest.front() == ':' && IsPort(rest.substr(1)));
}

std::vector<THostEntry> RefusedHosts(const THosts& hosts) {
    const std::pair<std::string_view, const std::string*> entries[] = {
        {kHostKeyBaidu, &hosts.Baidu}, {kHostKeySo360, &hosts.So360},   {kHostKeySogou, &hosts.Sogou},
        {kHostKeyIcp, &hosts.Icp},     {kHostKeyConfig, &hosts.Config}, {kHostKeyUpdate, &hosts.Update},
    };
    std::vector<THostEntry> refused;
    for (const auto& [key, host] : entries) {
        if (!host->empty() && !IsHostEntry(*host))
            refused.push_back({key, *host});
    }
    return refused;
}

THosts LoadHosts(const std::string& cfgPath) {
    return LoadHosts(TIniFile(cfgPath));
}

std::string ClientConfigPath() {
    return AppDir() + std::string(kClientConfigFile);
}

}  // namespace vexo
