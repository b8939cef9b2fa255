// Start gates: the try/wait mechanism and the six process-wide gates.
#include "engine/StartGate.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "engine/Notify.h"

namespace vexo {

std::int64_t GateClockMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

TStartGate::TStartGate(std::mutex& lock, TGateTiming timing) : lock_(lock), timing_(timing) {}

bool TStartGate::OpenLocked() {
    // The clock is read under the lock so that stamps never go backwards between racing openers.
    const std::int64_t now = clock_ ? clock_() : GateClockMs();
    if (opened_ && now - stamp_ <= timing_.Interval.count()) {
        return false;
    }
    stamp_ = now;
    opened_ = true;
    return true;
}

std::deque<TStartGate::TTicket>::iterator TStartGate::FindTicket(std::uint64_t number) {
    return std::find_if(line_.begin(), line_.end(), [number](const TTicket& ticket) { return ticket.Number == number; });
}

bool TStartGate::AnyActiveBefore(std::uint64_t number) const {
    for (const TTicket& ticket : line_) {
        if (ticket.Number == number) {
            return false;
        }
        if (!ticket.Paused) {
            return true;
        }
    }
    return false;
}

bool TStartGate::TryOpen() {
    std::lock_guard guard(lock_);
    if (AnyActiveBefore(0) || !OpenLocked()) {
        return false;
    }
    if (onOpen_) {
        onOpen_(stamp_, line_.size());
    }
    return true;
}

bool TStartGate::Wait(const std::function<bool(std::chrono::milliseconds)>& sleep) {
    return Wait(TGateWaiter{sleep, {}, {}});
}

bool TStartGate::Wait(const TGateWaiter& waiter) {
    std::uint64_t number = 0;
    {
        std::lock_guard guard(lock_);
        number = nextTicket_++;
        line_.push_back({number, false});
    }
    // Leaves the line however the wait ends (a hook that throws included).
    struct TLeaveLine {
        TStartGate& gate;
        std::uint64_t number;
        ~TLeaveLine() {
            std::lock_guard guard(gate.lock_);
            auto found = gate.FindTicket(number);
            if (found != gate.line_.end()) {
                gate.line_.erase(found);
            }
        }
    } leave{*this, number};
    auto setPaused = [this, number](bool paused) {
        std::lock_guard guard(lock_);
        FindTicket(number)->Paused = paused;
    };

    for (;;) {
        if (waiter.Paused && waiter.PausePoint && waiter.Paused()) {
            setPaused(true);
            const bool goOn = waiter.PausePoint();
            setPaused(false);
            if (!goOn) {
                return false;
            }
        }
        std::chrono::milliseconds poll{0};
        {
            std::lock_guard guard(lock_);
            if (!AnyActiveBefore(number) && OpenLocked()) {
                line_.erase(FindTicket(number));
                if (onOpen_) {
                    onOpen_(stamp_, line_.size());
                }
                return true;
            }
            poll = timing_.Poll;
        }
        if (!waiter.Sleep(poll)) {
            return false;
        }
    }
}

std::size_t TStartGate::WaitingCount() const {
    std::lock_guard guard(lock_);
    return line_.size();
}

TGateTiming TStartGate::Timing() const {
    std::lock_guard guard(lock_);
    return timing_;
}

void TStartGate::SetTiming(TGateTiming timing) {
    std::lock_guard guard(lock_);
    timing_ = timing;
}

void TStartGate::ResetStamp() {
    std::lock_guard guard(lock_);
    stamp_ = 0;
    opened_ = false;
}

void TStartGate::SetClock(TClock clock) {
    std::lock_guard guard(lock_);
    clock_ = std::move(clock);
}

void TStartGate::SetOnOpen(std::function<void(std::int64_t, std::size_t)> onOpen) {
    std::lock_guard guard(lock_);
    onOpen_ = std::move(onOpen);
}

TEngineGates::TEngineGates(TGateTiming resultPage, TGateTiming site) : ResultPage(Lock, resultPage), Site(Lock, site) {}

// Allocated once and never freed (see the header).
TEngineGates& BaiduGates() {
    static TEngineGates& gates = *new TEngineGates(kBaiduPageGate, kBaiduSiteGate);
    return gates;
}

TEngineGates& SogouGates() {
    static TEngineGates& gates = *new TEngineGates(kSogouPageGate, kSogouSiteGate);
    return gates;
}

TEngineGates& So360Gates() {
    static TEngineGates& gates = *new TEngineGates(k360PageGate, k360SiteGate);
    return gates;
}

TEngineGates& GatesOfEngine(int engine) {
    switch (engine) {
        case kEngineBaidu:
            return BaiduGates();
        case kEngineSogou:
            return SogouGates();
        case kEngine360:
            return So360Gates();
        default:
            throw std::out_of_range("no start gates for engine " + std::to_string(engine));
    }
}

}  // namespace vexo
