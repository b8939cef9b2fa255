// Send/Post delivery rules shared by every dispatcher: blocking sends, closing, drop flags, error swallowing.
#include "platform/Dispatcher.h"

#include <utility>

namespace vexo {

namespace {

enum class TSendPhase { Queued, Running, Done, Dropped };

std::mutex& CurrentMutex() {
    static std::mutex mutex;
    return mutex;
}

std::shared_ptr<TDispatcher>& CurrentSlot() {
    static std::shared_ptr<TDispatcher> current;
    return current;
}

}  // namespace

struct TDispatcher::TSendState {
    TSendPhase phase = TSendPhase::Queued;
};

bool TDispatcher::Send(TUiCall call) {
    return SendWithFlag(std::move(call), nullptr);
}

bool TDispatcher::Send(TUiCall call, const std::atomic<bool>& dropFlag) {
    return SendWithFlag(std::move(call), &dropFlag);
}

bool TDispatcher::SendWithFlag(TUiCall call, const std::atomic<bool>* dropFlag) {
    if (IsClosed() || (dropFlag != nullptr && dropFlag->load())) {
        return false;
    }
    if (IsUiThread()) {
        RunGuarded(call);
        return true;
    }
    auto state = std::make_shared<TSendState>();
    Enqueue([this, state, dropFlag, call = std::move(call)] {
        {
            std::lock_guard lock(sendMutex_);
            // Not Queued: Close released the sender already, and the flag may no longer exist.
            if (state->phase != TSendPhase::Queued) {
                return;
            }
            if (IsClosed() || (dropFlag != nullptr && dropFlag->load())) {
                state->phase = TSendPhase::Dropped;
                sendEnded_.notify_all();
                return;
            }
            state->phase = TSendPhase::Running;
        }
        RunGuarded(call);
        {
            std::lock_guard lock(sendMutex_);
            state->phase = TSendPhase::Done;
        }
        sendEnded_.notify_all();
    });
    std::unique_lock lock(sendMutex_);
    // A call that is already running is waited for even after Close: it may read the sender's objects.
    sendEnded_.wait(lock, [&] {
        return state->phase == TSendPhase::Done || state->phase == TSendPhase::Dropped ||
               (IsClosed() && state->phase == TSendPhase::Queued);
    });
    if (state->phase == TSendPhase::Queued) {
        state->phase = TSendPhase::Dropped;
    }
    return state->phase == TSendPhase::Done;
}

bool TDispatcher::Post(TUiCall call) {
    if (IsClosed()) {
        return false;
    }
    Enqueue([this, call = std::move(call)] {
        if (!IsClosed()) {
            RunGuarded(call);
        }
    });
    return true;
}

void TDispatcher::Close() {
    {
        std::lock_guard lock(sendMutex_);
        closed_.store(true, std::memory_order_release);
    }
    sendEnded_.notify_all();
}

void TDispatcher::RunGuarded(const TUiCall& call) noexcept {
    try {
        if (call) {
            call();
        }
    } catch (...) {
        // Handlers on the UI thread swallow their errors: the sender goes on and the next call runs normally.
    }
}

std::shared_ptr<TDispatcher> CurrentDispatcher() {
    std::lock_guard lock(CurrentMutex());
    return CurrentSlot();
}

void SetCurrentDispatcher(std::shared_ptr<TDispatcher> dispatcher) {
    std::shared_ptr<TDispatcher> previous;
    {
        std::lock_guard lock(CurrentMutex());
        previous = std::exchange(CurrentSlot(), std::move(dispatcher));
    }
    // `previous` may be the last reference: release it outside the lock.
}

}  // namespace vexo
