#include "engine/TaskCtl.h"

#include <algorithm>
#include <stdexcept>

#include "engine/Caiji360.h"
#include "engine/CaijiBaidu.h"
#include "engine/CaijiSouGou.h"
#include "platform/WorkerThread.h"

namespace vexo {

namespace {

std::shared_ptr<TDispatcher> RequireDispatcher() {
    auto dispatcher = CurrentDispatcher();
    if (!dispatcher) {
        throw std::logic_error("TTaskCtl: no dispatcher set");
    }
    return dispatcher;
}

std::string_view KeyOfEngine(int engine) {
    switch (engine) {
        case kEngineBaidu:
            return kEngineKeyBaidu;
        case kEngineSogou:
            return kEngineKeySogou;
        default:
            return kEngineKey360;
    }
}

}  // namespace

TTaskCtl::TTaskCtl(bool baidu, std::string keyword, TWindowHandle window, bool so360, bool sogou)
    : Baidu(baidu),
      Sogou(sogou),
      So360(so360),
      keyword_(std::move(keyword)),
      window_(std::move(window)),
      dispatcher_(RequireDispatcher()) {}

TTaskCtl::~TTaskCtl() {
    if (ForgetIfClosed())
        return;
    Stop();
    // The collectors still ending hold a handler that points here. Their handlers have not run (they run on this
    // thread and drop themselves from live_), so each pointer is still valid and the handler can be removed.
    for (auto& [id, collector] : live_) {
        collector->ClearOnTerminate();
    }
    live_.clear();
}

void TTaskCtl::Start() {
    // A collector started now could never report its end, so it could not be forgotten in time.
    if (ForgetIfClosed())
        return;
    if (Baidu)
        StartEngine(kEngineBaidu);
    if (Sogou)
        StartEngine(kEngineSogou);
    if (So360)
        StartEngine(kEngine360);
}

void TTaskCtl::StartEngine(int engine) {
    const std::string_view key = KeyOfEngine(engine);
    if (Collector(key) != nullptr)
        return;

    std::unique_ptr<TResultCollector> collector;
    switch (engine) {
        case kEngineBaidu:
            collector = std::make_unique<TCaijiBaidu>(window_, keyword_, BaiduStartPage, BaiduSettings);
            break;
        case kEngineSogou:
            collector = std::make_unique<TCaijiSouGou>(window_, keyword_, SogouStartPage, SogouSettings);
            break;
        default:
            collector = std::make_unique<TCaiji360>(window_, keyword_, So360StartPage, So360Settings);
            break;
    }
    TResultCollector* raw = collector.get();
    const std::uint64_t id = raw->Id();
    raw->SetOnTerminate([this, engine, id, raw] { OnCollectorEnded(engine, id, *raw); });
    // Listed before the body starts: a collector that cannot start runs its handler at once, inside Start.
    engines_.push_back({std::string(key), raw});
    live_.emplace_back(id, raw);
    TWorkerThread::Start(std::move(collector));
}

void TTaskCtl::Pause() {
    if (ForgetIfClosed())
        return;
    for (const TEntry& entry : engines_)
        entry.Collector->Pause();
}

void TTaskCtl::Resume() {
    if (ForgetIfClosed())
        return;
    for (const TEntry& entry : engines_)
        entry.Collector->Resume();
}

void TTaskCtl::Stop() {
    if (ForgetIfClosed())
        return;
    while (!engines_.empty()) {
        engines_.back().Collector->Terminate();
        engines_.pop_back();
    }
}

void TTaskCtl::Release(std::unique_ptr<TTaskCtl> controller) {
    if (!controller)
        return;
    controller->Stop();
    if (controller->live_.empty() && controller->handlerDepth_ == 0)
        return;  // freed here
    controller->released_ = true;
    // From here the controller owns itself; FreeWhenDone posts its deletion after the last handler.
    controller.release()->FreeWhenDone();
}

std::vector<std::string> TTaskCtl::EngineKeys() const {
    std::vector<std::string> keys;
    for (const TEntry& entry : engines_)
        keys.push_back(entry.Key);
    return keys;
}

TResultCollector* TTaskCtl::Collector(std::string_view key) const {
    auto found = std::find_if(engines_.begin(), engines_.end(), [key](const TEntry& e) { return e.Key == key; });
    return found == engines_.end() ? nullptr : found->Collector;
}

void TTaskCtl::OnCollectorEnded(int engine, std::uint64_t id, TResultCollector& collector) {
    // By identity, not by key: after Stop and a new Start the key may name a newer collector of the engine.
    std::erase_if(engines_, [&collector](const TEntry& e) { return e.Collector == &collector; });
    std::erase_if(live_, [id](const auto& entry) { return entry.first == id; });
    ++handlerDepth_;
    try {
        if (OnTaskEnd)
            OnTaskEnd(*this, engine, collector.PageCursor(), collector.Keyword());
    } catch (...) {
        // Handler errors are swallowed as for every notification; the bookkeeping below must still run.
    }
    --handlerDepth_;
    FreeWhenDone();
}

bool TTaskCtl::ForgetIfClosed() {
    if (!dispatcher_->IsClosed())
        return false;
    // With the dispatcher closed no termination handler runs any more: a collector that ends frees itself without
    // reaching this controller, so every pointer still listed may dangle.
    engines_.clear();
    live_.clear();
    return true;
}

void TTaskCtl::FreeWhenDone() {
    if (!released_ || !live_.empty() || handlerDepth_ != 0)
        return;
    released_ = false;  // posted once
    // The posted call owns the controller: run, or dropped unrun by a closing dispatcher, it frees it.
    auto owner = std::make_shared<std::unique_ptr<TTaskCtl>>(this);
    if (!dispatcher_->Post([owner] { owner->reset(); })) {
        // Closed: the program is ending. Freeing here could be inside a handler of this controller.
        owner->release();
    }
}

}  // namespace vexo
