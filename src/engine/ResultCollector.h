// What the three result collectors share: the window and status record they report with, the page cursor,
// the gates of their engine, and the list of company-site threads they started.
//
// Site-thread lists. Every collector's list is guarded by one lock common to all collectors. The collector
// thread registers a site thread before starting it; the site thread's termination callback (UI thread)
// removes it again. When the collector's run has ended, FinishOnUiThread (UI thread, right after the
// creator's termination callback) detaches every site thread still listed: its callback is removed and its
// termination requested. Callbacks and the detach all run on the UI thread, so a listed pointer is always
// alive when it is touched there; the collector thread never touches a listed thread after starting it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/CaijiPageCon.h"
#include "engine/Notify.h"
#include "engine/StartGate.h"
#include "platform/WorkerThread.h"

namespace vexo {

// Status texts of every result collector.
inline constexpr std::string_view kStatusGettingResults = "正在获取搜索结果...";
inline constexpr std::string_view kStatusAnalysingResults = "正在分析采集结果...";
inline constexpr std::string_view kStatusEnteringSites = "正在进入企业网站...";

// Where a collector sends its requests.
struct TCollectorSettings {
    std::string SearchHost;  // host[:port] of the engine's web-search endpoint; empty: the engine's default
    std::string IcpHost;     // handed to the site threads; empty: no filing lookup
};

class TResultCollector : public TWorkerThread {
  public:
    ~TResultCollector() override;

    // The 0-based number of the next result page to fetch. Read by the termination callback.
    std::int32_t PageCursor() const { return pageCursor_.load(); }
    const std::string& Keyword() const { return keyword_; }
    // Engine number: 0 Baidu, 1 Sogou, 2 360.
    int Engine() const { return engine_; }
    // Site threads started and not yet ended or detached.
    std::size_t RunningSiteThreadCount() const;

  protected:
    // An empty settings.SearchHost is replaced by defaultSearchHost.
    TResultCollector(TWindowHandle window, std::string keyword, std::int32_t startPage, int engine,
                     std::string_view defaultSearchHost, TCollectorSettings settings);

    // Status notification (wParam 1) with the text; false when not sent (termination requested).
    bool SendStatus(const std::string& text);
    // Page-done notification (wParam 2) with the page count set to the current cursor.
    bool SendPageDone();
    // Waits for one of the engine's gates; false when termination was requested meanwhile.
    bool WaitGate(TStartGate& gate);
    TEngineGates& Gates() const { return gates_; }

    // Registers a constructed site thread in the list and starts it. False when no thread could be started.
    bool StartSiteThread(std::unique_ptr<TCaijiPageCon> thread);

    void FinishOnUiThread() override;

    const TWindowHandle window_;
    const std::string keyword_;
    const TCollectorSettings settings_;
    std::atomic<std::int32_t> pageCursor_;
    TCaiJiInfo info_;

  private:
    const int engine_;
    TEngineGates& gates_;
    // The result page whose entries the collector is working through: the cursor when its gate last opened.
    // Collector thread only.
    std::int32_t workPage_ = 0;
    // (thread id, thread) in start order; guarded by SiteThreadListLock().
    std::vector<std::pair<std::uint64_t, TCaijiPageCon*>> siteThreads_;
};

// The one lock of every collector's site-thread list.
std::mutex& SiteThreadListLock();

}  // namespace vexo
