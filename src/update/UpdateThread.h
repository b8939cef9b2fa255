// The periodic version check: asks the update server every ten minutes, for the life of the process, which
// version is current. The answer is handed to a callback on the UI thread; the program takes no action on it.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/WorkerThread.h"

namespace vexo {

inline constexpr std::chrono::milliseconds kVersionCheckDelay{180000};     // after start-up
inline constexpr std::chrono::milliseconds kVersionCheckInterval{600000};  // between checks
inline constexpr std::string_view kVersionCheckPath = "/version.aspx?sign=vexo,";
inline constexpr std::string_view kUpdaterVersionKey = "|eupdate,";

// The version-check answer.
struct TGetUpInfo {
    std::string FirstAddress;
    std::string SecondAddress;
};

// "http://" + host + kVersionCheckPath + version.
std::string VersionCheckAddress(std::string_view host, std::string_view version);

// The updater's version as the check reports it: "major.minor" of update.exe in the folder, "1.0" when the file
// carries no version, empty when there is no such file.
std::string UpdaterVersionText(const std::string& programDir);

// The answer's items: separated by "`" and by runs of spaces and control characters; an item that begins with a
// double quote runs to the matching quote (a doubled quote stands for one) and may hold spaces.
std::vector<std::string> SplitAnswerItems(std::string_view answer);

// The record an answer gives, or nothing when it names no first address.
std::optional<TGetUpInfo> ParseVersionAnswer(std::string_view answer);

class TUpdateThread : public TWorkerThread {
  public:
    using TAnswerHandler = std::function<void(const TGetUpInfo&)>;

    // Starts at once; runs until terminated. handler may be empty.
    static TUpdateThread* Create(std::string host, std::string version, std::string programDir, TAnswerHandler handler);

    // Runs until terminated, one check every interval; handler may be empty.
    TUpdateThread(std::string host, std::string version, std::string programDir, TAnswerHandler handler,
                  std::chrono::milliseconds interval = kVersionCheckInterval);

  protected:
    void Execute() override;

  private:
    const std::string baseAddress_;
    const std::string programDir_;
    const TAnswerHandler handler_;
    const std::chrono::milliseconds interval_;
};

}  // namespace vexo
