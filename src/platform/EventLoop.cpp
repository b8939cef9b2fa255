// The plain event loop: FIFO call queue plus timers, served by the constructing thread.
#include "platform/EventLoop.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace vexo {

namespace {

// Longest idle wait of Run; bounds the cost of a missed wake-up.
constexpr std::chrono::milliseconds kRunIdleWait{1000};
// How often RunUntil looks at its condition while nothing arrives.
constexpr std::chrono::milliseconds kConditionPoll{5};

}  // namespace

TEventLoop::TEventLoop() : uiThread_(std::this_thread::get_id()) {}

TEventLoop::~TEventLoop() {
    Close();
}

bool TEventLoop::IsUiThread() const {
    return std::this_thread::get_id() == uiThread_;
}

void TEventLoop::RequireUiThread(const char* operation) const {
    if (!IsUiThread()) {
        throw std::logic_error(std::string("TEventLoop::") + operation + " called off the loop's thread");
    }
}

void TEventLoop::Enqueue(TUiCall call) {
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(call));
        ++wakeSerial_;
    }
    wake_.notify_all();
}

TTimerId TEventLoop::StartTimer(std::chrono::milliseconds interval, TUiCall onTimeout) {
    return AddTimer(interval, std::move(onTimeout), true);
}

TTimerId TEventLoop::StartSingleShot(std::chrono::milliseconds delay, TUiCall onTimeout) {
    return AddTimer(delay, std::move(onTimeout), false);
}

TTimerId TEventLoop::AddTimer(std::chrono::milliseconds interval, TUiCall onTimeout, bool periodic) {
    interval = std::max(interval, std::chrono::milliseconds::zero());
    TTimerId id;
    {
        std::lock_guard lock(mutex_);
        id = ++lastTimer_;
        timers_[id] =
            TTimer{TClock::now() + interval, interval, periodic, std::make_shared<const TUiCall>(std::move(onTimeout))};
        ++wakeSerial_;
    }
    wake_.notify_all();
    return id;
}

void TEventLoop::StopTimer(TTimerId timer) {
    std::lock_guard lock(mutex_);
    timers_.erase(timer);
}

void TEventLoop::Quit() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        ++wakeSerial_;
    }
    wake_.notify_all();
}

std::size_t TEventLoop::FireDueTimers() {
    std::vector<std::pair<TClock::time_point, TTimerId>> due;
    {
        std::lock_guard lock(mutex_);
        const auto now = TClock::now();
        for (const auto& [id, timer] : timers_) {
            if (timer.due <= now) {
                due.emplace_back(timer.due, id);
            }
        }
    }
    std::sort(due.begin(), due.end());
    std::size_t fired = 0;
    for (const auto& entry : due) {
        std::shared_ptr<const TUiCall> onTimeout;
        {
            std::lock_guard lock(mutex_);
            // An earlier callback may have stopped this timer.
            auto it = timers_.find(entry.second);
            if (it == timers_.end()) {
                continue;
            }
            onTimeout = it->second.onTimeout;
            if (it->second.periodic) {
                // Counted from now: a loop that was busy gets one tick, not a burst of missed ones.
                it->second.due = TClock::now() + it->second.interval;
            } else {
                timers_.erase(it);
            }
        }
        RunGuarded(*onTimeout);
        ++fired;
    }
    return fired;
}

bool TEventLoop::RunOneCall() {
    TUiCall call;
    {
        std::lock_guard lock(mutex_);
        if (queue_.empty()) {
            return false;
        }
        call = std::move(queue_.front());
        queue_.pop_front();
    }
    RunGuarded(call);
    return true;
}

bool TEventLoop::Step() {
    const bool fired = FireDueTimers() > 0;
    const bool ran = RunOneCall();
    return fired || ran;
}

void TEventLoop::WaitForWork(TClock::time_point limit) {
    std::unique_lock lock(mutex_);
    for (const auto& [id, timer] : timers_) {
        limit = std::min(limit, timer.due);
    }
    const auto seen = wakeSerial_;
    wake_.wait_until(lock, limit, [&] { return !queue_.empty() || quit_ || wakeSerial_ != seen; });
}

void TEventLoop::Run() {
    RequireUiThread("Run");
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (quit_) {
                quit_ = false;
                return;
            }
        }
        if (!Step()) {
            WaitForWork(TClock::now() + kRunIdleWait);
        }
    }
}

bool TEventLoop::RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    RequireUiThread("RunUntil");
    const auto deadline = TClock::now() + timeout;
    for (;;) {
        if (done()) {
            return true;
        }
        const auto now = TClock::now();
        if (now >= deadline) {
            return false;
        }
        if (!Step()) {
            WaitForWork(std::min(deadline, now + kConditionPoll));
        }
    }
}

std::size_t TEventLoop::ProcessPending() {
    RequireUiThread("ProcessPending");
    std::size_t ran = FireDueTimers();
    std::size_t queued;
    {
        std::lock_guard lock(mutex_);
        queued = queue_.size();
    }
    // Only what was queued on entry: a call that queues another must not keep this from returning.
    for (std::size_t i = 0; i < queued && RunOneCall(); ++i) {
        ++ran;
    }
    return ran;
}

std::size_t TEventLoop::QueuedCount() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace vexo
