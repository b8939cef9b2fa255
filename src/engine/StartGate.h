// Start gates: process-wide pacing of result-page fetches and site-thread starts, per engine.
//
// A gate is a time stamp (ms of a monotonic clock) and a lock shared with the engine's other gate. A gate that
// never opened opens at its first try. Try: under the lock, if now - stamp > interval, stamp := now and open.
// Wait: try; while closed, sleep one poll interval, giving up when termination was requested.
//
// Waiters are served in arrival order: a wait takes a ticket when it begins, and only the oldest ticket in the
// line may open the gate (the others do not even read the clock). Without this, whichever waiter polled first
// after the interval won, and one keyword's collector could take an engine's gate again and again while another
// keyword's collector of the same engine starved. A waiter that gives up leaves the line.
//
// A waiter may pause between polls (outside the lock). While paused it keeps its place but is passed over: it
// cannot open the gate, and a pause of one keyword's collector never holds up the others.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace vexo {

struct TGateTiming {
    std::chrono::milliseconds Interval{0};
    std::chrono::milliseconds Poll{0};
};

// Intervals and poll intervals of the six gates.
inline constexpr TGateTiming kBaiduPageGate{std::chrono::milliseconds(2000), std::chrono::milliseconds(100)};
inline constexpr TGateTiming kBaiduSiteGate{std::chrono::milliseconds(1000), std::chrono::milliseconds(50)};
inline constexpr TGateTiming kSogouPageGate{std::chrono::milliseconds(3000), std::chrono::milliseconds(100)};
inline constexpr TGateTiming kSogouSiteGate{std::chrono::milliseconds(2000), std::chrono::milliseconds(50)};
inline constexpr TGateTiming k360PageGate{std::chrono::milliseconds(3000), std::chrono::milliseconds(100)};
inline constexpr TGateTiming k360SiteGate{std::chrono::milliseconds(2000), std::chrono::milliseconds(50)};

// Milliseconds of the monotonic clock the gates use.
std::int64_t GateClockMs();

// What a waiter does between its tries.
struct TGateWaiter {
    // Sleeps one poll interval; false when termination was requested (the wait then gives up).
    std::function<bool(std::chrono::milliseconds)> Sleep;
    // Optional: true while the waiter is asked to pause...
    std::function<bool()> Paused;
    // ...and then called to block until it may go on; false when termination was requested.
    std::function<bool()> PausePoint;
};

class TStartGate {
  public:
    using TClock = std::function<std::int64_t()>;

    // `lock` is the engine's gate lock; it must outlive the gate.
    TStartGate(std::mutex& lock, TGateTiming timing);
    TStartGate(const TStartGate&) = delete;
    TStartGate& operator=(const TStartGate&) = delete;

    // One try; true when the gate opened (and its stamp moved to now). Closed while anyone waits in line: a try
    // never overtakes a waiter.
    bool TryOpen();
    // Joins the line and tries until the gate opens; between tries calls `sleep(poll)`, which returns false when
    // termination was requested (the wait then leaves the line and returns false). A worker passes its own Sleep.
    bool Wait(const std::function<bool(std::chrono::milliseconds)>& sleep);
    // The same, pausing before a try whenever the waiter is paused.
    bool Wait(const TGateWaiter& waiter);
    // Waits in line now.
    std::size_t WaitingCount() const;

    TGateTiming Timing() const;
    // Tests only, not while collectors run: other timings, the gate back to "never opened", another clock
    // (called under the gate's lock; an empty one restores GateClockMs).
    void SetTiming(TGateTiming timing);
    void ResetStamp();
    void SetClock(TClock clock);
    // Tests only: called under the gate's lock at every opening with the new stamp and the number of waiters
    // still in line.
    void SetOnOpen(std::function<void(std::int64_t stamp, std::size_t stillWaiting)> onOpen);

  private:
    // Under lock_: opens when the interval has passed (or the gate never opened).
    bool OpenLocked();

    std::mutex& lock_;
    // All guarded by lock_.
    TGateTiming timing_;
    std::int64_t stamp_ = 0;
    // A separate mark rather than stamp 0: the monotonic clock itself may read near 0 right after boot.
    bool opened_ = false;
    TClock clock_;
    std::function<void(std::int64_t, std::size_t)> onOpen_;
    struct TTicket {
        std::uint64_t Number = 0;
        bool Paused = false;
    };
    // Under lock_: the ticket in the line, or end().
    std::deque<TTicket>::iterator FindTicket(std::uint64_t number);
    // Under lock_: whether an unpaused waiter is older than `number` (all unpaused waiters when 0 is not taken).
    bool AnyActiveBefore(std::uint64_t number) const;

    // The waiters, oldest first.
    std::deque<TTicket> line_;
    std::uint64_t nextTicket_ = 1;
};

// The two gates of one engine with their common lock.
struct TEngineGates {
    TEngineGates(TGateTiming resultPage, TGateTiming site);
    std::mutex Lock;
    TStartGate ResultPage;
    TStartGate Site;
};

// The process-wide gates: Baidu 2000/100 and 1000/50 ms; Sogou and 360 3000/100 and 2000/50 ms each. They are
// never destroyed, so a worker still running at exit never finds a dead lock.
TEngineGates& BaiduGates();
TEngineGates& SogouGates();
TEngineGates& So360Gates();
// Gates by engine number (0 Baidu, 1 Sogou, 2 360); std::out_of_range for any other number.
TEngineGates& GatesOfEngine(int engine);

}  // namespace vexo
