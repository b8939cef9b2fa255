// The worker base: start after configuring, sends to the UI thread, pause points, termination, the termination
// callback on the UI thread, self-freeing, and the count of live workers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "platform/WorkerThread.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using test::kTestWatchdog;
using test::kWaitLimit;

// A worker whose body the test supplies; counts its destruction so the test sees it free itself.
class TProbeWorker final : public TWorkerThread {
  public:
    using TBody = std::function<void(TProbeWorker&)>;

    TProbeWorker(TBody body, std::shared_ptr<std::atomic<int>> destroyed)
        : body_(std::move(body)), destroyed_(std::move(destroyed)) {}
    ~TProbeWorker() override { ++*destroyed_; }

    using TWorkerThread::PausePoint;
    using TWorkerThread::SendToUi;
    using TWorkerThread::Sleep;

    // Runs on the UI thread after the termination callback; set before Start.
    std::function<void()> onFinishUi;

  protected:
    void Execute() override { body_(*this); }
    void FinishOnUiThread() override {
        if (onFinishUi) {
            onFinishUi();
        }
    }

  private:
    TBody body_;
    std::shared_ptr<std::atomic<int>> destroyed_;
};

class WorkerThreadTest : public ::testing::Test {
  protected:
    void SetUp() override { SetCurrentDispatcher(loop_); }

    void TearDown() override {
        TerminateAllWorkers();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWaitLimit)) << "workers left running";
        SetCurrentDispatcher(nullptr);
    }

    std::unique_ptr<TProbeWorker> Make(TProbeWorker::TBody body) {
        return std::make_unique<TProbeWorker>(std::move(body), destroyed_);
    }

    bool RunUntil(const std::function<bool()>& done) { return loop_->RunUntil(done, kWaitLimit); }

    test::TWatchdog watchdog_{kTestWatchdog};
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    std::shared_ptr<std::atomic<int>> destroyed_ = std::make_shared<std::atomic<int>>(0);
    const std::thread::id uiThread_ = std::this_thread::get_id();
};

TEST_F(WorkerThreadTest, TerminationCallbackRunsOnceOnTheUiThreadWhileTheWorkerLivesThenItIsFreed) {
    std::vector<std::string> events;  // UI thread only
    std::thread::id callbackThread;
    int destroyedDuringCallback = -1;
    auto worker = Make([](TProbeWorker&) {});
    worker->SetOnTerminate([&] {
        events.push_back("callback");
        callbackThread = std::this_thread::get_id();
        destroyedDuringCallback = *destroyed_;
    });
    worker->onFinishUi = [&] { events.push_back("finish"); };
    TWorkerThread::Start(std::move(worker));

    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 1; }));
    EXPECT_EQ(events, (std::vector<std::string>{"callback", "finish"}));
    EXPECT_EQ(callbackThread, uiThread_);
    EXPECT_EQ(destroyedDuringCallback, 0);
    EXPECT_TRUE(RunUntil([] { return LiveWorkerCount() == 0; }));
    loop_->ProcessPending();
    EXPECT_EQ(events.size(), 2u);
}

TEST_F(WorkerThreadTest, WorkerWaitsForTheUiThreadBeforeFreeingItself) {
    std::atomic<bool> bodyEnded{false};
    int callbacks = 0;
    auto worker = Make([&](TProbeWorker&) { bodyEnded = true; });
    worker->SetOnTerminate([&] { ++callbacks; });
    TWorkerThread::Start(std::move(worker));
    while (!bodyEnded || loop_->QueuedCount() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    std::this_thread::sleep_for(30ms);
    EXPECT_EQ(*destroyed_, 0) << "freed before its termination callback ran";
    EXPECT_EQ(LiveWorkerCount(), 1u);
    EXPECT_TRUE(RunUntil([&] { return LiveWorkerCount() == 0; }));
    EXPECT_EQ(callbacks, 1);
    EXPECT_EQ(*destroyed_, 1);
}

TEST_F(WorkerThreadTest, SendToUiRunsOnTheUiThreadAndBlocksTheWorker) {
    int value = 0;  // written on the UI thread, read by the worker after its send
    std::thread::id ranOn;
    std::vector<int> seen;  // the worker's, read after it ended
    std::atomic<bool> ended{false};
    auto worker = Make([&](TProbeWorker& self) {
        for (int i = 1; i <= 3; ++i) {
            self.SendToUi([&, i] {
                ranOn = std::this_thread::get_id();
                value = i * 10;
            });
            seen.push_back(value);
        }
    });
    worker->SetOnTerminate([&] { ended = true; });
    TWorkerThread::Start(std::move(worker));
    EXPECT_TRUE(RunUntil([&] { return ended.load(); }));
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 30}));
    EXPECT_EQ(ranOn, uiThread_);
}

TEST_F(WorkerThreadTest, PausedWorkerMakesNoProgressUntilResumed) {
    std::atomic<int> progress{0};
    auto worker = Make([&](TProbeWorker& self) {
        while (self.PausePoint()) {
            ++progress;
            self.Sleep(1ms);
        }
    });
    TProbeWorker* w = TWorkerThread::Start(std::move(worker));
    EXPECT_TRUE(RunUntil([&] { return progress > 0; }));
    w->Pause();
    EXPECT_TRUE(w->Paused());
    EXPECT_TRUE(RunUntil([&] { return w->WaitingAtPausePoint(); }));
    const int atPause = progress;
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(progress, atPause);
    w->Resume();
    EXPECT_FALSE(w->Paused());
    EXPECT_TRUE(RunUntil([&] { return progress > atPause; }));
    w->Terminate();
    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 1; }));
}

TEST_F(WorkerThreadTest, TerminateReleasesAPausedWorker) {
    std::atomic<int> pausePointResult{-1};
    std::atomic<int> laterPausePoint{-1};
    bool ended = false;
    auto worker = Make([&](TProbeWorker& self) {
        pausePointResult = self.PausePoint() ? 1 : 0;
        laterPausePoint = self.PausePoint() ? 1 : 0;  // returns at once once terminated
    });
    worker->Pause();  // paused before the body starts: it stops at its first safe point
    worker->SetOnTerminate([&] { ended = true; });
    TProbeWorker* w = TWorkerThread::Start(std::move(worker));
    EXPECT_TRUE(RunUntil([&] { return w->WaitingAtPausePoint(); }));
    EXPECT_EQ(pausePointResult, -1);
    w->Terminate();
    EXPECT_TRUE(RunUntil([&] { return ended; }));
    EXPECT_EQ(pausePointResult, 0);
    EXPECT_EQ(laterPausePoint, 0);
}

TEST_F(WorkerThreadTest, SleepWakesEarlyOnTerminateAndOtherwiseLastsItsTime) {
    std::atomic<int> longSleep{-1};
    auto sleeper = Make([&](TProbeWorker& self) { longSleep = self.Sleep(std::chrono::hours(1)) ? 1 : 0; });
    TProbeWorker* w = TWorkerThread::Start(std::move(sleeper));
    std::this_thread::sleep_for(10ms);
    w->Terminate();
    EXPECT_TRUE(RunUntil([&] { return longSleep != -1; }));  // the watchdog bounds this
    EXPECT_EQ(longSleep, 0);

    std::atomic<int> shortSleep{-1};
    std::atomic<long long> sleptMs{0};
    auto napper = Make([&](TProbeWorker& self) {
        const auto start = std::chrono::steady_clock::now();
        shortSleep = self.Sleep(30ms) ? 1 : 0;
        sleptMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    });
    TWorkerThread::Start(std::move(napper));
    EXPECT_TRUE(RunUntil([&] { return shortSleep != -1; }));
    EXPECT_EQ(shortSleep, 1);
    EXPECT_GE(sleptMs, 30);
}

TEST_F(WorkerThreadTest, NothingIsSentAfterTerminateIncludingACallQueuedBeforeIt) {
    bool queuedCallRan = false;
    bool laterCallRan = false;
    std::atomic<int> queuedResult{-1};
    std::atomic<int> laterResult{-1};
    auto worker = Make([&](TProbeWorker& self) {
        queuedResult = self.SendToUi([&] { queuedCallRan = true; }) ? 1 : 0;
        laterResult = self.SendToUi([&] { laterCallRan = true; }) ? 1 : 0;
    });
    TProbeWorker* w = TWorkerThread::Start(std::move(worker));
    while (loop_->QueuedCount() == 0) {  // the first call waits in the queue
        std::this_thread::sleep_for(1ms);
    }
    w->Terminate();
    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 1; }));
    EXPECT_EQ(queuedResult, 0);
    EXPECT_EQ(laterResult, 0);
    EXPECT_FALSE(queuedCallRan);
    EXPECT_FALSE(laterCallRan);
}

TEST_F(WorkerThreadTest, TerminateFromInsideARunningSentCallLetsThatCallFinish) {
    TProbeWorker* w = nullptr;
    bool finished = false;
    std::atomic<int> firstResult{-1};
    std::atomic<int> secondResult{-1};
    auto worker = Make([&](TProbeWorker& self) {
        firstResult = self.SendToUi([&] {
            w->Terminate();
            finished = true;
        })
                          ? 1
                          : 0;
        secondResult = self.SendToUi([] {}) ? 1 : 0;
    });
    w = worker.get();
    TWorkerThread::Start(std::move(worker));
    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 1; }));
    EXPECT_TRUE(finished);
    EXPECT_EQ(firstResult, 1);
    EXPECT_EQ(secondResult, 0);
}

TEST_F(WorkerThreadTest, TerminationCallbackCanBeReplacedOrRemovedUntilItRuns) {
    std::atomic<bool> release{false};
    std::vector<std::string> events;
    auto worker = Make([&](TProbeWorker& self) {
        while (!release && self.Sleep(1ms)) {
        }
    });
    worker->SetOnTerminate([&] { events.push_back("first"); });
    worker->onFinishUi = [&] { events.push_back("finish"); };
    TProbeWorker* w = TWorkerThread::Start(std::move(worker));
    w->SetOnTerminate([&] { events.push_back("second"); });
    w->ClearOnTerminate();  // on the UI thread while the worker still runs
    release = true;
    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 1; }));
    EXPECT_EQ(events, (std::vector<std::string>{"finish"}));

    auto replaced = Make([](TProbeWorker&) {});
    replaced->SetOnTerminate([&] { events.push_back("first"); });
    replaced->SetOnTerminate([&] { events.push_back("second"); });
    TWorkerThread::Start(std::move(replaced));
    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 2; }));
    EXPECT_EQ(events, (std::vector<std::string>{"finish", "second"}));
}

TEST_F(WorkerThreadTest, ErrorInTheBodyOrTheCallbackEndsTheRunNormally) {
    int callbacks = 0;
    bool finishRan = false;
    auto worker = Make([](TProbeWorker&) { throw std::runtime_error("page failed"); });
    worker->SetOnTerminate([&] {
        ++callbacks;
        throw std::runtime_error("handler failed");
    });
    worker->onFinishUi = [&] { finishRan = true; };
    TWorkerThread::Start(std::move(worker));
    EXPECT_TRUE(RunUntil([&] { return *destroyed_ == 1; }));
    EXPECT_EQ(callbacks, 1);
    EXPECT_TRUE(finishRan);
}

TEST_F(WorkerThreadTest, WorkerEndingWhileTheDispatcherIsClosedIsStillFreedAndCountedOut) {
    std::atomic<bool> release{false};
    bool callbackRan = false;
    bool finishRan = false;
    std::atomic<int> sendResult{-1};
    auto worker = Make([&](TProbeWorker& self) {
        while (!release) {
            self.Sleep(1ms);
        }
        sendResult = self.SendToUi([] {}) ? 1 : 0;
    });
    worker->SetOnTerminate([&] { callbackRan = true; });
    worker->onFinishUi = [&] { finishRan = true; };
    TWorkerThread::Start(std::move(worker));
    loop_->Close();
    release = true;
    EXPECT_TRUE(WaitForWorkers(kWaitLimit));  // no UI thread needed once closed
    EXPECT_EQ(*destroyed_, 1);
    EXPECT_EQ(sendResult, 0);
    loop_->ProcessPending();
    EXPECT_FALSE(callbackRan);
    EXPECT_FALSE(finishRan);
}

TEST_F(WorkerThreadTest, WorkersBlockedInSendAtShutdownAreReleased) {
    constexpr int kWorkers = 5;
    std::atomic<int> handled{0};
    int callbacks = 0;
    for (int i = 0; i < kWorkers; ++i) {
        // Never checks its flag: only the closed dispatcher can release it.
        auto worker = Make([&](TProbeWorker& self) {
            while (self.Dispatcher()->Send([&] { ++handled; })) {
            }
        });
        worker->SetOnTerminate([&] { ++callbacks; });
        TWorkerThread::Start(std::move(worker));
    }
    EXPECT_TRUE(RunUntil([&] { return handled > 2 * kWorkers; }));
    TerminateAllWorkers();
    loop_->Close();
    EXPECT_TRUE(WaitForWorkers(kWaitLimit));
    EXPECT_EQ(*destroyed_, kWorkers);
    EXPECT_EQ(callbacks, 0);
}

TEST_F(WorkerThreadTest, LiveCountAndIdentityOfSeveralWorkers) {
    constexpr std::size_t kWorkers = 4;
    std::vector<std::uint64_t> ids;
    std::vector<TProbeWorker*> workers;
    std::set<std::uint64_t> ended;  // UI thread only
    for (std::size_t i = 0; i < kWorkers; ++i) {
        auto worker = Make([](TProbeWorker& self) {
            while (self.Sleep(5ms)) {
            }
        });
        const std::uint64_t id = worker->Id();
        worker->SetOnTerminate([&ended, id] { ended.insert(id); });
        ids.push_back(id);
        workers.push_back(TWorkerThread::Start(std::move(worker)));
    }
    EXPECT_EQ(std::set<std::uint64_t>(ids.begin(), ids.end()).size(), kWorkers);
    EXPECT_EQ(LiveWorkerCount(), kWorkers);
    EXPECT_FALSE(WaitForWorkers(10ms));

    workers[1]->Terminate();
    EXPECT_TRUE(RunUntil([&] { return LiveWorkerCount() == kWorkers - 1; }));
    EXPECT_EQ(ended, (std::set<std::uint64_t>{ids[1]}));

    TerminateAllWorkers();
    EXPECT_TRUE(RunUntil([&] { return LiveWorkerCount() == 0; }));
    EXPECT_EQ(ended, std::set<std::uint64_t>(ids.begin(), ids.end()));
    EXPECT_EQ(*destroyed_, static_cast<int>(kWorkers));
}

TEST_F(WorkerThreadTest, WorkerNeedsADispatcher) {
    SetCurrentDispatcher(nullptr);
    EXPECT_THROW(Make([](TProbeWorker&) {}), std::logic_error);
    SetCurrentDispatcher(loop_);
}

}  // namespace
}  // namespace vexo
