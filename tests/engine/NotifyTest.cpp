// Worker notifications: delivery on the UI thread while the sender waits, swallowed handler errors, nothing
// delivered after the sender's termination, posted notifications, and engine numbers of source names.
#include "engine/Notify.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <variant>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "platform/WorkerThread.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using test::kWaitLimit;

// A worker whose body the test supplies, with access to the protected SendToUi.
class TSender final : public TWorkerThread {
  public:
    explicit TSender(std::function<void(TSender&)> body) : body_(std::move(body)) {}
    using TWorkerThread::SendToUi;

  protected:
    void Execute() override { body_(*this); }

  private:
    std::function<void(TSender&)> body_;
};

// What the handler saw of one notification, copied while the sender's objects were valid.
struct TSeen {
    unsigned message = 0;
    std::intptr_t wParam = 0;
    std::string text;
    std::intptr_t number = -1;
    bool onUiThread = false;
};

class NotifyTest : public ::testing::Test {
  protected:
    void SetUp() override { SetCurrentDispatcher(loop_); }
    void TearDown() override {
        TerminateAllWorkers();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWaitLimit));
        SetCurrentDispatcher(nullptr);
    }

    std::shared_ptr<TNotifyWindow> MakeWindow(std::function<void(const TNotification&)> extra = {}) {
        return std::make_shared<TNotifyWindow>(loop_, [this, extra](const TNotification& n) {
            TSeen seen{n.Message, n.WParam, {}, -1, loop_->IsUiThread()};
            if (auto info = std::get_if<const TCaiJiInfo*>(&n.LParam)) {
                seen.text = (*info)->message + "|" + std::to_string((*info)->PageCount);
            } else if (auto number = std::get_if<std::intptr_t>(&n.LParam)) {
                seen.number = *number;
            }
            seen_.push_back(seen);
            if (extra) {
                extra(n);
            }
        });
    }

    // Starts a worker and runs the loop until its termination callback ran.
    void RunWorker(std::function<void(TSender&)> body) {
        bool ended = false;
        auto worker = std::make_unique<TSender>(std::move(body));
        worker->SetOnTerminate([&] { ended = true; });
        TWorkerThread::Start(std::move(worker));
        EXPECT_TRUE(loop_->RunUntil([&] { return ended; }, kWaitLimit));
    }

    test::TWatchdog watchdog_{test::kTestWatchdog};
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    std::vector<TSeen> seen_;  // UI thread only
};

TEST_F(NotifyTest, WorkerNotificationsRunTheHandlerOnTheUiThreadWhileTheWorkerWaits) {
    auto window = MakeWindow();
    std::vector<std::size_t> handledWhenSendReturned;  // the worker's
    RunWorker([&](TSender& self) {
        TCaiJiInfo info{"广州 电子公司", "", 0, kSourceBaidu};
        info.message = "正在获取搜索结果...";
        self.SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiStatus, &info}); });
        handledWhenSendReturned.push_back(seen_.size());
        info.PageCount = 1;
        self.SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiPageDone, &info}); });
        handledWhenSendReturned.push_back(seen_.size());
    });
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(handledWhenSendReturned, (std::vector<std::size_t>{1, 2}));
    EXPECT_TRUE(seen_[0].onUiThread);
    EXPECT_EQ(seen_[0].message, 4035u);
    EXPECT_EQ(seen_[0].wParam, 1);
    EXPECT_EQ(seen_[0].text, "正在获取搜索结果...|0");
    EXPECT_TRUE(seen_[1].onUiThread);
    EXPECT_EQ(seen_[1].wParam, 2);
    EXPECT_EQ(seen_[1].text, "正在获取搜索结果...|1");
}

TEST_F(NotifyTest, AHandlerErrorIsSwallowedAndTheNextNotificationIsHandled) {
    int calls = 0;
    auto window = MakeWindow([&](const TNotification&) {
        if (++calls == 1) {
            throw std::runtime_error("handler failed");
        }
    });
    std::vector<bool> sent;  // the worker's
    bool bodyFinished = false;
    RunWorker([&](TSender& self) {
        TCaiJiInfo info{"kw", "first", 0, kSource360};
        sent.push_back(self.SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiStatus, &info}); }));
        info.message = "second";
        sent.push_back(self.SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiStatus, &info}); }));
        bodyFinished = true;
    });
    EXPECT_TRUE(bodyFinished);
    EXPECT_EQ(sent, (std::vector<bool>{true, true}));
    ASSERT_EQ(seen_.size(), 2u);
    EXPECT_EQ(seen_[1].text, "second|0");
    // On the UI thread itself a failing handler does not escape either.
    EXPECT_NO_THROW(window->Deliver({kMsgCaiji, kCaijiStatus, std::monostate{}}));
}

TEST_F(NotifyTest, NothingIsDeliveredOnceTheSendersTerminationWasRequested) {
    auto window = MakeWindow();
    std::atomic<int> waitingResult{-1};
    std::atomic<int> laterResult{-1};
    TCaiJiInfo info{"kw", "prepared before the stop", 0, kSourceSogou};
    bool ended = false;
    auto worker = std::make_unique<TSender>([&](TSender& self) {
        waitingResult = self.SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiStatus, &info}); }) ? 1 : 0;
        laterResult = self.SendToUi([&] { window->Deliver({kMsgCaiji, kCaijiPageDone, &info}); }) ? 1 : 0;
    });
    worker->SetOnTerminate([&] { ended = true; });
    TSender* sender = TWorkerThread::Start(std::move(worker));
    // The first notification waits for the UI thread, which is busy here, when the stop comes.
    while (loop_->QueuedCount() == 0) {
        std::this_thread::sleep_for(1ms);
    }
    sender->Terminate();
    EXPECT_TRUE(loop_->RunUntil([&] { return ended; }, kWaitLimit));
    EXPECT_EQ(waitingResult, 0);
    EXPECT_EQ(laterResult, 0);
    EXPECT_TRUE(seen_.empty());
}

TEST_F(NotifyTest, PostDeliversANumberAndIsDroppedOnceTheWindowIsFreed) {
    auto window = MakeWindow();
    std::thread poster([&] { EXPECT_TRUE(window->Post(kMsgUpdate, kUpdateProgress, 42)); });
    poster.join();
    EXPECT_TRUE(seen_.empty()) << "a post must not run before the UI thread gets to it";
    EXPECT_TRUE(loop_->RunUntil([&] { return !seen_.empty(); }, kWaitLimit));
    ASSERT_EQ(seen_.size(), 1u);
    EXPECT_EQ(seen_[0].message, 3043u);
    EXPECT_EQ(seen_[0].wParam, kUpdateProgress);
    EXPECT_EQ(seen_[0].number, 42);
    EXPECT_TRUE(seen_[0].onUiThread);

    EXPECT_TRUE(window->Post(kMsgUpdate, kUpdateHandOver));
    window.reset();
    loop_->ProcessPending();
    EXPECT_EQ(seen_.size(), 1u);

    // A window no shared_ptr owns could never be reached by the queued call: the post fails at once.
    TNotifyWindow unowned(loop_, [&](const TNotification&) { seen_.push_back({}); });
    EXPECT_FALSE(unowned.Post(kMsgUpdate, kUpdateShowWindow));
    auto closedLater = MakeWindow();
    loop_->Close();
    EXPECT_FALSE(closedLater->Post(kMsgUpdate, kUpdateShowWindow));
    loop_->ProcessPending();
    EXPECT_EQ(seen_.size(), 1u);
}

TEST_F(NotifyTest, EngineNumbersOfSourceNames) {
    EXPECT_EQ(EngineOfSource("百度"), 0);
    EXPECT_EQ(EngineOfSource("搜狗"), 1);
    EXPECT_EQ(EngineOfSource("360"), 2);
    EXPECT_EQ(EngineOfSource(""), -1);
    EXPECT_EQ(EngineOfSource("360 "), -1);
    EXPECT_EQ(EngineOfSource("Baidu"), -1);
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360})
        EXPECT_EQ(EngineOfSource(SourceOfEngine(engine)), engine);
}

}  // namespace
}  // namespace vexo
