// The remote configuration: what an envelope announces (a pure reading, usable by the command-line tool) and the
// controller that fetches it at start, retries, applies it and starts an update or gives up.
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/Dispatcher.h"
#include "update/UpdateFiles.h"

namespace vexo {

inline constexpr std::string_view kRemoteConfigPath = "/soft/pelq/config.txt";
inline constexpr int kMaxConfigRetries = 3;
inline constexpr std::chrono::milliseconds kConfigRetryDelay{1000};

inline constexpr const char* kForcedUpdateText = "您的客户端版本太低，服务端已不支持，需升级到最新版本才能正常使用！";
inline constexpr const char* kConfigFailedText =
    "获取服务配置信息发生了错误,请检查网络连接和 qzclient.cfg 中 [hosts] 的 config 设置，或与软件管理员联系！";

// "http://" + host + the configuration path.
std::string RemoteConfigAddress(std::string_view host);

// True when dotted version a is newer than b: both have the same number of parts ("." splits, a trailing "."
// adds none) and at the first pair that differs a's is greater. Parts that are not 32-bit numbers read as 0.
bool IsVersionNewer(std::string_view a, std::string_view b);

// The updater program as the configuration sees it.
struct TUpdaterState {
    bool Exists = false;
    std::string Version;  // FileVersionText of the file when it exists
};

TUpdaterState ReadUpdaterState(const std::string& programDir);

struct TRemoteConfigResult {
    bool Parsed = false;          // the envelope decoded to XML with a complete top-level element
    bool HasVersionInfo = false;  // a "version" element: the fallback version check is not needed
    TUpDateInfo Info;
    bool ReplaceUpdater = false;  // the present update.exe is outdated: end it and delete it
};

// Reads what an envelope announces, without touching any file or process. With self-update not allowed no
// program update is announced and the updater is never replaced.
TRemoteConfigResult ReadRemoteConfig(std::string_view body, const TUpdaterState& updater, bool selfUpdateAllowed);

// Reads what a decoded plain text (GBK XML) announces; as above.
TRemoteConfigResult ReadRemoteConfigXml(std::string_view plainGbk, const TUpdaterState& updater,
                                        bool selfUpdateAllowed);

// What the controller asks of the program; each may be empty.
struct TRemoteConfigHooks {
    std::function<void()> StopVersionCheck;                         // the configuration carried version info
    std::function<void(std::unique_ptr<TUpDateInfo>)> StartUpdate;  // after the forced-update message if any
    std::function<void()> GiveUp;  // after the failure message; empty: end the own process at once
};

// Fetch, retries and application of the remote configuration; lives on the UI thread (the main window owns it).
// A start makes at most 1 + kMaxConfigRetries downloads, kConfigRetryDelay apart after each failure.
class TRemoteConfig {
  public:
    TRemoteConfig(std::string address, std::string programDir, bool selfUpdateAllowed, TRemoteConfigHooks hooks,
                  std::shared_ptr<TDispatcher> dispatcher = CurrentDispatcher());
    ~TRemoteConfig();
    TRemoteConfig(const TRemoteConfig&) = delete;
    TRemoteConfig& operator=(const TRemoteConfig&) = delete;

    // Starts the first download.
    void Start();
    // The download's result handler: applies a configuration or counts a failure.
    void ApplyRemoteConfig(const std::string& body);

    int RetryCount() const { return retryCount_; }
    bool Applied() const { return applied_; }

  private:
    void Download();
    void ConfigFailed();
    void RetryTimer();

    const std::string address_;
    const std::string programDir_;
    const bool selfUpdateAllowed_;
    TRemoteConfigHooks hooks_;
    std::shared_ptr<TDispatcher> dispatcher_;
    // Handlers of downloads and timers still under way hold it weakly: nothing runs once the controller is gone.
    std::shared_ptr<TRemoteConfig*> self_;
    TTimerId retryTimer_ = kNoTimer;
    int retryCount_ = 0;
    bool applied_ = false;
};

}  // namespace vexo
