// The collection task controller with the real collectors against the simulated engines, gates shortened: which
// collectors a start creates and at which page, pausing, stopping, collectors that end by themselves, and the
// controller's life after a stop (the task-end events still arrive; releasing it is safe at any moment).
#include "engine/TaskCtl.h"

#include <array>
#include <chrono>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "sim/SimEngines.h"
#include "sim/SimWeb.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using sim::TSimEngines;
using sim::TSimResponse;
using sim::TSimWeb;
using test::kTestWatchdog;
using test::kWaitLimit;
using TStrings = std::vector<std::string>;

constexpr char kKeyword[] = "广州 电子公司";

struct TTaskEnd {
    int Engine;
    std::int32_t Page;
    std::string Keyword;
};

class TaskCtlTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { InitNetwork(); }

    void SetUp() override {
        SetCurrentDispatcher(loop_);
        company_ = engines_.AddCompany({"www.shop-a.cn", "广州市甲乙电子科技有限公司", "13912345678", "020-87654321",
                                        "sales@shop-a.cn", "", "广州市天河区体育西路100号"});
    }

    void TearDown() override {
        controller_.reset();
        TerminateAllWorkers();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWaitLimit)) << "workers left";
        loop_->ProcessPending();
        SetCurrentDispatcher(nullptr);
    }

    std::unique_ptr<TTaskCtl> MakeController(bool baidu, bool so360, bool sogou) {
        auto controller = std::make_unique<TTaskCtl>(baidu, kKeyword, window_, so360, sogou);
        controller->BaiduSettings = {sim::kSimBaiduHost, sim::kSimIcpHost};
        controller->SogouSettings = {sim::kSimSogouHost, sim::kSimIcpHost};
        controller->So360Settings = {sim::kSimSoHost, sim::kSimIcpHost};
        controller->OnTaskEnd = [this](TTaskCtl&, int engine, std::int32_t page, const std::string& keyword) {
            ends_.push_back({engine, page, keyword});
        };
        return controller;
    }

    void OnNotification(const TNotification& notification) {
        if (notification.WParam == kCaijiRecord) {
            records_.push_back((*std::get_if<const TComPanyInfo*>(&notification.LParam))->ComName);
        } else if (notification.WParam == kCaijiPageDone) {
            const TCaiJiInfo& info = **std::get_if<const TCaiJiInfo*>(&notification.LParam);
            const int engine = EngineOfSource(info.source);
            ASSERT_GE(engine, 0);
            lastPage_[engine] = info.PageCount;
            if (onPageDone_)
                onPageDone_(engine, info);
        }
    }

    // Expires once the controller is freed: its task-end event (kept working) holds the token.
    static std::weak_ptr<int> WatchFreed(TTaskCtl& controller) {
        auto token = std::make_shared<int>(0);
        controller.OnTaskEnd = [token, event = std::move(controller.OnTaskEnd)](
                                   TTaskCtl& ctl, int engine, std::int32_t page, const std::string& keyword) {
            if (event)
                event(ctl, engine, page, keyword);
        };
        return token;
    }

    bool RunUntil(const std::function<bool()>& done) { return loop_->RunUntil(done, kWaitLimit); }

    std::size_t PagesRequested(int engine) const { return engines_.PageRequests(engine).size(); }

    std::set<int> EndedEngines() const {
        std::set<int> engines;
        for (const TTaskEnd& end : ends_)
            engines.insert(end.Engine);
        return engines;
    }

    test::TWatchdog watchdog_{kTestWatchdog};
    sim::TScopedGateTimings gates_{{20ms, 2ms}, {10ms, 2ms}};
    TSimWeb web_;
    TSimEngines engines_{web_};
    sim::TProxyEnvironment proxy_{web_.BaseUrl(), "127.0.0.1"};
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    TWindowHandle window_ =
        std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) { OnNotification(n); });
    std::size_t company_ = 0;
    std::unique_ptr<TTaskCtl> controller_;
    std::vector<TTaskEnd> ends_;
    TStrings records_;
    std::map<int, std::int32_t> lastPage_;
    std::function<void(int engine, const TCaiJiInfo& info)> onPageDone_;
};

TEST_F(TaskCtlTest, OnlySogouTickedStartsOneSougouCollectorAtTheSogouStartPage) {
    controller_ = MakeController(false, false, true);
    controller_->BaiduStartPage = 2;
    controller_->SogouStartPage = 4;
    controller_->So360StartPage = 6;
    EXPECT_FALSE(controller_->IsRunning());
    controller_->Start();

    EXPECT_TRUE(controller_->IsRunning());
    EXPECT_EQ(controller_->EngineKeys(), TStrings{"sougou"});
    ASSERT_NE(controller_->Collector("sougou"), nullptr);
    EXPECT_EQ(controller_->Collector("sougou")->Engine(), kEngineSogou);
    EXPECT_EQ(controller_->Collector("sougou")->Keyword(), kKeyword);
    EXPECT_EQ(controller_->LiveCollectorCount(), 1u);

    ASSERT_TRUE(RunUntil([&] { return PagesRequested(kEngineSogou) >= 2; }));
    EXPECT_EQ(engines_.PageRequests(kEngineSogou)[0].Page, 4);
    EXPECT_EQ(engines_.PageRequests(kEngineSogou)[0].Keyword, kKeyword);
    EXPECT_EQ(engines_.PageRequests(kEngineSogou)[1].Page, 5);
    EXPECT_EQ(PagesRequested(kEngineBaidu), 0u);
    EXPECT_EQ(PagesRequested(kEngine360), 0u);
}

TEST_F(TaskCtlTest, StartCreatesCollectorsInBaiduSogou360OrderAndNoSecondOnePerEngine) {
    controller_ = MakeController(true, false, false);
    controller_->Start();
    controller_->Start();
    EXPECT_EQ(controller_->EngineKeys(), TStrings{"baidu"});
    TResultCollector* baidu = controller_->Collector("baidu");

    controller_->So360 = true;
    controller_->Sogou = true;
    controller_->Start();
    EXPECT_EQ(controller_->EngineKeys(), (TStrings{"baidu", "sougou", "360"}));
    EXPECT_EQ(controller_->Collector("baidu"), baidu);
    EXPECT_EQ(controller_->LiveCollectorCount(), 3u);

    controller_->Stop();
    ASSERT_TRUE(RunUntil([&] { return controller_->LiveCollectorCount() == 0; }));
    EXPECT_EQ(ends_.size(), 3u);
    EXPECT_EQ(EndedEngines(), (std::set<int>{kEngineBaidu, kEngineSogou, kEngine360}));
}

TEST_F(TaskCtlTest, PauseHoldsTheResultPagesWhileTheStartedSiteThreadsFinish) {
    // The contact page is held back until the task is paused, so the site thread is still at work then. A test
    // that fails early releases it when the promise goes.
    engines_.SetPage(kEngine360, kKeyword, 0, {{company_, true}});
    std::promise<void> pausedPromise;
    std::shared_future<void> pausedSignal = pausedPromise.get_future().share();
    web_.Handle("www.shop-a.cn", "/contact.html", [pausedSignal](const sim::TSimRequest&) {
        pausedSignal.wait_for(kWaitLimit);
        return TSimResponse::Html(
            "<title>联系我们</title>手机：13912345678 电话：020-87654321 地址：广州市天河区体育西路100号<br/>\r\n");
    });

    controller_ = MakeController(false, true, false);
    std::size_t recordsAtPause = 1;
    bool paused = false;
    onPageDone_ = [&](int, const TCaiJiInfo&) {
        if (paused)
            return;
        // The first page is done; its site thread waits for the contact page.
        controller_->Pause();
        paused = true;
        recordsAtPause = records_.size();
        pausedPromise.set_value();
    };
    controller_->Start();
    TResultCollector* collector = controller_->Collector("360");
    ASSERT_TRUE(RunUntil([&] { return collector->WaitingAtPausePoint() && records_.size() == 1; }))
        << "records " << records_.size() << ", paused " << paused << ", waiting " << collector->WaitingAtPausePoint()
        << ", pages " << PagesRequested(kEngine360);
    EXPECT_EQ(recordsAtPause, 0u);
    EXPECT_EQ(records_, TStrings{"广州市甲乙电子科技有限公司"});
    EXPECT_EQ(PagesRequested(kEngine360), 1u);
    EXPECT_TRUE(controller_->IsRunning());

    controller_->Resume();
    ASSERT_TRUE(RunUntil([&] { return PagesRequested(kEngine360) >= 3; }));
    EXPECT_EQ(engines_.PageRequests(kEngine360)[1].Page, 1);
}

TEST_F(TaskCtlTest, StopEndsEveryCollectorPausedOnesIncludedAndEachEndCarriesItsCursor) {
    controller_ = MakeController(true, true, true);
    controller_->BaiduStartPage = 3;
    controller_->SogouStartPage = 5;
    controller_->So360StartPage = 7;
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return lastPage_.size() == 3; }));
    // Paused before their next result page, the collectors' cursors equal their last page-done counts.
    controller_->Pause();
    ASSERT_TRUE(RunUntil([&] {
        for (const char* key : {"baidu", "sougou", "360"}) {
            if (!controller_->Collector(key)->WaitingAtPausePoint())
                return false;
        }
        return true;
    }));
    const std::map<int, std::int32_t> paused = lastPage_;
    const std::map<int, std::int32_t> starts{{kEngineBaidu, 3}, {kEngineSogou, 5}, {kEngine360, 7}};

    controller_->Stop();
    EXPECT_FALSE(controller_->IsRunning());
    EXPECT_TRUE(controller_->EngineKeys().empty());
    ASSERT_TRUE(RunUntil([&] { return controller_->LiveCollectorCount() == 0; }));
    ASSERT_EQ(ends_.size(), 3u);
    for (const TTaskEnd& end : ends_) {
        EXPECT_EQ(end.Page, paused.at(end.Engine)) << "engine " << end.Engine;
        EXPECT_EQ(end.Page, starts.at(end.Engine) + static_cast<std::int32_t>(PagesRequested(end.Engine)))
            << "engine " << end.Engine;
        EXPECT_EQ(end.Keyword, kKeyword);
    }
    EXPECT_EQ(EndedEngines().size(), 3u);
}

TEST_F(TaskCtlTest, ACollectorEndingByItselfIsUnlistedAndReportedWhileTheOthersGoOn) {
    web_.Serve(sim::kSimSoHost, "/s", TSimResponse::Status(404));  // a failed 360 result page ends that run
    controller_ = MakeController(true, true, false);
    controller_->So360StartPage = 4;
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return ends_.size() == 1; }));
    EXPECT_EQ(ends_[0].Engine, kEngine360);
    EXPECT_EQ(ends_[0].Page, 4);
    EXPECT_EQ(controller_->EngineKeys(), TStrings{"baidu"});
    EXPECT_TRUE(controller_->IsRunning());
    const std::size_t before = PagesRequested(kEngineBaidu);
    ASSERT_TRUE(RunUntil([&] { return PagesRequested(kEngineBaidu) > before + 1; }));
    EXPECT_EQ(ends_.size(), 1u);
}

TEST_F(TaskCtlTest, AStoppedCollectorStillEndingLeavesTheNewCollectorOfItsEngineListed) {
    TSimResponse slow = TSimResponse::Html("<html>" + std::string(2000, ' ') + "</html>");
    slow.delayBeforeHeadersMs = 400;
    web_.Serve(sim::kSimBaiduHost, "/s", slow);
    controller_ = MakeController(true, false, false);
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return !web_.RequestsTo(sim::kSimBaiduHost, "/s").empty(); }));
    TResultCollector* first = controller_->Collector("baidu");
    controller_->Stop();
    controller_->Start();  // the first collector is still inside its fetch
    TResultCollector* second = controller_->Collector("baidu");
    ASSERT_NE(second, nullptr);
    EXPECT_NE(second, first);
    EXPECT_EQ(controller_->LiveCollectorCount(), 2u);

    ASSERT_TRUE(RunUntil([&] { return ends_.size() == 1; }));
    EXPECT_EQ(controller_->EngineKeys(), TStrings{"baidu"});
    EXPECT_EQ(controller_->Collector("baidu"), second);
    EXPECT_EQ(controller_->LiveCollectorCount(), 1u);
}

TEST_F(TaskCtlTest, ReleasedWhileCollectorsAreEndingTheControllerLivesUntilTheLastEndThenGoes) {
    TSimResponse slow = TSimResponse::Html("<html>" + std::string(2000, ' ') + "</html>");
    slow.delayBeforeHeadersMs = 300;
    web_.Serve(sim::kSimBaiduHost, "/s", slow);
    auto controller = MakeController(true, true, true);
    controller->OnTaskEnd = [this](TTaskCtl& ctl, int engine, std::int32_t page, const std::string& keyword) {
        EXPECT_EQ(ctl.Keyword(), kKeyword);
        ends_.push_back({engine, page, keyword});
    };
    const std::weak_ptr<int> alive = WatchFreed(*controller);
    controller->Start();
    ASSERT_TRUE(RunUntil([&] { return !web_.RequestsTo(sim::kSimBaiduHost, "/s").empty(); }));

    TTaskCtl::Release(std::move(controller));  // the Baidu collector is inside a slow fetch
    EXPECT_FALSE(alive.expired());
    ASSERT_TRUE(RunUntil([&] { return alive.expired(); }));
    EXPECT_EQ(EndedEngines(), (std::set<int>{kEngineBaidu, kEngineSogou, kEngine360}));
    EXPECT_EQ(ends_.size(), 3u);
}

TEST_F(TaskCtlTest, ReleasedFromItsOwnTaskEndEventTheControllerStillReportsTheOtherEnds) {
    controller_ = MakeController(true, true, true);
    controller_->OnTaskEnd = [this](TTaskCtl&, int engine, std::int32_t page, const std::string& keyword) {
        ends_.push_back({engine, page, keyword});
        if (controller_)
            TTaskCtl::Release(std::move(controller_));
    };
    const std::weak_ptr<int> alive = WatchFreed(*controller_);
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return lastPage_.size() == 3; }));
    controller_->Stop();
    ASSERT_TRUE(RunUntil([&] { return alive.expired(); }));
    EXPECT_EQ(ends_.size(), 3u);
}

TEST_F(TaskCtlTest, AnIdleControllerIsFreedByReleaseAtOnce) {
    auto controller = MakeController(true, true, true);
    const std::weak_ptr<int> alive = WatchFreed(*controller);
    TTaskCtl::Release(std::move(controller));
    EXPECT_TRUE(alive.expired());
}

TEST_F(TaskCtlTest, DestroyingARunningControllerEndsItsCollectorsWithoutReportingToIt) {
    controller_ = MakeController(true, true, true);
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return lastPage_.size() == 3; }));
    controller_.reset();
    ASSERT_TRUE(RunUntil([] { return LiveWorkerCount() == 0; }));
    EXPECT_TRUE(ends_.empty());
}

TEST_F(TaskCtlTest, AfterTheDispatcherClosedTheControllerNoLongerTouchesItsCollectors) {
    controller_ = MakeController(true, true, true);
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return lastPage_.size() == 3; }));
    // The program is ending: the collectors end and free themselves without reaching their handlers.
    loop_->Close();
    TerminateAllWorkers();
    ASSERT_TRUE(WaitForWorkers(kWaitLimit));

    controller_->Pause();
    controller_->Resume();
    controller_->Stop();
    controller_->Start();
    EXPECT_FALSE(controller_->IsRunning());
    EXPECT_EQ(controller_->LiveCollectorCount(), 0u);
    EXPECT_EQ(LiveWorkerCount(), 0u);
    controller_.reset();
    EXPECT_TRUE(ends_.empty());
}

TEST_F(TaskCtlTest, ATaskEndEventThatThrowsStillUnlistsTheCollectorAndTheNextEndIsReported) {
    controller_ = MakeController(true, false, true);
    controller_->OnTaskEnd = [this](TTaskCtl&, int engine, std::int32_t page, const std::string& keyword) {
        ends_.push_back({engine, page, keyword});
        throw std::runtime_error("handler failed");
    };
    controller_->Start();
    ASSERT_TRUE(RunUntil([&] { return lastPage_.size() == 2; }));
    controller_->Stop();
    ASSERT_TRUE(RunUntil([&] { return controller_->LiveCollectorCount() == 0; }));
    EXPECT_EQ(EndedEngines(), (std::set<int>{kEngineBaidu, kEngineSogou}));

    // Released afterwards, it is freed at once: no handler is counted as still running.
    const std::weak_ptr<int> alive = WatchFreed(*controller_);
    TTaskCtl::Release(std::move(controller_));
    EXPECT_TRUE(alive.expired());
}

}  // namespace
}  // namespace vexo
