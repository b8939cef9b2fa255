// The way workers reach the UI thread. `Send` runs a call on the UI thread and blocks the caller until it
// returned; `Post` queues a call and returns at once. Timers run their callbacks on the UI thread too.
// The GUI implements the queue with its toolkit's event loop; TEventLoop (EventLoop.h) is the plain one.
//
// Rules every implementation shares (they live in this base class):
// - A call run by the dispatcher never lets an exception escape: the error is swallowed here, the sender's
//   `Send` returns normally (true: the call ran) and the next call is handled as usual. Notification handlers
//   swallow their errors by design, so no handler needs its own guard.
// - After `Close` nothing more runs: queued and later `Send`s return false without running, posts are dropped,
//   and a worker blocked in `Send` is released at once unless its call is already running (then it waits for
//   the end of that call, so objects the call reads stay valid).
// - `Send` with a drop flag (the sender's termination flag) checks the flag again on the UI thread just before
//   the call would run, and drops the call when it is set.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

namespace vexo {

// A call made on the UI thread.
using TUiCall = std::function<void()>;

// Identifies a timer of a dispatcher; 0 is never a valid timer.
using TTimerId = std::uint64_t;
inline constexpr TTimerId kNoTimer = 0;

class TDispatcher {
  public:
    TDispatcher() = default;
    virtual ~TDispatcher() = default;
    TDispatcher(const TDispatcher&) = delete;
    TDispatcher& operator=(const TDispatcher&) = delete;

    // Runs the call on the UI thread and returns when it has returned (inline when called on the UI thread).
    // False when the call was dropped because the dispatcher is closed.
    bool Send(TUiCall call);
    // As above, but the call is also dropped (false) when `dropFlag` is set, checked on the UI thread right
    // before the call would run. The flag must stay alive while Send blocks (it is a member of the sender).
    bool Send(TUiCall call, const std::atomic<bool>& dropFlag);
    // Queues the call for the UI thread, also when called on it. False when dropped (closed).
    bool Post(TUiCall call);

    // Stops all delivery for good; callable from any thread, more than once.
    void Close();
    bool IsClosed() const { return closed_.load(std::memory_order_acquire); }

    // True on the thread that runs the calls.
    virtual bool IsUiThread() const = 0;

    // Timers; callable from any thread; the callback runs on the UI thread (errors swallowed as for calls).
    // A periodic timer fires every `interval` until stopped; a single shot fires once. Stopping an unknown or
    // finished timer does nothing; a timer may stop itself from its own callback.
    virtual TTimerId StartTimer(std::chrono::milliseconds interval, TUiCall onTimeout) = 0;
    virtual TTimerId StartSingleShot(std::chrono::milliseconds delay, TUiCall onTimeout) = 0;
    virtual void StopTimer(TTimerId timer) = 0;

  protected:
    // Hands a call to the UI thread's queue; calls run in the order they were queued. Called from any thread.
    virtual void Enqueue(TUiCall call) = 0;
    // Runs a call, swallowing whatever it throws.
    static void RunGuarded(const TUiCall& call) noexcept;

  private:
    struct TSendState;
    bool SendWithFlag(TUiCall call, const std::atomic<bool>* dropFlag);

    std::atomic<bool> closed_{false};
    // Guards the phases of pending Sends and pairs with `closed_` changes so no waiter misses Close.
    std::mutex sendMutex_;
    std::condition_variable sendEnded_;
};

// The process-wide dispatcher set by the program at start. Workers take it when they are constructed and keep
// it alive for as long as they live.
std::shared_ptr<TDispatcher> CurrentDispatcher();
void SetCurrentDispatcher(std::shared_ptr<TDispatcher> dispatcher);

}  // namespace vexo
