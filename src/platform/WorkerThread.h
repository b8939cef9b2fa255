// Base of every worker thread: a body run on its own thread, a termination flag, cooperative pause points,
// a termination callback run on the UI thread, and self-freeing at the end of the run.
//
// Life of a worker:
//   auto worker = std::make_unique<TMyWorker>(...);   // construct (takes CurrentDispatcher())
//   worker->SetOnTerminate([...] { ... });              // configure: callback, registration in owner's list
//   TMyWorker* w = TWorkerThread::Start(std::move(worker));   // start the body; the thread owns it from here
// When Execute returns (or throws: the error ends the run and is not reported), the termination callback
// runs on the UI thread through the dispatcher while the worker waits, then FinishOnUiThread runs in the same
// call, and then the worker deletes itself on its own thread. With the dispatcher closed both are dropped; the
// worker is still freed and counted out.
//
// Who may hold a pointer to a started worker: only the UI thread, and only until its termination callback
// has run (that is where an owner forgets it). The owner calls Terminate/Pause/Resume/SetOnTerminate/
// ClearOnTerminate on the UI thread; because the termination callback runs there too, "the callback already
// ran" and "the owner touches the worker" never overlap. The pointer Start returns is dangling at once on any
// other thread: register the worker before starting it.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>

#include "platform/Dispatcher.h"

namespace vexo {

class TWorkerThread {
  public:
    using TTerminateCallback = std::function<void()>;

    virtual ~TWorkerThread();
    TWorkerThread(const TWorkerThread&) = delete;
    TWorkerThread& operator=(const TWorkerThread&) = delete;

    // Starts the body of a configured worker; ownership passes to its thread. Returns the worker for the
    // UI thread (see the rules above). When no thread can be created the run counts as ended at once: the
    // termination callback runs (on the UI thread; inline when called there), the worker is freed, and the
    // result is nullptr.
    template <class T>
    static T* Start(std::unique_ptr<T> worker) {
        static_assert(std::is_base_of_v<TWorkerThread, T>);
        T* started = worker.get();
        return StartOwned(std::move(worker)) ? started : nullptr;
    }

    // Unique for the whole process run, never reused: a key for the owners' lists.
    std::uint64_t Id() const { return id_; }

    // Requests termination: releases a paused worker, wakes Sleep, and makes every later SendToUi drop its
    // call, including one already waiting for the UI thread. Any thread.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }

    // The worker stops at its next PausePoint until Resume (or Terminate).
    void Pause();
    void Resume();
    bool Paused() const;
    // True while the body is blocked in PausePoint.
    bool WaitingAtPausePoint() const { return waitingAtPause_.load(); }

    // The termination callback; may be set and removed until it has run (later calls are ignored).
    void SetOnTerminate(TTerminateCallback callback);
    void ClearOnTerminate();

    const std::shared_ptr<TDispatcher>& Dispatcher() const { return dispatcher_; }

  protected:
    // Uses CurrentDispatcher(); std::logic_error when none is set.
    TWorkerThread();
    explicit TWorkerThread(std::shared_ptr<TDispatcher> dispatcher);

    // The body, on the worker's thread.
    virtual void Execute() = 0;
    // Runs on the UI thread right after the termination callback, in the same call: where a worker detaches
    // helpers that report to it on the UI thread.
    virtual void FinishOnUiThread() {}

    // A safe point of the body: blocks while paused. False when termination was requested (at once, also
    // while paused), true otherwise.
    bool PausePoint();
    // Sleeps, waking early on termination. False when termination was requested.
    bool Sleep(std::chrono::milliseconds duration);
    // Runs the call on the UI thread and waits for it; dropped (false) when termination was requested before
    // the call would start, or when the dispatcher is closed.
    bool SendToUi(TUiCall call);

  private:
    static bool StartOwned(std::unique_ptr<TWorkerThread> worker);
    static void RunThread(std::unique_ptr<TWorkerThread> self);
    static void Finish(std::unique_ptr<TWorkerThread> self);
    void RunTerminationOnUi();

    const std::uint64_t id_;
    const std::shared_ptr<TDispatcher> dispatcher_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> waitingAtPause_{false};
    // Guards paused_ and pairs with terminated_ changes so PausePoint and Sleep miss no wake-up.
    mutable std::mutex stateMutex_;
    std::condition_variable stateChanged_;
    bool paused_ = false;
    std::mutex callbackMutex_;
    TTerminateCallback onTerminate_;
    bool callbackTaken_ = false;
};

// Workers started and not yet freed.
std::size_t LiveWorkerCount();
// Waits until no worker lives; false when `limit` passed first. Not on a UI thread whose dispatcher is open:
// the workers' termination callbacks need that thread.
bool WaitForWorkers(std::chrono::milliseconds limit);
// Requests termination of every live worker.
void TerminateAllWorkers();

}  // namespace vexo
