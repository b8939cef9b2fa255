// A keyword's whole road in one process: task controllers with the real collectors against the simulated engines,
// and a real store in a temporary program folder, driven as the main window drives them (records stored, page
// cursors saved, the task stopped when the store refuses a page, each ended engine's cursor saved).
#include <algorithm>
#include <atomic>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "engine/StartGate.h"
#include "engine/TaskCtl.h"
#include "gtest/gtest.h"
#include "net/HttpClient.h"
#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "sim/SimEngines.h"
#include "sim/SimWeb.h"
#include "store/KeyListInfo.h"
#include "support/TempHome.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using sim::TSimEngines;
using sim::TSimWeb;

constexpr char kKeyword[] = "广州 电子公司";
constexpr char kOtherKeyword[] = "深圳 电子公司";
constexpr std::chrono::seconds kCollectionWatchdog{180};

// Every opening of a gate: when, by which thread, and how many waiters it left in line. While held, the gate
// stays closed (its clock stands at the moment of the hold's own opening), so that waiters can gather in line.
class TGateRecorder {
  public:
    struct TOpening {
        std::int64_t Time = 0;  // the gate's stamp
        std::thread::id Thread;
        std::size_t StillWaiting = 0;
    };

    explicit TGateRecorder(TStartGate& gate, bool hold = false) : gate_(gate) {
        heldAt_ = GateClockMs();
        held_ = hold;
        gate_.ResetStamp();
        gate_.SetClock([this] { return held_ ? heldAt_ : GateClockMs(); });
        if (hold)
            gate_.TryOpen();  // stamps heldAt_
        gate_.SetOnOpen([this](std::int64_t stamp, std::size_t stillWaiting) {
            std::lock_guard lock(mutex_);
            openings_.push_back({stamp, std::this_thread::get_id(), stillWaiting});
        });
    }
    ~TGateRecorder() {
        gate_.SetOnOpen(nullptr);
        gate_.SetClock(nullptr);
    }

    void Release() { held_ = false; }

    std::vector<TOpening> Openings() const {
        std::lock_guard lock(mutex_);
        return openings_;
    }
    std::vector<std::int64_t> Times() const {
        std::vector<std::int64_t> times;
        for (const TOpening& opening : Openings())
            times.push_back(opening.Time);
        return times;
    }

  private:
    TStartGate& gate_;
    std::int64_t heldAt_ = 0;
    std::atomic<bool> held_{false};
    mutable std::mutex mutex_;
    std::vector<TOpening> openings_;
};

// What the line promises: an opening that left someone waiting is followed by an opening of another thread.
// Openings from `end` on are not judged: a waiter that gave up on termination left the line.
void ExpectTurnsAlternate(const std::vector<TGateRecorder::TOpening>& openings, std::int64_t end,
                          const std::string& what) {
    for (std::size_t k = 0; k + 1 < openings.size() && openings[k + 1].Time < end; ++k) {
        if (openings[k].StillWaiting > 0) {
            EXPECT_NE(openings[k + 1].Thread, openings[k].Thread) << what << ": opening " << k + 1;
        }
    }
}

std::int64_t ClockMs(std::chrono::steady_clock::time_point time) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(time.time_since_epoch()).count();
}

// Every request time (ms of the gates' clock) has an opening of its own at or before it: the k-th request in time
// came after the k-th opening. So no request started without passing the gate.
void ExpectEachRequestAfterItsOwnOpening(std::vector<std::int64_t> requests, const std::vector<std::int64_t>& openings,
                                         const std::string& what) {
    std::sort(requests.begin(), requests.end());
    ASSERT_LE(requests.size(), openings.size()) << what;
    for (std::size_t k = 0; k < requests.size(); ++k) {
        EXPECT_GE(requests[k], openings[k]) << what << " request " << k;
    }
}

void ExpectSpacedBy(const std::vector<std::int64_t>& openings, std::chrono::milliseconds interval,
                    const std::string& what) {
    for (std::size_t k = 1; k < openings.size(); ++k) {
        EXPECT_GE(openings[k] - openings[k - 1], interval.count()) << what << " opening " << k;
    }
}

class CollectionTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { InitNetwork(); }

    void SetUp() override {
        SetCurrentDispatcher(loop_);
        store_ = std::make_unique<TKeyListInfo>(TStoreAccess::ReadWrite);
        store_->LoadKeys();
        store_->OnKeyLoaded = [this](TKeyListInfo&, const std::string& keyword) { loaded_[keyword] = true; };

        a_ = engines_.AddCompany({"www.jiayi-dz.cn", "广州市甲乙电子科技有限公司", "13912345678", "020-87654321",
                                  "sales@jiayi-dz.cn", "12345678", "广州市天河区体育西路100号"});
        b_ = engines_.AddCompany({"www.bingding.com.cn", "广州丙丁电子有限公司", "13800138000", "020-38887777",
                                  "info@bingding.com.cn", "", "广州市番禺区市桥街8号"});
        d_ = engines_.AddCompany({"www.gengxin.net", "深圳庚辛电子有限公司", "13600001111", "0755-26667777", "", "",
                                  "深圳市南山区科技园2栋"});
    }

    void TearDown() override {
        for (auto& [keyword, controller] : tasks_)
            controller->Stop();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, test::kWaitLimit)) << "workers left";
        tasks_.clear();
        for (int engine : {kEngineBaidu, kEngineSogou, kEngine360})
            GatesOfEngine(engine).ResultPage.SetClock({});
        store_.reset();
        SetCurrentDispatcher(nullptr);
    }

    // Long enough for a page's site visits to end before the next pages of the engines come in: three engines
    // count towards one idle rule.
    static constexpr TGateTiming kShortPageGate{400ms, 10ms};
    static constexpr TGateTiming kShortSiteGate{20ms, 5ms};

    // The start command: the keyword's companies loaded first, then a controller at its cursors.
    void StartKeyword(const std::string& keyword) {
        ASSERT_NE(store_->AddKey(keyword, true), nullptr);
        if (store_->RequestKeyData(keyword, PurposeStart) == nullptr) {
            ASSERT_TRUE(loop_->RunUntil([&] { return loaded_[keyword]; }, test::kWaitLimit));
        }
        ASSERT_EQ(store_->TakePendingPurpose(keyword), PurposeStart);
        const TKeyData* entry = store_->FindKey(keyword);
        auto controller = std::make_unique<TTaskCtl>(true, keyword, window_, true, true);
        controller->BaiduStartPage = entry->LastPage;
        controller->SogouStartPage = entry->SgLastPage;
        controller->So360StartPage = entry->S360LastPage;
        controller->BaiduSettings = {sim::kSimBaiduHost, sim::kSimIcpHost};
        controller->SogouSettings = {sim::kSimSogouHost, sim::kSimIcpHost};
        controller->So360Settings = {sim::kSimSoHost, sim::kSimIcpHost};
        controller->OnTaskEnd = [this](TTaskCtl&, int engine, std::int32_t page, const std::string& keyword) {
            store_->SaveEngineCursor(keyword, page, engine);
            ended_[keyword].push_back(engine);
        };
        controller->Start();
        tasks_[keyword] = std::move(controller);
    }

    void OnNotification(const TNotification& notification) {
        if (notification.WParam == kCaijiRecord) {
            const TComPanyInfo& record = **std::get_if<const TComPanyInfo*>(&notification.LParam);
            store_->AddCompany(record.Keyword, record);
        } else if (notification.WParam == kCaijiPageDone) {
            const TCaiJiInfo& info = **std::get_if<const TCaiJiInfo*>(&notification.LParam);
            if (!store_->SavePageCursor(info.keyword, info.PageCount, EngineOfSource(info.source)) && stopWhenIdle_) {
                tasks_.at(info.keyword)->Stop();
            }
        }
    }

    // The keyword's row: lastpage, sglastpage, s360lastpage.
    std::vector<std::int32_t> StoredCursors(const std::string& keyword) {
        std::lock_guard lock(store_->DataManager().Lock());
        store_->DataManager().Reset();
        store_->DataManager().Sql =
            "select lastpage, sglastpage, s360lastpage from tbl_key where KeyStr='" + keyword + "'";
        auto table = store_->DataManager().Query();
        EXPECT_EQ(table->RowCount(), 1);
        if (table->RowCount() != 1)
            return {-1, -1, -1};
        return {StoredInt32(table->ColumnText(0)), StoredInt32(table->ColumnText(1)),
                StoredInt32(table->ColumnText(2))};
    }

    test::TWatchdog watchdog_{kCollectionWatchdog};
    TSimWeb web_;
    TSimEngines engines_{web_};
    sim::TProxyEnvironment proxy_{web_.BaseUrl(), "127.0.0.1"};
    test::TTempHome home_;
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    TWindowHandle window_ =
        std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) { OnNotification(n); });
    std::unique_ptr<TKeyListInfo> store_;
    std::map<std::string, bool> loaded_;
    std::map<std::string, std::unique_ptr<TTaskCtl>> tasks_;
    std::map<std::string, std::vector<int>> ended_;
    bool stopWhenIdle_ = true;
    std::atomic<bool> firstPagesStored_{false};
    std::size_t a_ = 0, b_ = 0, d_ = 0;
};

TEST_F(CollectionTest, ThreeEnginesFillTheStoreUntilTheIdleRuleStopsTheTaskAndTheEndsSaveTheCursors) {
    const sim::TScopedGateTimings gates(kShortPageGate, kShortSiteGate);
    engines_.SetPage(kEngineBaidu, kKeyword, 0, {{a_, true}, {d_, false}});
    engines_.SetPage(kEngineSogou, kKeyword, 0, {{b_, true}, {d_, true}});
    engines_.SetPage(kEngine360, kKeyword, 0, {{d_, false}});
    // After the first pages the result-page gates stay closed until their three companies are stored: on a slow
    // machine the site visits may otherwise outlast the idle pages that stop the task.
    store_->OnCompanyStored = [this](TKeyListInfo& store, const std::string& keyword, const auto&) {
        const std::optional<TCompanyList> companies = store.GetCompanies(keyword);
        if (companies && companies->size() == 3)
            firstPagesStored_ = true;
    };
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360})
        GatesOfEngine(engine).ResultPage.SetClock([this] { return firstPagesStored_ ? GateClockMs() : 0; });
    StartKeyword(kKeyword);
    ASSERT_TRUE(loop_->RunUntil([&] { return ended_[kKeyword].size() == 3; }, test::kWaitLimit));

    std::vector<std::string> names;
    const std::optional<TCompanyList> companies = store_->GetCompanies(kKeyword);
    ASSERT_TRUE(companies.has_value());
    for (const auto& company : *companies)
        names.push_back(company->ComName);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names,
              (std::vector<std::string>{"广州丙丁电子有限公司", "广州市甲乙电子科技有限公司", "深圳庚辛电子有限公司"}));
    EXPECT_FALSE(tasks_.at(kKeyword)->IsRunning());
    EXPECT_EQ(store_->FindKey(kKeyword)->IdlePages, 3);

    const std::vector<std::int32_t> cursors = StoredCursors(kKeyword);
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
        const auto pages = static_cast<std::int32_t>(engines_.PageRequests(engine).size());
        EXPECT_GE(cursors[engine], 1);
        EXPECT_TRUE(cursors[engine] == pages || cursors[engine] == pages - 1)
            << "engine " << engine << " cursor " << cursors[engine] << ", pages " << pages;
    }
}

// The one test with the real gates: two keywords collected at once, every engine ticked. Both keywords' collectors
// of an engine wait in line at its result-page gate before it first opens; from then on they take turns.
TEST_F(CollectionTest, TwoKeywordsAtOnceTakeTurnsAtEachEnginesGatesAtTheirRealIntervals) {
    stopWhenIdle_ = false;  // this test is about pacing; it ends the tasks itself
    for (const char* keyword : {kKeyword, kOtherKeyword}) {
        for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
            engines_.SetPage(engine, keyword, 0, {{a_, true}, {b_, true}});
        }
    }
    std::map<int, std::unique_ptr<TGateRecorder>> pageGates;
    std::map<int, std::unique_ptr<TGateRecorder>> siteGates;
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
        pageGates[engine] = std::make_unique<TGateRecorder>(GatesOfEngine(engine).ResultPage, true);
        siteGates[engine] = std::make_unique<TGateRecorder>(GatesOfEngine(engine).Site);
    }
    StartKeyword(kKeyword);
    StartKeyword(kOtherKeyword);
    ASSERT_TRUE(loop_->RunUntil(
        [] {
            for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
                if (GatesOfEngine(engine).ResultPage.WaitingCount() < 2)
                    return false;
            }
            return true;
        },
        test::kWaitLimit));
    for (auto& [engine, recorder] : pageGates)
        recorder->Release();

    // Each keyword's first page brings two site visits per engine; three result pages and three site starts per
    // engine show the pacing across the two keywords. A sanitizer build on a loaded machine may take long.
    auto enough = [&] {
        for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
            if (engines_.PageRequests(engine).size() < 3 || engines_.ClickRequests(engine).size() < 3)
                return false;
        }
        return true;
    };
    ASSERT_TRUE(loop_->RunUntil(enough, 90s));
    const std::int64_t stopped = GateClockMs();
    for (auto& [keyword, controller] : tasks_)
        controller->Stop();
    ASSERT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, test::kWaitLimit));

    const std::map<int, std::pair<TGateTiming, TGateTiming>> timings{{kEngineBaidu, {kBaiduPageGate, kBaiduSiteGate}},
                                                                     {kEngineSogou, {kSogouPageGate, kSogouSiteGate}},
                                                                     {kEngine360, {k360PageGate, k360SiteGate}}};
    for (int engine : {kEngineBaidu, kEngineSogou, kEngine360}) {
        const std::string name = "engine " + std::to_string(engine);
        std::vector<std::int64_t> pages;
        std::vector<std::string> pageKeywords;
        for (const auto& request : engines_.PageRequests(engine)) {
            pages.push_back(ClockMs(request.Time));
            pageKeywords.push_back(request.Keyword);
        }
        ASSERT_GE(pageKeywords.size(), 2u) << name;
        EXPECT_NE(pageKeywords[0], pageKeywords[1]) << name << ": both keywords waited, so both fetch a page first";
        std::vector<std::int64_t> sites;
        for (const auto& request : engines_.ClickRequests(engine))
            sites.push_back(ClockMs(request.time));

        const std::vector<TGateRecorder::TOpening> pageOpenings = pageGates[engine]->Openings();
        ASSERT_GE(pageOpenings.size(), 2u) << name;
        EXPECT_EQ(pageOpenings[0].StillWaiting, 1u) << name << ": the other keyword's collector waited in line";
        ExpectTurnsAlternate(pageOpenings, stopped, name + " result pages");
        ExpectTurnsAlternate(siteGates[engine]->Openings(), stopped, name + " site starts");
        ExpectSpacedBy(pageGates[engine]->Times(), timings.at(engine).first.Interval, name + " result pages");
        ExpectSpacedBy(siteGates[engine]->Times(), timings.at(engine).second.Interval, name + " site starts");
        ExpectEachRequestAfterItsOwnOpening(pages, pageGates[engine]->Times(), name + " result pages");
        ExpectEachRequestAfterItsOwnOpening(sites, siteGates[engine]->Times(), name + " site starts");
    }
    pageGates.clear();
    siteGates.clear();
}

}  // namespace
}  // namespace vexo
