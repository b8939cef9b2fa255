// Reading and applying the remote configuration.
#include "update/RemoteConfig.h"

#include <unistd.h>

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <pugixml.hpp>
#include <system_error>
#include <vector>

#include "platform/MessageBox.h"
#include "text/Gbk.h"
#include "text/Global.h"
#include "update/HttpCreate.h"
#include "update/desutil.h"

namespace vexo {

namespace {

constexpr std::string_view kHttpScheme = "http://";
constexpr const char* kVersionElement = "version";
constexpr const char* kProgramElement = "vexo";
constexpr const char* kUpdaterElement = "vexoupdate";
constexpr const char* kVerAttribute = "ver";
constexpr const char* kCrcAttribute = "crc";
constexpr const char* kForceAttribute = "force";
constexpr std::string_view kForceOn = "1";

// A 32-bit decimal part of a version; 0 when it is not one.
std::int32_t VersionPart(std::string_view part) {
    std::int32_t value = 0;
    const char* begin = part.data();
    const char* end = part.data() + part.size();
    if (!part.empty() && part.front() == '+')
        ++begin;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    return (ec == std::errc() && ptr == end && begin != end) ? value : 0;
}

std::vector<std::string_view> VersionParts(std::string_view version) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start < version.size()) {
        const std::size_t dot = version.find('.', start);
        if (dot == std::string_view::npos) {
            parts.push_back(version.substr(start));
            return parts;
        }
        parts.push_back(version.substr(start, dot - start));
        start = dot + 1;
    }
    return parts;  // a trailing "." adds no empty part
}

// The decimal number with "." as decimal point; 0 when the text is not one.
double DecimalNumber(std::string_view text) {
    text = Trim(text);
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (!text.empty() && text.front() == '+')
        ++begin;
    double value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value, std::chars_format::fixed);
    return (ec == std::errc() && ptr == end && begin != end) ? value : 0.0;
}

// "crc": a signed 64-bit decimal (0 when absent or invalid) of which the low 32 bits count.
std::uint32_t CrcAttribute(std::string_view text) {
    text = Trim(text);
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    if (!text.empty() && text.front() == '+')
        ++begin;
    std::int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (ec != std::errc() || ptr != end || begin == end)
        return 0;
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(value) & 0xFFFFFFFFU);
}

// First run of character data that is not blank, trimmed of blanks and control characters.
std::string ElementText(const pugi::xml_node& element) {
    for (const pugi::xml_node child : element.children()) {
        if (child.type() != pugi::node_pcdata && child.type() != pugi::node_cdata)
            continue;
        const std::string_view text = Trim(child.value());
        if (!text.empty())
            return std::string(text);
    }
    return {};
}

// The plain text's lines (CR, LF or CR LF) joined with CR LF.
std::string JoinLinesCrLf(std::string_view text) {
    std::string joined;
    joined.reserve(text.size() + text.size() / 16);
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t br = text.find_first_of("\r\n", pos);
        if (!joined.empty() || pos > 0)
            joined += "\r\n";
        if (br == std::string_view::npos) {
            joined.append(text.substr(pos));
            break;
        }
        joined.append(text.substr(pos, br - pos));
        pos = br + ((text[br] == '\r' && br + 1 < text.size() && text[br + 1] == '\n') ? 2 : 1);
    }
    return joined;
}

// The first complete top-level element, or an empty node. A document that breaks off after it still has it.
pugi::xml_node FirstCompleteElement(const pugi::xml_document& document, const pugi::xml_parse_result& parsed) {
    const pugi::xml_node first =
        document.find_child([](const pugi::xml_node& node) { return node.type() == pugi::node_element; });
    if (!first)
        return {};
    if (parsed)
        return first;
    // After an error the tree holds what was read; the first element was closed when anything follows it.
    return first.next_sibling() ? first : pugi::xml_node();
}

void ReadProgramElement(const pugi::xml_node& element, TUpDateInfo& info) {
    const std::string_view ver = element.attribute(kVerAttribute).as_string();
    if (ver.empty() || !(DecimalNumber(ver) > DecimalNumber(kProgramVersion)))
        return;
    info.HasUpdate = true;
    info.ForceUpdate = std::string_view(element.attribute(kForceAttribute).as_string()) == kForceOn;
    info.UpdateUrl = ElementText(element);
    info.UpdateCrc = CrcAttribute(element.attribute(kCrcAttribute).as_string());
}

void ReadUpdaterElement(const pugi::xml_node& element, TUpdaterState& updater, bool selfUpdateAllowed,
                        TRemoteConfigResult& result) {
    const std::uint32_t crc = CrcAttribute(element.attribute(kCrcAttribute).as_string());
    const std::string_view ver = element.attribute(kVerAttribute).as_string();
    if (updater.Exists) {
        if (ver.empty() || !IsVersionNewer(ver, updater.Version) || !selfUpdateAllowed)
            return;
        // The outdated updater goes; later elements find it missing.
        result.ReplaceUpdater = true;
        updater.Exists = false;
    }
    result.Info.NeedUpdater = true;
    result.Info.UpdaterUrl = ElementText(element);
    result.Info.UpdaterCrc = crc;
}

}  // namespace

std::string RemoteConfigAddress(std::string_view host) {
    std::string address(kHttpScheme);
    address += host;
    address += kRemoteConfigPath;
    return address;
}

bool IsVersionNewer(std::string_view a, std::string_view b) {
    const std::vector<std::string_view> partsA = VersionParts(a);
    const std::vector<std::string_view> partsB = VersionParts(b);
    if (partsA.size() != partsB.size())
        return false;
    for (std::size_t i = 0; i < partsA.size(); ++i) {
        const std::int32_t left = VersionPart(partsA[i]);
        const std::int32_t right = VersionPart(partsB[i]);
        if (left != right)
            return left > right;
    }
    return false;
}

TUpdaterState ReadUpdaterState(const std::string& programDir) {
    TUpdaterState state;
    const std::string path = programDir + std::string(kUpdaterFile);
    std::error_code error;
    state.Exists = std::filesystem::exists(path, error) && !error;
    if (state.Exists)
        state.Version = FileVersionText(path);
    return state;
}

TRemoteConfigResult ReadRemoteConfigXml(std::string_view plainGbk, const TUpdaterState& updaterAtStart,
                                        bool selfUpdateAllowed) {
    TRemoteConfigResult result;
    const std::string xml = GbkToUtf8(JoinLinesCrLf(plainGbk));
    pugi::xml_document document;
    const pugi::xml_parse_result parsed =
        document.load_buffer(xml.data(), xml.size(), pugi::parse_default, pugi::encoding_utf8);
    const pugi::xml_node root = FirstCompleteElement(document, parsed);
    if (!root)
        return result;
    result.Parsed = true;
    TUpdaterState updater = updaterAtStart;
    for (const pugi::xml_node version : root.children(kVersionElement)) {
        result.HasVersionInfo = true;
        for (const pugi::xml_node element : version.children()) {
            if (element.type() != pugi::node_element)
                continue;
            const std::string_view name = element.name();
            if (name == kProgramElement) {
                if (selfUpdateAllowed)
                    ReadProgramElement(element, result.Info);
            } else if (name == kUpdaterElement) {
                ReadUpdaterElement(element, updater, selfUpdateAllowed, result);
            }
        }
    }
    return result;
}

TRemoteConfigResult ReadRemoteConfig(std::string_view body, const TUpdaterState& updater, bool selfUpdateAllowed) {
    std::string plain;
    if (body.empty() || !DesDecodeStream(body, plain, kConfigKey))
        return {};
    return ReadRemoteConfigXml(plain, updater, selfUpdateAllowed);
}

TRemoteConfig::TRemoteConfig(std::string address, std::string programDir, bool selfUpdateAllowed,
                             TRemoteConfigHooks hooks, std::shared_ptr<TDispatcher> dispatcher)
    : address_(std::move(address)),
      programDir_(std::move(programDir)),
      selfUpdateAllowed_(selfUpdateAllowed),
      hooks_(std::move(hooks)),
      dispatcher_(std::move(dispatcher)),
      self_(std::make_shared<TRemoteConfig*>(this)) {}

TRemoteConfig::~TRemoteConfig() {
    if (retryTimer_ != kNoTimer)
        dispatcher_->StopTimer(retryTimer_);
}

void TRemoteConfig::Start() {
    retryCount_ = 0;
    Download();
}

void TRemoteConfig::Download() {
    std::weak_ptr<TRemoteConfig*> weak = self_;
    THttpCreate::Create(address_, [weak](const std::string& body) {
        if (const auto self = weak.lock())
            (*self)->ApplyRemoteConfig(body);
    });
}

void TRemoteConfig::ApplyRemoteConfig(const std::string& body) {
    if (body.empty()) {
        ConfigFailed();
        return;
    }
    TRemoteConfigResult result;
    try {
        result = ReadRemoteConfig(body, ReadUpdaterState(programDir_), selfUpdateAllowed_);
    } catch (const std::exception&) {
        result.Parsed = false;  // any error while reading counts as a failed download
    }
    if (!result.Parsed) {
        ConfigFailed();
        return;
    }
    applied_ = true;
    if (result.HasVersionInfo && hooks_.StopVersionCheck)
        hooks_.StopVersionCheck();
    if (result.ReplaceUpdater) {
        const std::string updater = programDir_ + std::string(kUpdaterFile);
        KillProcessByName(updater);
        std::error_code ignored;  // a file that stays is unpacked over during the next update
        std::filesystem::remove(updater, ignored);
    }
    if (!result.Info.HasUpdate)
        return;
    if (result.Info.ForceUpdate)
        ShowMessageBox(kForcedUpdateText, kMessageCaption, kBoxInformation);
    if (hooks_.StartUpdate)
        hooks_.StartUpdate(std::make_unique<TUpDateInfo>(result.Info));
}

void TRemoteConfig::ConfigFailed() {
    if (retryCount_ < kMaxConfigRetries) {
        std::weak_ptr<TRemoteConfig*> weak = self_;
        retryTimer_ = dispatcher_->StartSingleShot(kConfigRetryDelay, [weak] {
            if (const auto self = weak.lock())
                (*self)->RetryTimer();
        });
        return;
    }
    ShowMessageBox(kConfigFailedText, kMessageCaption, kBoxInformation);
    if (hooks_.GiveUp) {
        hooks_.GiveUp();
        return;
    }
    KillProcessById(::getpid());
}

void TRemoteConfig::RetryTimer() {
    retryTimer_ = kNoTimer;
    ++retryCount_;
    Download();
}

}  // namespace vexo
