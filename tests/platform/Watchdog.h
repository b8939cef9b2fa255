// Ends a test program that hangs: a deadlock then fails loudly instead of stalling the test run.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace vexo::test {

class TWatchdog {
  public:
    explicit TWatchdog(std::chrono::seconds limit) {
        thread_ = std::thread([this, limit] {
            std::unique_lock lock(mutex_);
            if (!changed_.wait_for(lock, limit, [this] { return disarmed_; })) {
                std::fprintf(stderr, "watchdog: test still running after %lld s, taken for a deadlock\n",
                             static_cast<long long>(limit.count()));
                std::abort();
            }
        });
    }
    ~TWatchdog() {
        {
            std::lock_guard lock(mutex_);
            disarmed_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }
    TWatchdog(const TWatchdog&) = delete;
    TWatchdog& operator=(const TWatchdog&) = delete;

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool disarmed_ = false;
    std::thread thread_;
};

// Generous: sanitizer builds on a loaded two-core machine are slow.
inline constexpr std::chrono::seconds kTestWatchdog{60};
inline constexpr std::chrono::milliseconds kWaitLimit{20000};

}  // namespace vexo::test
