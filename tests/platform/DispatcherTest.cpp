// Delivery rules of the dispatcher on the plain event loop: blocking sends, ordering, closing, drop flags,
// swallowed errors, timers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>
#include <vector>

#include "platform/Dispatcher.h"
#include "platform/EventLoop.h"
#include "platform/Watchdog.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using test::kTestWatchdog;
using test::kWaitLimit;

class DispatcherTest : public ::testing::Test {
  protected:
    // Waits (without running the loop) until a worker's call sits in the queue.
    void WaitUntilQueued(std::size_t count) {
        while (loop_.QueuedCount() < count) {
            std::this_thread::sleep_for(1ms);
        }
    }

    test::TWatchdog watchdog_{kTestWatchdog};
    TEventLoop loop_;
    const std::thread::id uiThread_ = std::this_thread::get_id();
};

TEST_F(DispatcherTest, SendBlocksTheWorkerUntilTheUiThreadRanTheCall) {
    int value = 0;
    std::thread::id ranOn;
    std::atomic<bool> sendReturned{false};
    bool sendResult = false;
    int seenAfterSend = -1;
    std::thread worker([&] {
        sendResult = loop_.Send([&] {
            ranOn = std::this_thread::get_id();
            value = 42;
        });
        seenAfterSend = value;  // no lock: Send orders the UI's write before this read
        sendReturned = true;
    });
    WaitUntilQueued(1);
    std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(sendReturned.load()) << "Send returned before the UI thread ran the call";
    EXPECT_TRUE(loop_.RunUntil([&] { return sendReturned.load(); }, kWaitLimit));
    worker.join();
    EXPECT_TRUE(sendResult);
    EXPECT_EQ(seenAfterSend, 42);
    EXPECT_EQ(ranOn, uiThread_);
}

TEST_F(DispatcherTest, SeveralWorkersSendsRunOnceEachInSendOrderPerWorker) {
    constexpr int kWorkers = 4;
    constexpr int kSendsEach = 100;
    std::vector<std::vector<int>> received(kWorkers);  // touched only on the UI thread
    std::atomic<int> finished{0};
    bool offUiThread = false;
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&, w] {
            for (int i = 0; i < kSendsEach; ++i) {
                loop_.Send([&, w, i] {
                    offUiThread = offUiThread || std::this_thread::get_id() != uiThread_;
                    received[w].push_back(i);
                });
            }
            ++finished;
        });
    }
    EXPECT_TRUE(loop_.RunUntil([&] { return finished == kWorkers; }, kWaitLimit));
    for (auto& worker : workers) {
        worker.join();
    }
    EXPECT_FALSE(offUiThread);
    std::vector<int> expected;
    for (int i = 0; i < kSendsEach; ++i) {
        expected.push_back(i);
    }
    for (int w = 0; w < kWorkers; ++w) {
        EXPECT_EQ(received[w], expected) << "worker " << w;
    }
}

TEST_F(DispatcherTest, SendOnTheUiThreadRunsInlineAlsoFromInsideASentCall) {
    std::vector<int> order;
    EXPECT_TRUE(loop_.Send([&] {
        order.push_back(1);
        loop_.Send([&] { order.push_back(2); });
        order.push_back(3);
    }));
    order.push_back(4);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4}));
    EXPECT_EQ(loop_.QueuedCount(), 0u);
}

TEST_F(DispatcherTest, PostsRunLaterOnTheUiThreadInPostOrder) {
    std::vector<int> order;
    EXPECT_TRUE(loop_.Post([&] { order.push_back(1); }));
    EXPECT_TRUE(loop_.Post([&] { order.push_back(2); }));
    EXPECT_TRUE(order.empty()) << "Post ran inline";

    std::thread::id ranOn;
    std::thread worker([&] {
        for (int i = 3; i <= 5; ++i) {
            loop_.Post([&, i] {
                ranOn = std::this_thread::get_id();
                order.push_back(i);
            });
        }
    });
    worker.join();
    EXPECT_EQ(loop_.ProcessPending(), 5u);
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 4, 5}));
    EXPECT_EQ(ranOn, uiThread_);
}

TEST_F(DispatcherTest, ProcessPendingRunsOnlyWhatWasQueuedOnEntry) {
    int runs = 0;
    std::function<void()> requeue = [&] {
        ++runs;
        loop_.Post(requeue);
    };
    loop_.Post(requeue);
    EXPECT_EQ(loop_.ProcessPending(), 1u);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(loop_.QueuedCount(), 1u);
}

TEST_F(DispatcherTest, ErrorsOfCallsAreSwallowedAndTheNextCallsRun) {
    bool sendResult = false;
    bool continued = false;
    std::atomic<bool> done{false};
    int later = 0;
    std::thread worker([&] {
        sendResult = loop_.Send([] { throw std::runtime_error("handler failed"); });
        continued = true;
        loop_.Send([&] { ++later; });
        done = true;
    });
    loop_.Post([] { throw 7; });
    loop_.Post([&] { ++later; });
    loop_.StartSingleShot(0ms, [] { throw std::logic_error("timer failed"); });
    loop_.StartSingleShot(0ms, [&] { ++later; });
    EXPECT_TRUE(loop_.RunUntil([&] { return done && later == 3; }, kWaitLimit));
    worker.join();
    EXPECT_TRUE(sendResult);
    EXPECT_TRUE(continued);
    EXPECT_NO_THROW(loop_.Send([] { throw std::runtime_error("inline"); }));
}

TEST_F(DispatcherTest, CloseReleasesABlockedSenderAndDropsItsCall) {
    std::atomic<bool> ran{false};
    std::atomic<int> sendResult{-1};
    std::thread worker([&] { sendResult = loop_.Send([&] { ran = true; }) ? 1 : 0; });
    WaitUntilQueued(1);
    loop_.Close();  // the loop never ran the call
    worker.join();
    EXPECT_EQ(sendResult, 0);
    loop_.ProcessPending();
    EXPECT_FALSE(ran.load());
}

TEST_F(DispatcherTest, AfterCloseSendsReturnAtOnceAndPostsAreDropped) {
    int runs = 0;
    loop_.Post([&] { ++runs; });  // queued before Close: dropped too
    loop_.Close();
    EXPECT_TRUE(loop_.IsClosed());
    EXPECT_FALSE(loop_.Post([&] { ++runs; }));
    EXPECT_FALSE(loop_.Send([&] { ++runs; }));  // on the UI thread
    bool workerResult = true;
    std::thread worker([&] { workerResult = loop_.Send([&] { ++runs; }); });
    worker.join();
    EXPECT_FALSE(workerResult);
    loop_.ProcessPending();
    EXPECT_EQ(runs, 0);
    loop_.Close();  // a second Close is harmless
}

TEST_F(DispatcherTest, SenderWaitsForTheEndOfACallThatIsRunningWhenClosed) {
    bool finished = false;
    std::atomic<int> sendResult{-1};
    bool finishedWhenReleased = false;
    std::atomic<bool> done{false};
    std::thread worker([&] {
        sendResult = loop_.Send([&] {
            loop_.Close();
            std::this_thread::sleep_for(20ms);
            finished = true;
        })
                         ? 1
                         : 0;
        finishedWhenReleased = finished;
        done = true;
    });
    EXPECT_TRUE(loop_.RunUntil([&] { return done.load(); }, kWaitLimit));
    worker.join();
    EXPECT_EQ(sendResult, 1);
    EXPECT_TRUE(finishedWhenReleased);
}

TEST_F(DispatcherTest, DropFlagIsCheckedAgainOnTheUiThreadBeforeTheCallRuns) {
    std::atomic<bool> terminated{false};
    bool ran = false;
    std::atomic<int> sendResult{-1};
    std::thread worker([&] { sendResult = loop_.Send([&] { ran = true; }, terminated) ? 1 : 0; });
    WaitUntilQueued(1);
    terminated = true;  // set after the call was queued, before the UI thread reaches it
    loop_.ProcessPending();
    worker.join();
    EXPECT_EQ(sendResult, 0);
    EXPECT_FALSE(ran);

    // Already set: not even queued, from a worker or inline.
    bool workerResult = true;
    std::thread late([&] { workerResult = loop_.Send([&] { ran = true; }, terminated); });
    late.join();
    EXPECT_FALSE(workerResult);
    EXPECT_FALSE(loop_.Send([&] { ran = true; }, terminated));
    EXPECT_EQ(loop_.QueuedCount(), 0u);
    EXPECT_FALSE(ran);

    std::atomic<bool> clear{false};
    EXPECT_TRUE(loop_.Send([&] { ran = true; }, clear));
    EXPECT_TRUE(ran);
}

TEST_F(DispatcherTest, SendersBlockedWhileTheLoopStopsAreAllReleased) {
    constexpr int kWorkers = 6;
    std::atomic<int> ended{0};
    std::atomic<int> handled{0};
    std::vector<std::thread> workers;
    for (int w = 0; w < kWorkers; ++w) {
        workers.emplace_back([&] {
            while (loop_.Send([&] { ++handled; })) {
            }
            ++ended;
        });
    }
    EXPECT_TRUE(loop_.RunUntil([&] { return handled > 3 * kWorkers; }, kWaitLimit));
    loop_.Close();
    for (auto& worker : workers) {
        worker.join();  // a sender left blocked would trip the watchdog here
    }
    EXPECT_EQ(ended, kWorkers);
}

TEST_F(DispatcherTest, RunEndsOnQuitFromAnotherThreadAndOnlyOnTheUiThread) {
    std::thread quitter([&] {
        loop_.Post([] {});
        loop_.Quit();
    });
    loop_.Run();
    quitter.join();

    bool threw = false;
    std::thread stranger([&] {
        try {
            loop_.Run();
        } catch (const std::logic_error&) {
            threw = true;
        }
    });
    stranger.join();
    EXPECT_TRUE(threw);
}

TEST_F(DispatcherTest, RunUntilGivesUpAfterItsTimeout) {
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop_.RunUntil([] { return false; }, 30ms));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 30ms);
}

TEST_F(DispatcherTest, SingleShotFiresOnceOnTheUiThreadNotBeforeItsDelay) {
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration firedAfter{};
    int fired = 0;
    std::thread::id ranOn;
    loop_.StartSingleShot(40ms, [&] {
        firedAfter = std::chrono::steady_clock::now() - start;
        ranOn = std::this_thread::get_id();
        ++fired;
    });
    EXPECT_TRUE(loop_.RunUntil([&] { return fired > 0; }, kWaitLimit));
    EXPECT_FALSE(loop_.RunUntil([&] { return fired > 1; }, 60ms));
    EXPECT_EQ(fired, 1);
    EXPECT_GE(firedAfter, 40ms);
    EXPECT_EQ(ranOn, uiThread_);
}

TEST_F(DispatcherTest, PeriodicTimerRepeatsUntilStoppedAlsoFromItsOwnCallback) {
    int ticks = 0;
    TTimerId timer = kNoTimer;
    timer = loop_.StartTimer(5ms, [&] {
        if (++ticks == 3) {
            loop_.StopTimer(timer);
        }
    });
    EXPECT_NE(timer, kNoTimer);
    EXPECT_TRUE(loop_.RunUntil([&] { return ticks == 3; }, kWaitLimit));
    EXPECT_FALSE(loop_.RunUntil([&] { return ticks > 3; }, 50ms));

    int other = 0;
    const TTimerId stopped = loop_.StartTimer(1ms, [&] { ++other; });
    loop_.StopTimer(stopped);
    loop_.StopTimer(stopped);  // unknown by now: nothing happens
    loop_.StopTimer(kNoTimer);
    EXPECT_FALSE(loop_.RunUntil([&] { return other > 0; }, 20ms));
}

TEST_F(DispatcherTest, TimersAndQueuedCallsDoNotStarveEachOther) {
    int ticks = 0;
    int calls = 0;
    loop_.StartTimer(0ms, [&] { ++ticks; });
    std::function<void()> requeue = [&] {
        ++calls;
        loop_.Post(requeue);
    };
    loop_.Post(requeue);
    EXPECT_TRUE(loop_.RunUntil([&] { return ticks > 10 && calls > 10; }, kWaitLimit));
}

TEST(CurrentDispatcherTest, HoldsWhatTheProgramSet) {
    auto loop = std::make_shared<TEventLoop>();
    SetCurrentDispatcher(loop);
    EXPECT_EQ(CurrentDispatcher(), loop);
    SetCurrentDispatcher(nullptr);
    EXPECT_EQ(CurrentDispatcher(), nullptr);
}

}  // namespace
}  // namespace vexo
