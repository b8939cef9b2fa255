// The 360 and Sogou result collectors against the loopback simulated web: the result-page addresses from the
// cursor on, which anchors become site threads, pages that give nothing, the end of a run and its cursor, the
// gates of each engine, pausing, and the records of the site threads they start.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "engine/Caiji360.h"
#include "engine/CaijiSouGou.h"
#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "sim/SimEngines.h"
#include "sim/SimWeb.h"
#include "support/Loopback.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using sim::TSimEntry;
using sim::TSimRequest;
using sim::TSimResponse;
using TClock = std::chrono::steady_clock;
using TStrings = std::vector<std::string>;
using test::kTestWatchdog;
using test::kWaitLimit;

constexpr char kKeyword[] = "广州 电子公司";
// Its GBK bytes, percent-encoded, the space as %20.
constexpr char kEncodedKeyword[] = "%B9%E3%D6%DD%20%B5%E7%D7%D3%B9%AB%CB%BE";
constexpr char kOtherKeyword[] = "深圳 五金";

constexpr char kGetting[] = "正在获取搜索结果...";
constexpr char kAnalysing[] = "正在分析采集结果...";
constexpr char kEntering[] = "正在进入企业网站...";
constexpr char kSiteEntering[] = "正在进入企业网站:";

constexpr TGateTiming kShortPageGate{20ms, 5ms};
constexpr TGateTiming kShortSiteGate{10ms, 5ms};

using TMaker = std::unique_ptr<TResultCollector> (*)(TWindowHandle, std::string, std::int32_t, TCollectorSettings);

template <class T>
std::unique_ptr<TResultCollector> MakeCollector(TWindowHandle window, std::string keyword, std::int32_t page,
                                                TCollectorSettings settings) {
    return std::make_unique<T>(std::move(window), std::move(keyword), page, std::move(settings));
}

// What a test needs to know of one engine.
struct TEngineCase {
    const char* Name;
    int Engine;
    const char* Host;
    const char* Path;
    const char* QueryStart;  // path and query up to the encoded keyword
    const char* PageKey;
    const char* Source;
    const char* ClickPrefix;  // promoted link, followed by the advertiser's address
    TStrings OwnLinks;        // addresses on the engine's own domains
    const char* ForeignLink;  // on the other engine's domain: an outside link here
    TGateTiming PageGate;
    TGateTiming SiteGate;
    TMaker Make;
};

const TEngineCase k360Case{"So360",
                           kEngine360,
                           "www.so.com",
                           "/s",
                           "/s?ie=utf-8&q=",
                           "&pn=",
                           "360",
                           "http://e.so.com/search/eclk?p=1&url=",
                           {"http://www.so.com/s?q=more", "http://www.360.cn/", "http://hao.360.cn/x.html"},
                           "http://www.sogou.com/web?query=x",
                           k360PageGate,
                           k360SiteGate,
                           MakeCollector<TCaiji360>};

const TEngineCase kSogouCase{"Sogou",
                             kEngineSogou,
                             "www.sogou.com",
                             "/web",
                             "/web?query=",
                             "&page=",
                             "搜狗",
                             "http://www.sogou.com/bill_cpc?v=1&url=",
                             {"http://www.sogou.com/web?query=more", "http://pic.sogou.com/"},
                             "http://www.so.com/s?q=x",
                             kSogouPageGate,
                             kSogouSiteGate,
                             MakeCollector<TCaijiSouGou>};

void PrintTo(const TEngineCase& engine, std::ostream* out) {
    *out << engine.Name;
}

const TEngineCase& OtherCase(const TEngineCase& engine) {
    return engine.Engine == kEngine360 ? kSogouCase : k360Case;
}

std::string Anchor(const std::string& address, const std::string& text = "某某公司") {
    return "<a href=\"" + address + "\" target=\"_blank\">" + text + "</a>\r\n";
}

std::string Html(const std::string& body) {
    return "<!DOCTYPE html><html><head><meta charset=\"utf-8\"><title>搜索结果</title></head><body>\r\n" + body +
           "</body></html>";
}

sim::TSimCompany Company(std::string host, std::string name, std::string mobile) {
    sim::TSimCompany company;
    company.Host = std::move(host);
    company.Name = std::move(name);
    company.Mobile = std::move(mobile);
    return company;
}

long long Ms(TClock::duration duration) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(duration).count();
}

const std::string kNoAnchors = Html("<p>没有找到相关结果</p>\r\n");

// A collector's status record as one notification carried it.
struct TInfoEvent {
    std::intptr_t WParam;
    std::string Keyword;
    std::string Message;
    std::int32_t PageCount;
    std::string Source;
};

// One started collector, as the UI thread sees it.
struct TRun {
    std::string Keyword;
    std::string Source;
    TResultCollector* Collector = nullptr;  // until its termination callback
    bool Ended = false;
    std::int32_t Cursor = -1;  // read by the termination callback
};

// Shortened gates for both engines in every test but the one that checks the real ones; each test leaves the
// process-wide gates as it found them.
void SetGates(TGateTiming page360, TGateTiming site360, TGateTiming pageSogou, TGateTiming siteSogou) {
    GatesOfEngine(kEngine360).ResultPage.SetTiming(page360);
    GatesOfEngine(kEngine360).Site.SetTiming(site360);
    GatesOfEngine(kEngineSogou).ResultPage.SetTiming(pageSogou);
    GatesOfEngine(kEngineSogou).Site.SetTiming(siteSogou);
    for (int engine : {kEngine360, kEngineSogou}) {
        GatesOfEngine(engine).ResultPage.ResetStamp();
        GatesOfEngine(engine).Site.ResetStamp();
    }
}

class AnchorCollectorTestBase : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { InitNetwork(); }

    void SetUp() override {
        SetCurrentDispatcher(loop_);
        SetGates(kShortPageGate, kShortSiteGate, kShortPageGate, kShortSiteGate);
    }

    void TearDown() override {
        TerminateAllWorkers();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWaitLimit)) << "workers left running";
        SetCurrentDispatcher(nullptr);
        SetGates(k360PageGate, k360SiteGate, kSogouPageGate, kSogouSiteGate);
    }

    void OnNotification(const TNotification& notification) {
        ASSERT_EQ(notification.Message, kMsgCaiji);
        if (const auto* info = std::get_if<const TCaiJiInfo*>(&notification.LParam)) {
            infos_.push_back(
                {notification.WParam, (*info)->keyword, (*info)->message, (*info)->PageCount, (*info)->source});
            if (onInfo_) {
                onInfo_(infos_.back());
            }
        } else if (const auto* text = std::get_if<const std::string*>(&notification.LParam)) {
            siteStatuses_.push_back(**text);
        } else if (const auto* record = std::get_if<const TComPanyInfo*>(&notification.LParam)) {
            records_.push_back(**record);
        }
    }

    TRun& Start(const TEngineCase& engine, const std::string& keyword, std::int32_t startPage,
                TCollectorSettings settings = {}) {
        TRun& run = runs_.emplace_back();
        run.Keyword = keyword;
        run.Source = engine.Source;
        auto collector = engine.Make(window_, keyword, startPage, std::move(settings));
        TResultCollector* raw = collector.get();
        collector->SetOnTerminate([&run, raw] {
            run.Cursor = raw->PageCursor();
            run.Ended = true;
            run.Collector = nullptr;
        });
        run.Collector = raw;
        EXPECT_NE(TWorkerThread::Start(std::move(collector)), nullptr);
        return run;
    }

    void Stop(TRun& run) {
        if (run.Collector != nullptr) {
            run.Collector->Terminate();
        }
        EXPECT_TRUE(RunUntil([&] { return run.Ended; })) << "the run did not end";
    }

    bool RunUntil(const std::function<bool()>& done) { return loop_->RunUntil(done, kWaitLimit); }
    // Runs the UI loop for a while, handling whatever arrives.
    void Idle(std::chrono::milliseconds duration) {
        loop_->RunUntil([] { return false; }, duration);
    }

    // Answers the engine's result pages by their 0-based number.
    void ServePages(const TEngineCase& engine, std::function<TSimResponse(int page)> page) {
        const std::string pageKey = std::string(engine.PageKey).substr(1);  // without the "&"
        web_.Handle(engine.Host, engine.Path, [page, pageKey](const TSimRequest& request) {
            const std::size_t at = request.pathAndQuery.find("&" + pageKey);
            const int number =
                at == std::string::npos ? 0 : std::stoi(request.pathAndQuery.substr(at + 1 + pageKey.size())) - 1;
            return page(number);
        });
    }

    TStrings PageRequests(const TEngineCase& engine) const {
        TStrings targets;
        for (const TSimRequest& request : web_.RequestsTo(engine.Host, engine.Path)) {
            targets.push_back(request.pathAndQuery);
        }
        return targets;
    }

    std::vector<std::int32_t> PageDones(const std::string& keyword, const char* source) const {
        std::vector<std::int32_t> counts;
        for (const TInfoEvent& info : infos_) {
            if (info.WParam == kCaijiPageDone && info.Keyword == keyword && info.Source == source) {
                counts.push_back(info.PageCount);
            }
        }
        return counts;
    }

    // The collector's notifications for the keyword: statuses by text, page-done as "done <count>".
    TStrings Events(const std::string& keyword) const {
        TStrings events;
        for (const TInfoEvent& info : infos_) {
            if (info.Keyword == keyword) {
                events.push_back(info.WParam == kCaijiPageDone ? "done " + std::to_string(info.PageCount)
                                                               : info.Message);
            }
        }
        return events;
    }

    // The links the started site threads announced, sorted.
    TStrings SiteLinks() const {
        TStrings links;
        for (const std::string& status : siteStatuses_) {
            if (status.starts_with(kSiteEntering)) {
                links.push_back(status.substr(std::string_view(kSiteEntering).size()));
            }
        }
        std::sort(links.begin(), links.end());
        return links;
    }

    test::TWatchdog watchdog_{kTestWatchdog};
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    sim::TSimWeb web_;
    sim::TProxyEnvironment proxy_{web_.BaseUrl(), "127.0.0.1"};
    sim::TSimEngines engines_{web_};
    TWindowHandle window_ =
        std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) { OnNotification(n); });

    // UI thread only.
    std::vector<TInfoEvent> infos_;
    TStrings siteStatuses_;
    std::vector<TComPanyInfo> records_;
    std::deque<TRun> runs_;
    std::function<void(const TInfoEvent&)> onInfo_;
};

class AnchorCollectorTest : public AnchorCollectorTestBase, public ::testing::WithParamInterface<TEngineCase> {};

TEST_P(AnchorCollectorTest, AsksForThePagesFromTheCursorOnWithTheKeywordInGbk) {
    const TEngineCase& engine = GetParam();
    ServePages(engine, [](int) { return TSimResponse::Html(kNoAnchors); });
    const std::string first = std::string(engine.QueryStart) + kEncodedKeyword;

    TRun& fromStart = Start(engine, kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones(kKeyword, engine.Source).size() >= 3; }));
    Stop(fromStart);
    TStrings requests = PageRequests(engine);
    ASSERT_GE(requests.size(), 3u);
    EXPECT_EQ(requests[0], first);
    EXPECT_EQ(requests[1], first + engine.PageKey + "2");
    EXPECT_EQ(requests[2], first + engine.PageKey + "3");
    const std::vector<std::int32_t> counts = PageDones(kKeyword, engine.Source);
    EXPECT_EQ(std::vector<std::int32_t>(counts.begin(), counts.begin() + 3), (std::vector<std::int32_t>{1, 2, 3}));
    EXPECT_GE(fromStart.Cursor, 3);
    const TStrings events = Events(kKeyword);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(TStrings(events.begin(), events.begin() + 3), (TStrings{kGetting, kAnalysing, "done 1"}));

    web_.ClearRequests();
    TRun& fromFour = Start(engine, kOtherKeyword, 4);
    ASSERT_TRUE(RunUntil([&] { return !PageDones(kOtherKeyword, engine.Source).empty(); }));
    Stop(fromFour);
    requests = PageRequests(engine);
    ASSERT_FALSE(requests.empty());
    EXPECT_EQ(requests[0], std::string(engine.QueryStart) + "%C9%EE%DB%DA%20%CE%E5%BD%F0" + engine.PageKey + "5");
    EXPECT_EQ(PageDones(kOtherKeyword, engine.Source).front(), 5);
}

TEST_P(AnchorCollectorTest, StartsOneSiteThreadPerAddressAndLeavesTheEnginesOwnLinks) {
    const TEngineCase& engine = GetParam();
    const std::string promoted = std::string(engine.ClickPrefix) + "http://www.adv-a.cn/";
    std::string body = Anchor(promoted, "推广A") +
                       // the same promoted address in other letter case
                       Anchor(std::string(engine.ClickPrefix) + "http://WWW.ADV-A.CN/", "推广A") +
                       Anchor("http://www.adv-b.cn/") + Anchor("http://www.adv-b.cn/") +
                       Anchor("http://www.Adv-C.cn/Contact") + Anchor("http://www.adv-c.cn/contact") +
                       // taken only by the other engine
                       Anchor(engine.ForeignLink);
    for (const std::string& own : engine.OwnLinks) {
        body += Anchor(own);
    }
    // The engine's domain in the anchor text keeps an outside link out too.
    body +=
        Anchor("http://www.adv-d.cn/", std::string("来自") + (engine.Engine == kEngine360 ? "so.com" : "sogou.com"));
    // No address: an upper-case scheme, no double quote after the address.
    body += Anchor("HTTP://www.adv-e.cn/") + "<a href='http://www.adv-f.cn/'>F公司</a>\r\n";
    // Attributes around the address, anchor text over two lines.
    body +=
        "<a class=\"r\" href=\"http://www.adv-g.cn/about\" target=\"_blank\">G</a>\r\n"
        "<a href=\"http://www.adv-h.cn/\">H\r\n公司</a>\r\n";
    ServePages(engine, [body](int page) { return TSimResponse::Html(page == 0 ? Html(body) : kNoAnchors); });

    Start(engine, kKeyword, 0);
    // Once the second page is done every site thread of the first has started; then wait for them to end.
    ASSERT_TRUE(RunUntil([&] { return PageDones(kKeyword, engine.Source).size() >= 2 && LiveWorkerCount() == 1; }));

    TStrings expected = {promoted,           "http://www.adv-b.cn/",      "http://www.Adv-C.cn/Contact",
                         engine.ForeignLink, "http://www.adv-g.cn/about", "http://www.adv-h.cn/"};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(SiteLinks(), expected);
    const TStrings events = Events(kKeyword);
    EXPECT_EQ(std::count(events.begin(), events.end(), kEntering), 6);
}

TEST_P(AnchorCollectorTest, RecordsOfItsSiteThreadsReachTheWindowWithSourceAndPaidMark) {
    const TEngineCase& engine = GetParam();
    const std::size_t paid = engines_.AddCompany(Company("www.gz-dianzi.cn", "广州市某某电子有限公司", "13912345678"));
    const std::size_t plain = engines_.AddCompany(Company("www.sz-wujin.cn", "深圳市某某五金有限公司", "13800138000"));
    engines_.SetPage(engine.Engine, kKeyword, 0, {TSimEntry{paid, true}, TSimEntry{plain, false}});

    Start(engine, kKeyword, 0, {.SearchHost = "", .IcpHost = sim::kSimIcpHost});
    // Once the page is done both site threads have started; then wait for them to end.
    ASSERT_TRUE(RunUntil([&] { return !PageDones(kKeyword, engine.Source).empty() && LiveWorkerCount() == 1; }));

    // A site thread may hand its record over twice (contact page, then home page); the store keeps one.
    std::map<std::string, std::uint8_t> paidByName;
    for (const TComPanyInfo& record : records_) {
        paidByName[record.GetComName()] = record.ispay;
        EXPECT_EQ(record.source, engine.Source);
        EXPECT_EQ(record.Keyword, kKeyword);
    }
    EXPECT_EQ(paidByName,
              (std::map<std::string, std::uint8_t>{{"广州市某某电子有限公司", 1}, {"深圳市某某五金有限公司", 0}}));
}

TEST_P(AnchorCollectorTest, EmptyAndUnreadablePagesStillAdvanceTheCursor) {
    const TEngineCase& engine = GetParam();
    const std::string withAnchor = Html(Anchor("http://www.adv-a.cn/", "广州某某电子有限公司"));
    ServePages(engine, [withAnchor](int page) {
        switch (page) {
            case 0:
                return TSimResponse::Html("");
            case 1:
                return TSimResponse::Html(Utf8ToGbk(withAnchor), "gbk");  // strict decoding reads nothing
            default:
                return TSimResponse::Html(kNoAnchors);
        }
    });

    Start(engine, kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones(kKeyword, engine.Source).size() >= 3; }));

    const TStrings events = Events(kKeyword);
    ASSERT_GE(events.size(), 8u);
    EXPECT_EQ(TStrings(events.begin(), events.begin() + 8),
              (TStrings{kGetting, "done 1", kGetting, kAnalysing, "done 2", kGetting, kAnalysing, "done 3"}));
    EXPECT_TRUE(SiteLinks().empty());
    EXPECT_TRUE(web_.RequestsTo("www.adv-a.cn", "/").empty());
}

TEST_P(AnchorCollectorTest, APageThatCannotBeFetchedEndsTheRunOnItsCursor) {
    const TEngineCase& engine = GetParam();
    ServePages(engine,
               [](int page) { return page < 3 ? TSimResponse::Html(kNoAnchors) : TSimResponse::Status(503, "busy"); });

    TRun& run = Start(engine, kKeyword, 2);
    ASSERT_TRUE(RunUntil([&] { return run.Ended; })) << "the run went on after a failed page";
    EXPECT_EQ(run.Cursor, 3);
    EXPECT_EQ(PageDones(kKeyword, engine.Source), (std::vector<std::int32_t>{3}));
    const std::string first = std::string(engine.QueryStart) + kEncodedKeyword;
    EXPECT_EQ(PageRequests(engine), (TStrings{first + engine.PageKey + "3", first + engine.PageKey + "4"}));

    // A search host nobody answers on: nothing is counted.
    const std::string closed = "127.0.0.1:" + std::to_string(sim::ClosedPort());
    TRun& refused = Start(engine, kOtherKeyword, 0, {.SearchHost = closed, .IcpHost = ""});
    ASSERT_TRUE(RunUntil([&] { return refused.Ended; }));
    EXPECT_EQ(refused.Cursor, 0);
    EXPECT_TRUE(PageDones(kOtherKeyword, engine.Source).empty());
}

TEST_P(AnchorCollectorTest, TerminationDuringTheFetchLeavesTheCursorOnThePage) {
    const TEngineCase& engine = GetParam();
    TSimResponse slow = TSimResponse::Html(Html(Anchor("http://www.adv-a.cn/")));
    slow.delayBeforeHeadersMs = 800;
    ServePages(engine, [slow](int) { return slow; });

    TRun& run = Start(engine, kKeyword, 6);
    ASSERT_TRUE(RunUntil([&] { return PageRequests(engine).size() == 1; }));
    run.Collector->Terminate();
    ASSERT_TRUE(RunUntil([&] { return run.Ended; }));
    EXPECT_EQ(run.Cursor, 6);
    EXPECT_TRUE(PageDones(kKeyword, engine.Source).empty());
    EXPECT_TRUE(SiteLinks().empty());
}

TEST_P(AnchorCollectorTest, TheOtherEnginesGatesDoNotHoldItAndAGateWaitEndsOnTermination) {
    const TEngineCase& engine = GetParam();
    const TEngineCase& other = OtherCase(engine);
    // The other engine's result-page gate opens once and then stays closed for the rest of the test.
    GatesOfEngine(other.Engine).ResultPage.SetTiming({std::chrono::minutes(10), other.PageGate.Poll});
    ServePages(engine, [](int) { return TSimResponse::Html(kNoAnchors); });
    ServePages(other, [](int) { return TSimResponse::Html(kNoAnchors); });

    TRun& held = Start(other, kKeyword, 0);
    Start(engine, kKeyword, 0);
    ASSERT_TRUE(RunUntil(
        [&] { return PageDones(kKeyword, engine.Source).size() >= 3 && !PageDones(kKeyword, other.Source).empty(); }));
    EXPECT_EQ(PageDones(kKeyword, other.Source), (std::vector<std::int32_t>{1}));

    // Waiting at its gate, the held collector ends without asking for another page.
    Stop(held);
    EXPECT_EQ(held.Cursor, 1);
    EXPECT_EQ(PageRequests(other).size(), 1u);
}

TEST_P(AnchorCollectorTest, TerminationDuringASiteGateWaitStartsNoFurtherSiteThread) {
    const TEngineCase& engine = GetParam();
    GatesOfEngine(engine.Engine).Site.SetTiming({std::chrono::minutes(10), engine.SiteGate.Poll});
    const std::string body = Anchor(std::string(engine.ClickPrefix) + "http://www.adv-a.cn/") +
                             Anchor(std::string(engine.ClickPrefix) + "http://www.adv-b.cn/");
    ServePages(engine, [body](int page) { return TSimResponse::Html(page == 0 ? Html(body) : kNoAnchors); });

    TRun& run = Start(engine, kKeyword, 0);
    // The second "entering" status comes right before the wait for the site gate.
    ASSERT_TRUE(RunUntil([&] {
        const TStrings events = Events(kKeyword);
        return std::count(events.begin(), events.end(), kEntering) == 2 && SiteLinks().size() == 1;
    }));
    Stop(run);
    EXPECT_EQ(run.Cursor, 1);
    EXPECT_TRUE(PageDones(kKeyword, engine.Source).empty());
    ASSERT_TRUE(RunUntil([] { return LiveWorkerCount() == 0; }));
    EXPECT_EQ(SiteLinks(), (TStrings{std::string(engine.ClickPrefix) + "http://www.adv-a.cn/"}));
}

TEST_P(AnchorCollectorTest, APausedCollectorAsksForNothingUntilResumed) {
    const TEngineCase& engine = GetParam();
    ServePages(engine, [](int) { return TSimResponse::Html(kNoAnchors); });

    TRun& run = Start(engine, kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return !PageDones(kKeyword, engine.Source).empty(); }));
    run.Collector->Pause();
    ASSERT_TRUE(RunUntil([&] { return run.Collector->WaitingAtPausePoint(); }));
    const std::size_t requests = PageRequests(engine).size();
    const std::size_t done = PageDones(kKeyword, engine.Source).size();
    Idle(200ms);
    EXPECT_EQ(PageRequests(engine).size(), requests);
    EXPECT_EQ(PageDones(kKeyword, engine.Source).size(), done);

    run.Collector->Resume();
    EXPECT_TRUE(RunUntil([&] { return PageDones(kKeyword, engine.Source).size() > done; }));
}

INSTANTIATE_TEST_SUITE_P(Engines, AnchorCollectorTest, ::testing::Values(k360Case, kSogouCase),
                         [](const ::testing::TestParamInfo<TEngineCase>& info) { return info.param.Name; });

// The real gates, both engines at once. Every time is measured from a moment before any collector started to the
// arrival of a request at the simulated web, which can only overstate the distance between two gate openings:
// the k-th result-page request of an engine is at least (k - 1) result-page intervals after the start, the k-th
// site visit at least (k - 1) site intervals.
TEST_F(AnchorCollectorTestBase, TwoCollectorsOfOneEngineKeepTheIntervalsOfItsGates) {
    SetGates(k360PageGate, k360SiteGate, kSogouPageGate, kSogouSiteGate);
    const std::size_t a = engines_.AddCompany(Company("www.gz-dianzi.cn", "广州市某某电子有限公司", "13912345678"));
    const std::size_t b = engines_.AddCompany(Company("www.gz-jixie.cn", "广州市某某机械有限公司", "13912345679"));
    const std::size_t c = engines_.AddCompany(Company("www.sz-wujin.cn", "深圳市某某五金有限公司", "13800138000"));
    for (const TEngineCase* engine : {&k360Case, &kSogouCase}) {
        engines_.SetPage(engine->Engine, kKeyword, 0, {TSimEntry{a, true}, TSimEntry{b, true}});
        engines_.SetPage(engine->Engine, kOtherKeyword, 0, {TSimEntry{c, true}});
    }

    // The first keyword's collectors fetch the first page, then pause after it, so that the second keyword's are
    // the next to pass the result-page gate: a gate keeps no turns, and either collector could win it every time.
    onInfo_ = [this](const TInfoEvent& info) {
        if (info.WParam != kCaijiPageDone || info.Keyword != kKeyword) {
            return;
        }
        for (TRun& run : runs_) {
            if (run.Keyword == kKeyword && run.Source == info.Source && run.Collector != nullptr) {
                run.Collector->Pause();
            }
        }
    };
    const TClock::time_point start = TClock::now();
    for (const TEngineCase* engine : {&k360Case, &kSogouCase}) {
        Start(*engine, kKeyword, 0);
    }
    ASSERT_TRUE(RunUntil(
        [&] { return !engines_.PageRequests(kEngine360).empty() && !engines_.PageRequests(kEngineSogou).empty(); }));
    for (const TEngineCase* engine : {&k360Case, &kSogouCase}) {
        Start(*engine, kOtherKeyword, 0);
    }
    auto enough = [&](int engine) {
        return engines_.PageRequests(engine).size() >= 2 && engines_.ClickRequests(engine).size() >= 3;
    };
    ASSERT_TRUE(RunUntil([&] { return enough(kEngine360) && enough(kEngineSogou); }));

    for (const TEngineCase* engine : {&k360Case, &kSogouCase}) {
        SCOPED_TRACE(engine->Name);
        const auto pages = engines_.PageRequests(engine->Engine);
        ASSERT_GE(pages.size(), 2u);
        EXPECT_EQ(pages[1].Keyword, kOtherKeyword);
        for (std::size_t k = 1; k < pages.size(); ++k) {
            EXPECT_GE(Ms(pages[k].Time - start), static_cast<long long>(k) * engine->PageGate.Interval.count())
                << "page " << k;
        }
        // Two visits from the first keyword's page, the third from the second keyword's.
        const auto visits = engines_.ClickRequests(engine->Engine);
        ASSERT_GE(visits.size(), 3u);
        EXPECT_TRUE(visits[2].pathAndQuery.ends_with("url=http://www.sz-wujin.cn/")) << visits[2].pathAndQuery;
        for (std::size_t k = 1; k < visits.size(); ++k) {
            EXPECT_GE(Ms(visits[k].time - start), static_cast<long long>(k) * engine->SiteGate.Interval.count())
                << "visit " << k;
        }
    }
}

}  // namespace
}  // namespace vexo
