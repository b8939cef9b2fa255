// Start gates: spacing of openings, the first opening, the engine lock shared by an engine's two gates, engines
// independent of each other, waiting that gives up on termination, and racing openers.
#include "engine/StartGate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <latch>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "engine/Notify.h"
#include "platform/Watchdog.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using TClock = std::chrono::steady_clock;
using TSleep = std::function<bool(std::chrono::milliseconds)>;

constexpr int kEngines[] = {kEngineBaidu, kEngineSogou, kEngine360};

// When a successful try started and when it returned: the gate's stamp lies between the two.
struct TOpening {
    TClock::time_point before;
    TClock::time_point after;
};

// Two openings of one gate are at least `interval` apart, measured so that the measure can only overstate the
// real distance: from the start of the earlier try to the return of the later one.
void ExpectSpaced(const TOpening& earlier, const TOpening& later, std::chrono::milliseconds interval) {
    EXPECT_GE(later.after - earlier.before, interval);
}

// The six gates are process-wide: every test starts them "never opened" with the real clock and timings, and
// leaves them so.
class StartGateTest : public ::testing::Test {
  protected:
    void SetUp() override { RestoreAll(); }
    void TearDown() override { RestoreAll(); }

    static void RestoreAll() {
        const TGateTiming pages[] = {kBaiduPageGate, kSogouPageGate, k360PageGate};
        const TGateTiming sites[] = {kBaiduSiteGate, kSogouSiteGate, k360SiteGate};
        for (int engine : kEngines) {
            for (TStartGate* gate : {&GatesOfEngine(engine).ResultPage, &GatesOfEngine(engine).Site}) {
                gate->SetClock({});
                gate->ResetStamp();
            }
            GatesOfEngine(engine).ResultPage.SetTiming(pages[engine]);
            GatesOfEngine(engine).Site.SetTiming(sites[engine]);
        }
    }

    // Every gate reads the test's clock.
    void UseManualClock() {
        for (int engine : kEngines) {
            GatesOfEngine(engine).ResultPage.SetClock([this] { return now_.load(); });
            GatesOfEngine(engine).Site.SetClock([this] { return now_.load(); });
        }
    }

    test::TWatchdog watchdog_{test::kTestWatchdog};
    std::atomic<std::int64_t> now_{0};
};

TEST_F(StartGateTest, BaiduGatesSpaceTheirOpeningsByTheirRealIntervals) {
    auto openRepeatedly = [](TStartGate& gate, int count) {
        std::vector<TOpening> openings;
        for (int i = 0; i < count; ++i) {
            TOpening opening;
            TSleep sleep = [&](std::chrono::milliseconds poll) {
                std::this_thread::sleep_for(poll);
                opening.before = TClock::now();  // the next try starts now
                return true;
            };
            opening.before = TClock::now();
            EXPECT_TRUE(gate.Wait(sleep));
            opening.after = TClock::now();
            openings.push_back(opening);
        }
        return openings;
    };
    TEngineGates& baidu = BaiduGates();
    auto sites = std::async(std::launch::async, [&] { return openRepeatedly(baidu.Site, 3); });
    const std::vector<TOpening> pages = openRepeatedly(baidu.ResultPage, 2);
    const std::vector<TOpening> siteOpenings = sites.get();

    ExpectSpaced(pages[0], pages[1], 2000ms);
    ExpectSpaced(siteOpenings[0], siteOpenings[1], 1000ms);
    ExpectSpaced(siteOpenings[1], siteOpenings[2], 1000ms);
}

TEST_F(StartGateTest, FirstTryOpensEvenWithTheClockAtZeroAndLaterTriesWaitForMoreThanTheInterval) {
    UseManualClock();
    TStartGate& gate = SogouGates().ResultPage;  // 3000 ms
    now_ = 0;
    EXPECT_TRUE(gate.TryOpen());
    EXPECT_FALSE(gate.TryOpen());
    now_ = 3000;
    EXPECT_FALSE(gate.TryOpen());
    now_ = 3001;
    EXPECT_TRUE(gate.TryOpen());
    EXPECT_FALSE(gate.TryOpen());

    gate.ResetStamp();  // never opened again: opens at once, whatever the clock says
    now_ = 3002;
    EXPECT_TRUE(gate.TryOpen());
}

TEST_F(StartGateTest, WaitSleepsOnePollAtATimeUntilTheIntervalHasPassed) {
    UseManualClock();
    TStartGate& gate = So360Gates().Site;
    gate.SetTiming({30ms, 10ms});
    now_ = 1000;
    ASSERT_TRUE(gate.TryOpen());

    std::vector<std::chrono::milliseconds> sleeps;
    TSleep advanceClock = [&](std::chrono::milliseconds poll) {
        sleeps.push_back(poll);
        now_ += poll.count();
        return true;
    };
    EXPECT_TRUE(gate.Wait(advanceClock));
    // Tries at 1000, 1010, 1020 and 1030 find the gate closed; the one at 1040 opens it.
    EXPECT_EQ(sleeps, (std::vector<std::chrono::milliseconds>(4, 10ms)));
}

TEST_F(StartGateTest, WaitGivesUpAtTheFirstSleepThatSeesTerminationWithoutOpeningTheGate) {
    TStartGate& gate = BaiduGates().ResultPage;  // real timings: 2000 ms, polled every 100 ms
    ASSERT_TRUE(gate.TryOpen());
    std::atomic<bool> terminated{false};
    std::atomic<int> triesAfterTermination{0};
    gate.SetClock([&] {
        if (terminated) {
            ++triesAfterTermination;
        }
        return GateClockMs();
    });
    std::vector<std::chrono::milliseconds> sleeps;  // the waiting thread's until it ended
    std::atomic<int> sleepsStarted{0};
    std::atomic<int> sleepsStartedAfterTermination{0};
    // A worker's Sleep: returns early, and false, once termination was requested.
    TSleep sleep = [&](std::chrono::milliseconds duration) {
        sleeps.push_back(duration);
        ++sleepsStarted;
        if (terminated) {
            ++sleepsStartedAfterTermination;
        }
        const auto end = TClock::now() + duration;
        while (!terminated && TClock::now() < end) {
            std::this_thread::sleep_for(1ms);
        }
        return !terminated;
    };
    auto waited = std::async(std::launch::async, [&] { return gate.Wait(sleep); });
    while (sleepsStarted < 2) {
        std::this_thread::sleep_for(1ms);
    }
    terminated = true;

    EXPECT_FALSE(waited.get());
    // Between two looks at the flag the wait never sleeps longer than one poll interval, and once the flag is
    // set it neither starts another full sleep nor tries the gate more than once.
    EXPECT_EQ(std::count(sleeps.begin(), sleeps.end(), 100ms), static_cast<long>(sleeps.size()));
    EXPECT_LE(sleepsStartedAfterTermination, 1);
    EXPECT_LE(triesAfterTermination, 1);
    gate.SetClock({});
    EXPECT_FALSE(gate.TryOpen()) << "the abandoned wait must not have moved the stamp";
}

// Waiters are served in the order they began to wait, whoever polls first; a try never overtakes the line, and a
// waiter that gives up leaves it.
TEST_F(StartGateTest, WaitersOpenTheGateInTheOrderTheyBeganToWait) {
    UseManualClock();
    TStartGate& gate = BaiduGates().Site;
    gate.SetTiming({100ms, 1ms});
    now_ = 1000;
    ASSERT_TRUE(gate.TryOpen());

    std::mutex orderLock;
    std::vector<char> order;
    std::atomic<bool> giveUpB{false};
    auto waiter = [&](char name) {
        return std::thread([&, name] {
            TSleep sleep = [&](std::chrono::milliseconds poll) {
                std::this_thread::sleep_for(poll);
                return !(name == 'B' && giveUpB);
            };
            if (gate.Wait(sleep)) {
                std::lock_guard guard(orderLock);
                order.push_back(name);
            }
        });
    };
    auto waitFor = [&](auto done) {
        while (!done()) {
            std::this_thread::sleep_for(1ms);
        }
    };
    // D, C, B, A begin to wait in that order; A polls as often as the others, so without a line any could win.
    std::vector<std::thread> threads;
    for (char name : {'D', 'C', 'B', 'A'}) {
        const std::size_t before = gate.WaitingCount();
        threads.push_back(waiter(name));
        waitFor([&] { return gate.WaitingCount() == before + 1; });
    }
    auto openings = [&] {
        std::lock_guard guard(orderLock);
        return order.size();
    };
    for (std::size_t k = 1; k <= 2; ++k) {
        now_ += 101;
        waitFor([&] { return openings() == k; });
    }
    EXPECT_EQ(gate.WaitingCount(), 2u);
    giveUpB = true;
    waitFor([&] { return gate.WaitingCount() == 1; });
    now_ += 101;
    waitFor([&] { return openings() == 3; });
    for (std::thread& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(order, (std::vector<char>{'D', 'C', 'A'}));
    EXPECT_EQ(gate.WaitingCount(), 0u);

    // A try with a waiter in line stays closed though the interval has passed; once it gave up, a try opens.
    std::promise<void> asleep;
    std::atomic<bool> release{false};
    std::thread waiting([&] {
        bool first = true;
        EXPECT_FALSE(gate.Wait([&](std::chrono::milliseconds) {
            if (std::exchange(first, false)) {
                asleep.set_value();
            }
            while (!release) {
                std::this_thread::sleep_for(1ms);
            }
            return false;
        }));
    });
    asleep.get_future().wait();
    now_ += 101;
    EXPECT_FALSE(gate.TryOpen());
    release = true;
    waiting.join();
    EXPECT_TRUE(gate.TryOpen());
}

TEST_F(StartGateTest, AnEnginesTwoGatesTestUnderTheEngineLockAndOtherEnginesStayFree) {
    // Asked from another thread while a gate reads its clock, i.e. while it holds its lock.
    auto lockedElsewhere = [](std::mutex& lock) {
        return std::async(std::launch::async,
                          [&lock] {
                              if (!lock.try_lock()) {
                                  return true;
                              }
                              lock.unlock();
                              return false;
                          })
            .get();
    };
    for (int engine : kEngines) {
        SCOPED_TRACE(engine);
        TEngineGates& gates = GatesOfEngine(engine);
        for (TStartGate* gate : {&gates.ResultPage, &gates.Site}) {
            std::vector<bool> held;  // own lock, then the other engines' locks
            gate->SetClock([&] {
                held.push_back(lockedElsewhere(gates.Lock));
                for (int other : kEngines) {
                    if (other != engine) {
                        held.push_back(lockedElsewhere(GatesOfEngine(other).Lock));
                    }
                }
                return GateClockMs();
            });
            EXPECT_TRUE(gate->TryOpen());
            EXPECT_EQ(held, (std::vector<bool>{true, false, false}));
            gate->SetClock({});
        }
    }
}

TEST_F(StartGateTest, OpeningAGateLeavesTheEnginesOtherGateAndOtherEnginesGatesOpen) {
    UseManualClock();
    now_ = 500;
    EXPECT_EQ(&GatesOfEngine(kEngineBaidu), &BaiduGates());
    EXPECT_EQ(&GatesOfEngine(kEngineSogou), &SogouGates());
    EXPECT_EQ(&GatesOfEngine(kEngine360), &So360Gates());
    EXPECT_THROW(GatesOfEngine(3), std::out_of_range);

    ASSERT_TRUE(BaiduGates().ResultPage.TryOpen());
    EXPECT_FALSE(BaiduGates().ResultPage.TryOpen());
    EXPECT_TRUE(BaiduGates().Site.TryOpen());
    EXPECT_TRUE(SogouGates().ResultPage.TryOpen());
    EXPECT_TRUE(So360Gates().ResultPage.TryOpen());
    EXPECT_TRUE(SogouGates().Site.TryOpen());
    EXPECT_TRUE(So360Gates().Site.TryOpen());
}

TEST_F(StartGateTest, RacingThreadsOpenAGateOncePerInterval) {
    constexpr int kThreads = 8;
    TStartGate& gate = SogouGates().Site;

    // Frozen clock: of many simultaneous tries exactly one opens; at stamp + interval none, one ms later one.
    UseManualClock();
    now_ = 10;
    auto raceOnce = [&] {
        std::atomic<int> opened{0};
        std::latch start(kThreads);
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                start.arrive_and_wait();
                for (int i = 0; i < 200; ++i) {
                    opened += gate.TryOpen() ? 1 : 0;
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
        return opened.load();
    };
    EXPECT_EQ(raceOnce(), 1);
    now_ = 10 + 2000;
    EXPECT_EQ(raceOnce(), 0);
    now_ = 10 + 2001;
    EXPECT_EQ(raceOnce(), 1);

    // Real clock, short interval: threads waiting on the gate together; every two openings are an interval apart.
    gate.SetClock({});
    gate.ResetStamp();
    gate.SetTiming({20ms, 1ms});
    constexpr int kOpenings = 12;
    std::mutex openingsLock;
    std::vector<TOpening> openings;
    std::atomic<bool> done{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            while (!done) {
                TOpening opening;
                TSleep sleep = [&](std::chrono::milliseconds poll) {
                    std::this_thread::sleep_for(poll);
                    opening.before = TClock::now();
                    return !done;
                };
                opening.before = TClock::now();
                if (!gate.Wait(sleep)) {
                    break;
                }
                opening.after = TClock::now();
                std::lock_guard guard(openingsLock);
                openings.push_back(opening);
                if (openings.size() >= kOpenings) {
                    done = true;
                }
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ASSERT_GE(openings.size(), static_cast<std::size_t>(kOpenings));
    // Which of two openings came first is unknown from outside; whichever it was, the later one returned at
    // least an interval after the earlier one's try started.
    for (std::size_t i = 0; i < openings.size(); ++i) {
        for (std::size_t j = i + 1; j < openings.size(); ++j) {
            const auto spacing =
                std::max(openings[j].after - openings[i].before, openings[i].after - openings[j].before);
            EXPECT_GE(spacing, 20ms) << "openings " << i << " and " << j;
        }
    }
}

}  // namespace
}  // namespace vexo
