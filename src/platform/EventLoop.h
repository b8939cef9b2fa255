// A plain event loop serving as the UI thread's dispatcher for vexo-cli and the tests: a queue of calls and a
// set of timers, run by the thread that constructed the loop.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/Dispatcher.h"

namespace vexo {

class TEventLoop final : public TDispatcher {
  public:
    // The constructing thread becomes the loop's UI thread.
    TEventLoop();
    // Closes the loop; queued calls are dropped unrun.
    ~TEventLoop() override;

    bool IsUiThread() const override;

    TTimerId StartTimer(std::chrono::milliseconds interval, TUiCall onTimeout) override;
    TTimerId StartSingleShot(std::chrono::milliseconds delay, TUiCall onTimeout) override;
    void StopTimer(TTimerId timer) override;

    // Runs calls and timers until Quit. UI thread only (std::logic_error otherwise).
    void Run();
    // Makes the running (or the next) Run return after the call in progress; callable from any thread.
    void Quit();
    // Runs calls and timers until `done` returns true (true) or `timeout` has passed (false). `done` is
    // checked on the UI thread after every call and at least every few milliseconds, so it may watch state
    // that other threads change without posting. Does not consume a Quit. UI thread only.
    bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout);
    // Runs the timers that are due and the calls queued at the moment of the call, without waiting.
    // Returns how many ran. UI thread only.
    std::size_t ProcessPending();
    // Calls queued and not yet run (dropped ones included until the loop reaches them). Any thread.
    std::size_t QueuedCount() const;

  protected:
    void Enqueue(TUiCall call) override;

  private:
    using TClock = std::chrono::steady_clock;

    struct TTimer {
        TClock::time_point due;
        std::chrono::milliseconds interval;
        bool periodic = false;
        std::shared_ptr<const TUiCall> onTimeout;
    };

    void RequireUiThread(const char* operation) const;
    TTimerId AddTimer(std::chrono::milliseconds interval, TUiCall onTimeout, bool periodic);
    // Fires the timers due now, then runs at most one queued call. True when anything ran.
    bool Step();
    std::size_t FireDueTimers();
    bool RunOneCall();
    // Blocks until a call is queued, Quit is called, a timer changes or falls due, or `limit` is reached.
    void WaitForWork(TClock::time_point limit);

    const std::thread::id uiThread_;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<TUiCall> queue_;
    std::map<TTimerId, TTimer> timers_;
    TTimerId lastTimer_ = kNoTimer;
    bool quit_ = false;
    // Changes whenever something the waiting loop must look at changes.
    std::uint64_t wakeSerial_ = 0;
};

}  // namespace vexo
