// Start gates: process-wide pacing of result-page fetches and site-thread starts, per engine.
//
// A gate is a time stamp (ms of a monotonic clock, starting at 0 so the first try opens it) and a lock shared
// with the engine's other gate. Try: under the lock, if now - stamp > interval, stamp := now and open.
// Wait: try; while closed, sleep one poll interval, giving up when termination was requested.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>

namespace vexo {

struct TGateTiming {
    std::chrono::milliseconds Interval{0};
    std::chrono::milliseconds Poll{0};
};

class TStartGate {
  public:
    // `lock` is the engine's gate lock; it must outlive the gate.
    TStartGate(std::mutex& lock, TGateTiming timing);
    TStartGate(const TStartGate&) = delete;
    TStartGate& operator=(const TStartGate&) = delete;

    // One try; true when the gate opened (and its stamp moved to now).
    bool TryOpen();
    // Tries until the gate opens; between tries calls `sleep(poll)`, which returns false when termination was
    // requested (the wait then gives up and returns false). A worker passes its own Sleep.
    bool Wait(const std::function<bool(std::chrono::milliseconds)>& sleep);

    TGateTiming Timing() const;
    // Tests only: shorter intervals, and the stamp back to 0. Not while collectors run.
    void SetTiming(TGateTiming timing);
    void ResetStamp();

  private:
    std::mutex& lock_;
    TGateTiming timing_;
    std::int64_t stamp_ = 0;  // guarded by lock_
};

// The two gates of one engine with their common lock.
struct TEngineGates {
    TEngineGates(TGateTiming resultPage, TGateTiming site);
    std::mutex Lock;
    TStartGate ResultPage;
    TStartGate Site;
};

// The process-wide gates: Baidu 2000/100 and 1000/50 ms; Sogou and 360 3000/100 and 2000/50 ms each.
TEngineGates& BaiduGates();
TEngineGates& SogouGates();
TEngineGates& So360Gates();
// Gates by engine number (0 Baidu, 1 Sogou, 2 360).
TEngineGates& GatesOfEngine(int engine);

// Milliseconds of the monotonic clock the gates use.
std::int64_t GateClockMs();

}  // namespace vexo
