#include "engine/ResultCollector.h"

#include <algorithm>

namespace vexo {

namespace {

TCollectorSettings WithSearchHost(TCollectorSettings settings, std::string_view defaultSearchHost) {
    if (settings.SearchHost.empty()) {
        settings.SearchHost = defaultSearchHost;
    }
    return settings;
}

}  // namespace

std::mutex& SiteThreadListLock() {
    static std::mutex lock;
    return lock;
}

TResultCollector::TResultCollector(TWindowHandle window, std::string keyword, std::int32_t startPage, int engine,
                                   std::string_view defaultSearchHost, TCollectorSettings settings)
    : window_(std::move(window)),
      keyword_(std::move(keyword)),
      settings_(WithSearchHost(std::move(settings), defaultSearchHost)),
      pageCursor_(startPage),
      engine_(engine),
      gates_(GatesOfEngine(engine)) {
    info_.keyword = keyword_;
    info_.source = SourceOfEngine(engine);
}

TResultCollector::~TResultCollector() {
    // Normally FinishOnUiThread emptied the list. With the dispatcher closed it never ran: the listed threads
    // may be gone already, so they are only forgotten here, never touched.
    std::lock_guard lock(SiteThreadListLock());
    siteThreads_.clear();
}

std::size_t TResultCollector::RunningSiteThreadCount() const {
    std::lock_guard lock(SiteThreadListLock());
    return siteThreads_.size();
}

bool TResultCollector::SendStatus(const std::string& text) {
    if (Terminated())
        return false;
    info_.message = text;
    if (!window_)
        return false;
    return SendToUi([this] { window_->Deliver({kMsgCaiji, kCaijiStatus, &info_}); });
}

bool TResultCollector::SendPageDone() {
    if (Terminated())
        return false;
    info_.PageCount = pageCursor_.load();
    if (!window_)
        return false;
    return SendToUi([this] { window_->Deliver({kMsgCaiji, kCaijiPageDone, &info_}); });
}

bool TResultCollector::WaitGate(TStartGate& gate) {
    if (&gate == &gates_.ResultPage)
        workPage_ = pageCursor_.load();
    // Paused while waiting, the collector stops between polls, holding no lock and keeping its place in line.
    return gate.Wait(TGateWaiter{[this](std::chrono::milliseconds poll) { return Sleep(poll); },
                                 [this] { return Paused(); }, [this] { return PausePoint(); }});
}

bool TResultCollector::StartSiteThread(std::unique_ptr<TCaijiPageCon> thread) {
    const std::uint64_t id = thread->Id();
    thread->SetResultOrigin(engine_, workPage_);
    thread->SetOnTerminate([this, id] {
        std::lock_guard lock(SiteThreadListLock());
        auto found = std::find_if(siteThreads_.begin(), siteThreads_.end(),
                                  [id](const auto& entry) { return entry.first == id; });
        if (found != siteThreads_.end())
            siteThreads_.erase(found);
    });
    {
        std::lock_guard lock(SiteThreadListLock());
        siteThreads_.emplace_back(id, thread.get());
    }
    // Not under the lock: a thread that cannot start runs its callback, which takes the lock, at once.
    return TWorkerThread::Start(std::move(thread)) != nullptr;
}

void TResultCollector::FinishOnUiThread() {
    std::lock_guard lock(SiteThreadListLock());
    for (auto& [id, thread] : siteThreads_) {
        thread->ClearOnTerminate();
        thread->Terminate();
    }
    siteThreads_.clear();
}

}  // namespace vexo
