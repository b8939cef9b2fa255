// The collection task of one keyword: one result collector per chosen engine, started at the keyword's page
// cursors, paused, resumed and stopped together, and the end of each collector reported with its cursor.
//
// Everything here runs on the UI thread: the operations, the collectors' termination handlers and the task-end
// event. After Stop the collectors are no longer listed but still end on their own, and each end still reaches
// the task-end event; so the controller must outlive its last collector. Its owner either keeps it until
// LiveCollectorCount() is 0, or hands it to Release, which stops it and frees it once the last collector's
// handler has run (posted to the UI thread, never inside a handler). Destroying it directly stops it and drops
// the task-end events of the collectors still ending. Once the dispatcher is closed (the program is ending) the
// controller forgets its collectors and no operation touches them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/Notify.h"
#include "engine/ResultCollector.h"
#include "platform/Dispatcher.h"

namespace vexo {

// Keys of the engine list.
inline constexpr std::string_view kEngineKeyBaidu = "baidu";
inline constexpr std::string_view kEngineKeySogou = "sougou";
inline constexpr std::string_view kEngineKey360 = "360";

class TTaskCtl {
  public:
    // Called once per ended collector with (controller, engine 0 Baidu / 1 Sogou / 2 360, the collector's page
    // cursor, the collector's keyword). The controller may be handed to Release from inside; never destroy it
    // there.
    using TTaskEndEvent =
        std::function<void(TTaskCtl& controller, int engine, std::int32_t page, const std::string& keyword)>;

    // Takes the current dispatcher (the one the collectors report through); std::logic_error when none is set.
    TTaskCtl(bool baidu, std::string keyword, TWindowHandle window, bool so360, bool sogou);
    // Stops the task; collectors still ending no longer reach this controller.
    ~TTaskCtl();
    TTaskCtl(const TTaskCtl&) = delete;
    TTaskCtl& operator=(const TTaskCtl&) = delete;

    // Set by the owner before Start.
    std::int32_t BaiduStartPage = 0;
    std::int32_t SogouStartPage = 0;
    std::int32_t So360StartPage = 0;
    bool Baidu;
    bool Sogou;
    bool So360;
    TCollectorSettings BaiduSettings;
    TCollectorSettings SogouSettings;
    TCollectorSettings So360Settings;
    TTaskEndEvent OnTaskEnd;

    // For Baidu, Sogou and 360 in this order: when the engine is switched on and has no listed collector, starts
    // one at the engine's start page and lists it.
    void Start();
    // A collector is listed (running or paused).
    bool IsRunning() const { return !engines_.empty(); }
    // The listed collectors stop at their next safe point, or go on. Site threads already started go on.
    void Pause();
    void Resume();
    // From the last listed collector to the first: requests its termination (a paused one is released) and
    // forgets it. The collectors end on their own; each still reaches the task-end event.
    void Stop();

    // Stops the controller and frees it: at once when no collector of it is still ending, otherwise on the UI
    // thread after the last one's termination handler (the task-end events still come).
    static void Release(std::unique_ptr<TTaskCtl> controller);

    const std::string& Keyword() const { return keyword_; }
    const TWindowHandle& Window() const { return window_; }
    // Keys of the listed collectors, in list order.
    std::vector<std::string> EngineKeys() const;
    // The listed collector of a key, or nullptr. Valid on the UI thread until its termination handler.
    TResultCollector* Collector(std::string_view key) const;
    // Collectors started and not yet ended, listed or stopped.
    std::size_t LiveCollectorCount() const { return live_.size(); }

  private:
    struct TEntry {
        std::string Key;
        TResultCollector* Collector;
    };

    void StartEngine(int engine);
    void OnCollectorEnded(int engine, std::uint64_t id, TResultCollector& collector);
    // Frees a released controller once nothing of it is running; posted, so never inside a handler.
    void FreeWhenDone();
    // Once the dispatcher is closed the collectors may be gone unreported: forgets them (true) and the operation
    // does nothing more.
    bool ForgetIfClosed();

    const std::string keyword_;
    const TWindowHandle window_;
    const std::shared_ptr<TDispatcher> dispatcher_;
    std::vector<TEntry> engines_;
    // Every started collector until its termination handler ran, keyed by worker id.
    std::vector<std::pair<std::uint64_t, TResultCollector*>> live_;
    int handlerDepth_ = 0;
    bool released_ = false;
};

}  // namespace vexo
