// Worker thread base: start, pause points, termination, the termination callback on the UI thread, self-freeing,
// and the process-wide registry of live workers used at exit.
#include "platform/WorkerThread.h"

#include <stdexcept>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

namespace vexo {

namespace {

struct TWorkerRegistry {
    std::mutex mutex;
    std::condition_variable allEnded;
    // Workers that may still be touched (Terminate at exit); a worker leaves before it is freed.
    std::unordered_set<TWorkerThread*> reachable;
    // Workers whose memory is not freed yet; reaches 0 only after the last one is gone.
    std::size_t live = 0;
};

TWorkerRegistry& Registry() {
    // Never destroyed: detached workers may still use it while static objects are torn down at exit.
    static TWorkerRegistry* registry = new TWorkerRegistry();
    return *registry;
}

std::atomic<std::uint64_t> lastWorkerId{0};

std::shared_ptr<TDispatcher> RequireDispatcher(std::shared_ptr<TDispatcher> dispatcher) {
    if (!dispatcher) {
        throw std::logic_error("TWorkerThread: no dispatcher set");
    }
    return dispatcher;
}

}  // namespace

TWorkerThread::TWorkerThread() : TWorkerThread(CurrentDispatcher()) {}

TWorkerThread::TWorkerThread(std::shared_ptr<TDispatcher> dispatcher)
    : id_(++lastWorkerId), dispatcher_(RequireDispatcher(std::move(dispatcher))) {}

TWorkerThread::~TWorkerThread() = default;

void TWorkerThread::Terminate() {
    {
        std::lock_guard lock(stateMutex_);
        terminated_.store(true);
    }
    stateChanged_.notify_all();
}

void TWorkerThread::Pause() {
    std::lock_guard lock(stateMutex_);
    paused_ = true;
}

void TWorkerThread::Resume() {
    {
        std::lock_guard lock(stateMutex_);
        paused_ = false;
    }
    stateChanged_.notify_all();
}

bool TWorkerThread::Paused() const {
    std::lock_guard lock(stateMutex_);
    return paused_;
}

void TWorkerThread::SetOnTerminate(TTerminateCallback callback) {
    std::lock_guard lock(callbackMutex_);
    if (!callbackTaken_) {
        onTerminate_ = std::move(callback);
    }
}

void TWorkerThread::ClearOnTerminate() {
    SetOnTerminate(nullptr);
}

bool TWorkerThread::PausePoint() {
    std::unique_lock lock(stateMutex_);
    if (paused_ && !terminated_.load()) {
        waitingAtPause_.store(true);
        stateChanged_.wait(lock, [this] { return !paused_ || terminated_.load(); });
        waitingAtPause_.store(false);
    }
    return !terminated_.load();
}

bool TWorkerThread::Sleep(std::chrono::milliseconds duration) {
    std::unique_lock lock(stateMutex_);
    stateChanged_.wait_for(lock, duration, [this] { return terminated_.load(); });
    return !terminated_.load();
}

bool TWorkerThread::SendToUi(TUiCall call) {
    return dispatcher_->Send(std::move(call), terminated_);
}

bool TWorkerThread::StartOwned(std::unique_ptr<TWorkerThread> worker) {
    TWorkerThread* raw = worker.get();
    {
        auto& registry = Registry();
        std::lock_guard lock(registry.mutex);
        registry.reachable.insert(raw);
        ++registry.live;
    }
    try {
        // The thread takes ownership through the raw pointer, so a failed creation leaves `worker` intact.
        std::thread([raw] { RunThread(std::unique_ptr<TWorkerThread>(raw)); }).detach();
        worker.release();
        return true;
    } catch (const std::system_error&) {
        Finish(std::move(worker));
        return false;
    }
}

void TWorkerThread::RunThread(std::unique_ptr<TWorkerThread> self) {
    try {
        self->Execute();
    } catch (...) {
        // An error inside a worker ends its run and is not shown; the end is reported like any other.
    }
    Finish(std::move(self));
}

void TWorkerThread::Finish(std::unique_ptr<TWorkerThread> self) {
    self->RunTerminationOnUi();
    auto& registry = Registry();
    {
        std::lock_guard lock(registry.mutex);
        registry.reachable.erase(self.get());
    }
    self.reset();
    {
        std::lock_guard lock(registry.mutex);
        --registry.live;
    }
    registry.allEnded.notify_all();
}

void TWorkerThread::RunTerminationOnUi() {
    // Not SendToUi: the end is reported whether or not termination was requested.
    dispatcher_->Send([this] {
        TTerminateCallback callback;
        {
            std::lock_guard lock(callbackMutex_);
            callback = std::move(onTerminate_);
            onTerminate_ = nullptr;
            callbackTaken_ = true;
        }
        try {
            if (callback) {
                callback();
            }
        } catch (...) {
            // Swallowed like every handler error; the detach below must still happen.
        }
        FinishOnUiThread();
    });
}

std::size_t LiveWorkerCount() {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    return registry.live;
}

bool WaitForWorkers(std::chrono::milliseconds limit) {
    auto& registry = Registry();
    std::unique_lock lock(registry.mutex);
    return registry.allEnded.wait_for(lock, limit, [&] { return registry.live == 0; });
}

void TerminateAllWorkers() {
    auto& registry = Registry();
    std::lock_guard lock(registry.mutex);
    for (TWorkerThread* worker : registry.reachable) {
        worker->Terminate();
    }
}

}  // namespace vexo
