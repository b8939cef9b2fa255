// The Baidu result collector against the loopback simulated web: the addresses it asks for, which pages count,
// which entries start site threads and with what, the cookie it hands over, the shared gates, termination, pause,
// the detaching of its site threads, and the result-page file in the working directory.
#include "engine/CaijiBaidu.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "sim/SimWeb.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using sim::TSimRequest;
using sim::TSimResponse;
using sim::TSimWeb;
using test::kTestWatchdog;
using test::kWaitLimit;
using TClock = std::chrono::steady_clock;
using TStrings = std::vector<std::string>;

constexpr char kSearchHost[] = "www.baidu.com";
constexpr char kKeyword[] = "广州 电子公司";
// The keyword's GBK bytes, percent-encoded, with the space as %20.
constexpr char kKeywordQuery[] = "/s?wd=%B9%E3%D6%DD%20%B5%E7%D7%D3%B9%AB%CB%BE";

// Takes a page over the short-page limit.
const std::string kFiller = "<!--" + std::string(kBaiduShortPageBytes, '-') + "-->";

std::string ResultPage(const std::string& entries) {
    return "<html><body>\n<div id=\"wrapper\"><div id=\"content_left\">\n" + entries +
           "</div>\n<div id=\"page\"><a href=\"/s?pn=10\">下一页</a></div></div>\n" + kFiller + "\n</body></html>";
}
std::string CertifiedBlock(const std::string& title, const std::string& href) {
    return "<div id=\"3001\" class=\"ec-result\" data-click=\"{'rsv':'1'}\">\n<h3><a href=\"" + href +
           "\" target=\"_blank\">广告</a></h3>\n<span data-renzheng='{\"title\":\"" + title +
           "\",\"level\":3}'>V</span>\n<span class=\"ec-tag\">推广</span>\n</div>\n";
}
std::string DataToolsBlock(const std::string& tools, const std::string& extra = "") {
    return "<div class=\"result c-container\" id=\"1\" srcid=\"1599\">\n<h3><a href=\"/link?url=1\">条目</a></h3>\n" +
           extra + "<div class=\"c-tools\" data-tools='" + tools + "'></div><a href=\"/cache\">百度快照</a>\n</div>\n";
}
std::string Tools(const std::string& title, const std::string& url) {
    return "{\"title\":\"" + title + "\",\"url\":\"" + url + "\"}";
}
std::string ClickLink(const std::string& target) {
    return "http://www.baidu.com/baidu.php?url=" + target;
}
std::string SitePage(const std::string& title) {
    return "<html><head><title>" + title + "</title></head><body>手机：13912345678</body></html>";
}
std::string Entering(const std::string& link) {
    return std::string(kStatusEnteringSite) + link;
}
std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// One notification as the window saw it.
struct TEvent {
    std::intptr_t WParam = 0;
    std::string Text;  // status text (collector or site thread)
    TCaiJiInfo Info;   // collector notifications
    TClock::time_point Time;
};

// One collector started by a test.
struct TRun {
    TCaijiBaidu* Collector = nullptr;  // until its termination callback ran
    TClock::time_point Started;
    bool Ended = false;
    std::int32_t Cursor = -1;  // read by the termination callback
};

class CaijiBaiduTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { InitNetwork(); }

    void SetUp() override {
        SetCurrentDispatcher(loop_);
        char pattern[] = "/tmp/vexo-caijibaidu-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        workDir_ = pattern;
        previousDir_ = fs::current_path();
        fs::current_path(workDir_);
        SetGates({20ms, 5ms}, {5ms, 2ms});
        web_.Serve(sim::kAnyHost, sim::kAnyPath, TSimResponse::Html("<html><body>no contacts</body></html>"));
        web_.Handle(kSearchHost, "/baidu.php", [](const TSimRequest& request) {
            const std::size_t pos = request.pathAndQuery.find("url=");
            return pos == std::string::npos ? TSimResponse::Status(404)
                                            : TSimResponse::Redirect(request.pathAndQuery.substr(pos + 4));
        });
    }

    void TearDown() override {
        TerminateAllWorkers();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWaitLimit)) << "workers left running";
        SetCurrentDispatcher(nullptr);
        SetGates(kBaiduPageGate, kBaiduSiteGate);
        fs::current_path(previousDir_);
        fs::remove_all(workDir_);
    }

    static void SetGates(TGateTiming page, TGateTiming site) {
        TEngineGates& gates = GatesOfEngine(kEngineBaidu);
        gates.ResultPage.SetTiming(page);
        gates.Site.SetTiming(site);
        gates.ResultPage.ResetStamp();
        gates.Site.ResetStamp();
    }

    void OnNotification(const TNotification& n) {
        TEvent event{n.WParam, {}, {}, TClock::now()};
        if (const auto* info = std::get_if<const TCaiJiInfo*>(&n.LParam)) {
            event.Info = **info;
            event.Text = event.Info.message;
        } else if (const auto* text = std::get_if<const std::string*>(&n.LParam)) {
            event.Text = **text;
        } else if (const auto* record = std::get_if<const TComPanyInfo*>(&n.LParam)) {
            records_.push_back(**record);
        }
        events_.push_back(std::move(event));
    }

    TRun& Start(const std::string& keyword, std::int32_t startPage, const std::string& searchHost = kSearchHost) {
        TRun& run = runs_.emplace_back();
        run.Started = TClock::now();
        auto collector =
            std::make_unique<TCaijiBaidu>(window_, keyword, startPage, TCollectorSettings{searchHost, icpHost_});
        TCaijiBaidu* raw = collector.get();
        collector->SetOnTerminate([&run, raw] {
            run.Ended = true;
            run.Cursor = raw->PageCursor();
            run.Collector = nullptr;
        });
        run.Collector = TWorkerThread::Start(std::move(collector));
        return run;
    }
    void Stop(TRun& run) {
        if (run.Collector != nullptr) {
            run.Collector->Terminate();
        }
        EXPECT_TRUE(RunUntil([&] { return run.Ended; })) << "collector still running";
    }
    bool RunUntil(const std::function<bool()>& done) { return loop_->RunUntil(done, kWaitLimit); }
    void RunFor(std::chrono::milliseconds duration) {
        loop_->RunUntil([] { return false; }, duration);
    }

    std::vector<TEvent> Events(std::intptr_t wParam, const std::string& keyword = {}) const {
        std::vector<TEvent> found;
        std::copy_if(events_.begin(), events_.end(), std::back_inserter(found), [&](const TEvent& e) {
            return e.WParam == wParam && (keyword.empty() || e.Info.keyword == keyword);
        });
        return found;
    }
    std::size_t PageDones(const std::string& keyword = {}) const { return Events(kCaijiPageDone, keyword).size(); }
    // Texts of the site threads' "entering" statuses, in order.
    TStrings SiteStarts() const {
        TStrings starts;
        for (const TEvent& event : Events(kCaijiStatusLine)) {
            if (event.Text.starts_with(kStatusEnteringSite)) {
                starts.push_back(event.Text);
            }
        }
        return starts;
    }
    std::vector<TSimRequest> PageRequests() const { return web_.RequestsTo(kSearchHost, "/s"); }
    std::vector<TSimRequest> HostRequests(const std::string& host) const {
        std::vector<TSimRequest> found;
        for (TSimRequest& request : web_.Requests()) {
            if (request.host == host) {
                found.push_back(std::move(request));
            }
        }
        return found;
    }
    std::string FirstCookieAt(const std::string& host) const {
        const auto requests = HostRequests(host);
        return requests.empty() ? "<none>" : requests.front().Header("Cookie").value_or("");
    }

    test::TWatchdog watchdog_{kTestWatchdog};
    TSimWeb web_;
    sim::TProxyEnvironment proxy_{web_.BaseUrl(), "127.0.0.1"};
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    TWindowHandle window_ =
        std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) { OnNotification(n); });
    std::string icpHost_;
    std::vector<TEvent> events_;  // UI thread only
    std::vector<TComPanyInfo> records_;
    std::deque<TRun> runs_;
    fs::path workDir_;
    fs::path previousDir_;
};

TEST_F(CaijiBaiduTest, AsksForTheGbkEncodedKeywordPageByPageFromTheStartPage) {
    web_.Serve(kSearchHost, "/s", TSimResponse::Html(ResultPage("")));
    TRun& first = Start(kKeyword, 0);
    // Without a configured search host the collector asks the real endpoint.
    TRun& resumed = Start("led", 3, "");
    ASSERT_TRUE(RunUntil([&] { return PageDones(kKeyword) >= 2 && PageDones("led") >= 2; }));
    Stop(first);
    Stop(resumed);

    TStrings keywordTargets;
    TStrings ledTargets;
    for (const TSimRequest& request : PageRequests()) {
        (request.pathAndQuery.starts_with(kKeywordQuery) ? keywordTargets : ledTargets).push_back(request.pathAndQuery);
    }
    ASSERT_GE(keywordTargets.size(), 2u);
    ASSERT_GE(ledTargets.size(), 2u);
    EXPECT_EQ(keywordTargets[0], kKeywordQuery);
    EXPECT_EQ(keywordTargets[1], std::string(kKeywordQuery) + "&pn=10");
    EXPECT_EQ(ledTargets[0], "/s?wd=led&pn=30");
    EXPECT_EQ(ledTargets[1], "/s?wd=led&pn=40");

    // Each page: "getting" then "analysing", then page done with the new cursor.
    const auto keywordEvents = Events(kCaijiStatus, kKeyword);
    ASSERT_GE(keywordEvents.size(), 3u);
    EXPECT_EQ(keywordEvents[0].Text, kStatusGettingResults);
    EXPECT_EQ(keywordEvents[1].Text, kStatusAnalysingResults);
    EXPECT_EQ(keywordEvents[2].Text, kStatusGettingResults);
    const auto dones = Events(kCaijiPageDone, kKeyword);
    EXPECT_EQ(dones[0].Info.PageCount, 1);
    EXPECT_EQ(dones[1].Info.PageCount, 2);
    EXPECT_EQ(dones[0].Info.source, kSourceBaidu);
    EXPECT_EQ(Events(kCaijiPageDone, "led")[0].Info.PageCount, 4);
    EXPECT_GE(first.Cursor, 2);
    EXPECT_GE(resumed.Cursor, 5);
}

TEST_F(CaijiBaiduTest, FailedAndShortPagesAreAskedForAgainAndCountOnlyFrom1501Bytes) {
    auto served = std::make_shared<std::atomic<int>>(0);
    web_.Handle(kSearchHost, "/s", [served](const TSimRequest&) {
        const int n = (*served)++;
        if (n < 3)
            return TSimResponse::Status(500, kFiller);  // three failed attempts: the page does not count
        if (n == 3)
            return TSimResponse::Html(std::string(kBaiduShortPageBytes, 'a'));
        return TSimResponse::Html(std::string(kBaiduShortPageBytes + 1, 'a'));
    });
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones() >= 2; }));
    Stop(run);

    const auto requests = PageRequests();
    ASSERT_GE(requests.size(), 6u);
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(requests[i].pathAndQuery, kKeywordQuery) << i;
    }
    EXPECT_EQ(requests[5].pathAndQuery, std::string(kKeywordQuery) + "&pn=10");
    EXPECT_GE(requests[1].time - requests[0].time, std::chrono::milliseconds(kBaiduPageRetryPauseMs));
    EXPECT_GE(requests[2].time - requests[1].time, std::chrono::milliseconds(kBaiduPageRetryPauseMs));
    EXPECT_EQ(Events(kCaijiPageDone)[0].Info.PageCount, 1);
    EXPECT_TRUE(SiteStarts().empty());
}

TEST_F(CaijiBaiduTest, CertifiedEntriesNeedTheRegionAValidPageAndTheAdvertisingAnchor) {
    const std::string outside = "<html><body>" + CertifiedBlock("外面公司", ClickLink("http://outside-a.cn/")) +
                                DataToolsBlock(Tools("外面公司", "http://outside-b.cn/")) + kFiller + "</body></html>";
    const std::string certified =
        ResultPage(CertifiedBlock(" 广州：某某'电子'有限公司 ", " " + ClickLink("http://cert-a.cn/") + "&f='1' ") +
                   CertifiedBlock("假冒电子有限公司", "http://www.example.cn/ad.php?url=http://cert-b.cn/"));
    const std::string gbk = Utf8ToGbk(ResultPage(DataToolsBlock(Tools("丙公司", "http://gbk-c.cn/"))));
    web_.Handle(kSearchHost, "/s", [outside, certified, gbk](const TSimRequest& request) {
        if (request.pathAndQuery.ends_with(kKeywordQuery))
            return TSimResponse::Html(outside);
        if (request.pathAndQuery.ends_with("&pn=10"))
            return TSimResponse::Html(certified);
        if (request.pathAndQuery.ends_with("&pn=20"))
            return TSimResponse::Html(gbk, "gbk");
        return TSimResponse::Html(ResultPage(""));
    });
    web_.Serve("cert-a.cn", sim::kAnyPath, TSimResponse::Html(SitePage("首页")));
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones() >= 3 && !records_.empty(); }));
    Stop(run);

    // Pages without the region or not in UTF-8 count but yield nothing; the wrong anchor is skipped.
    const auto dones = Events(kCaijiPageDone);
    EXPECT_EQ(dones[2].Info.PageCount, 3);
    const std::string cleanedLink = ClickLink("http://cert-a.cn/") + "&f=1";
    EXPECT_EQ(SiteStarts(), TStrings{Entering(cleanedLink)});
    for (const char* host : {"outside-a.cn", "outside-b.cn", "cert-b.cn", "www.example.cn", "gbk-c.cn"}) {
        EXPECT_TRUE(HostRequests(host).empty()) << host;
    }
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].ComName, "广州某某电子有限公司");
    EXPECT_EQ(records_[0].renzheng, 1);
    EXPECT_EQ(records_[0].ispay, 1);
    EXPECT_EQ(records_[0].weburl, "http://cert-a.cn/&f=1");
}

TEST_F(CaijiBaiduTest, DataToolsEntriesInEitherQuotingReachTheWindowAndHintsAreCertified) {
    icpHost_ = "icp.filing-check.cn";
    const std::string hint = "<span hint-data='{\"label\":\"广州丙电子有限公司\",\"type\":2}'>认证</span>\n";
    const std::string page = ResultPage(DataToolsBlock(Tools("广州甲电子有限公司", "http://tools-a.cn/")) +
                                        DataToolsBlock("{title:'广州乙电子有限公司',url:'http://tools-b.cn/'}") +
                                        DataToolsBlock(Tools("丙官网", "http://tools-c.cn/"), hint) +
                                        DataToolsBlock("{\"title\":\"广州丁电子有限公司\"}"));
    web_.Handle(kSearchHost, "/s", [page](const TSimRequest& request) {
        return TSimResponse::Html(request.pathAndQuery.ends_with(kKeywordQuery) ? page : ResultPage(""));
    });
    for (const char* host : {"tools-a.cn", "tools-b.cn", "tools-c.cn"}) {
        web_.Serve(host, sim::kAnyPath, TSimResponse::Html(SitePage("首页")));
    }
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return records_.size() >= 3; }));
    Stop(run);

    EXPECT_EQ(SiteStarts(), (TStrings{Entering("http://tools-a.cn/"), Entering("http://tools-b.cn/"),
                                      Entering("http://tools-c.cn/")}));
    std::sort(records_.begin(), records_.end(),
              [](const TComPanyInfo& a, const TComPanyInfo& b) { return a.weburl < b.weburl; });
    ASSERT_EQ(records_.size(), 3u);
    EXPECT_EQ(records_[0].ComName, "广州甲电子有限公司");
    EXPECT_EQ(records_[1].ComName, "广州乙电子有限公司");
    EXPECT_EQ(records_[2].ComName, "广州丙电子有限公司");
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(records_[i].renzheng, i == 2 ? 1 : 0) << i;
        EXPECT_EQ(records_[i].ispay, 0) << i;
        EXPECT_EQ(records_[i].Keyword, kKeyword) << i;
        EXPECT_EQ(records_[i].source, kSourceBaidu) << i;
        EXPECT_EQ(records_[i].Mob, TStrings{"13912345678"}) << i;
    }
    // Only the uncertified entries are looked up in the filing service.
    TStrings filings;
    for (const TSimRequest& request : HostRequests(icpHost_)) {
        filings.push_back(request.path);
    }
    std::sort(filings.begin(), filings.end());
    EXPECT_EQ(filings, (TStrings{"/yuming/tools-a.cn/", "/yuming/tools-b.cn/"}));
}

TEST_F(CaijiBaiduTest, SiteThreadsGetTheCookieOfTheLatestResultPageRequest) {
    web_.Handle(kSearchHost, "/s", [](const TSimRequest& request) {
        const std::size_t pn = request.pathAndQuery.find("&pn=");
        const std::string page =
            pn == std::string::npos ? "0" : std::to_string(std::stoi(request.pathAndQuery.substr(pn + 4)) / 10);
        return TSimResponse::Html(
                   ResultPage(CertifiedBlock("广州某某有限公司", ClickLink("http://cert-" + page + ".cn/")) +
                              DataToolsBlock(Tools("广州某某有限公司", "http://tools-" + page + ".cn/"))))
            .AddHeader("Set-Cookie", "BAIDUID=page" + page + "; path=/");
    });
    TRun& run = Start(kKeyword, 0);
    // Site threads run concurrently, and a certified entry's goes through a redirection first: wait for all six.
    ASSERT_TRUE(RunUntil([&] {
        for (const char* host : {"cert-0.cn", "tools-0.cn", "cert-1.cn", "tools-1.cn", "cert-2.cn", "tools-2.cn"}) {
            if (HostRequests(host).empty())
                return false;
        }
        return true;
    }));
    Stop(run);

    EXPECT_EQ(PageRequests()[1].Header("Cookie").value_or(""), "BAIDUID=page0");
    // The certified pass hands over what the previous page's data-tools pass kept.
    EXPECT_EQ(FirstCookieAt("cert-0.cn"), "");
    EXPECT_EQ(FirstCookieAt("tools-0.cn"), "");
    EXPECT_EQ(FirstCookieAt("cert-1.cn"), "");
    EXPECT_EQ(FirstCookieAt("tools-1.cn"), "BAIDUID=page0");
    EXPECT_EQ(FirstCookieAt("cert-2.cn"), "BAIDUID=page0");
    EXPECT_EQ(FirstCookieAt("tools-2.cn"), "BAIDUID=page1");
}

// A gate opening seen from outside: it lies between something the collector did before waiting for the gate and
// something that followed the opening.
struct TOpening {
    TClock::time_point Before;
    TClock::time_point After;
};

// Two openings of one gate lie more than its interval apart, so for openings in order the later one's "after"
// follows the earlier one's "before" by at least the interval, whatever the delays around each opening.
void ExpectSpaced(std::vector<TOpening> openings, std::chrono::milliseconds interval) {
    std::sort(openings.begin(), openings.end(), [](const TOpening& a, const TOpening& b) { return a.After < b.After; });
    for (std::size_t i = 1; i < openings.size(); ++i) {
        EXPECT_GE(openings[i].After - openings[i - 1].Before, interval) << "opening " << i;
    }
}

// The one test with the real gates: two keywords share Baidu's result-page and site gates.
TEST_F(CaijiBaiduTest, CollectorsOfTwoKeywordsKeepTheSpacingOfTheSharedGates) {
    SetGates(kBaiduPageGate, kBaiduSiteGate);
    web_.Handle(kSearchHost, "/s", [](const TSimRequest& request) {
        const std::string tag = request.pathAndQuery.starts_with(kKeywordQuery) ? "a" : "b";
        return TSimResponse::Html(ResultPage(CertifiedBlock("某某公司", ClickLink("http://cert.cn/" + tag)) +
                                             DataToolsBlock(Tools("某某公司", "http://tools.cn/" + tag))));
    });
    TRun& first = Start(kKeyword, 0);
    TRun& second = Start("led", 0);
    const struct {
        std::string keyword, query, tag;
        const TRun& run;
    } keywords[] = {{kKeyword, kKeywordQuery, "a", first}, {"led", "/s?wd=led", "b", second}};
    ASSERT_TRUE(RunUntil([&] { return PageRequests().size() >= 4 && SiteStarts().size() >= 4; }));
    Stop(first);
    Stop(second);

    // Result pages: after the previous page's page-done (or the start) and before the page's request.
    // Site threads: after the collector's "entering" status and before the thread's own first status.
    std::vector<TOpening> pages;
    std::vector<TOpening> sites;
    const auto requests = PageRequests();
    for (const auto& [keyword, query, tag, run] : keywords) {
        const auto dones = Events(kCaijiPageDone, keyword);
        std::size_t page = 0;
        for (const TSimRequest& request : requests) {
            if (request.pathAndQuery.starts_with(query)) {
                ASSERT_LE(page, dones.size());
                pages.push_back({page == 0 ? run.Started : dones[page - 1].Time, request.time});
                ++page;
            }
        }
        EXPECT_GE(page, 1u) << keyword;
        std::vector<TClock::time_point> announced;
        for (const TEvent& event : Events(kCaijiStatus, keyword)) {
            if (event.Text == kStatusEnteringSites) {
                announced.push_back(event.Time);
            }
        }
        std::size_t site = 0;
        for (const TEvent& event : Events(kCaijiStatusLine)) {
            if (event.Text.starts_with(kStatusEnteringSite) && event.Text.ends_with("/" + tag)) {
                ASSERT_LT(site, announced.size());
                sites.push_back({announced[site++], event.Time});
            }
        }
    }
    ExpectSpaced(pages, kBaiduPageGate.Interval);
    ExpectSpaced(sites, kBaiduSiteGate.Interval);
}

TEST_F(CaijiBaiduTest, TerminationDuringTheResultPageGateEndsTheRunOnThePage) {
    SetGates({1h, 10min}, {5ms, 2ms});
    ASSERT_TRUE(GatesOfEngine(kEngineBaidu).ResultPage.TryOpen());  // closed for the collector
    TRun& run = Start(kKeyword, 5);
    RunFor(100ms);
    Stop(run);  // a poll of ten minutes would exceed the wait limit
    EXPECT_EQ(run.Cursor, 5);
    EXPECT_TRUE(PageRequests().empty());
    EXPECT_TRUE(events_.empty());
}

TEST_F(CaijiBaiduTest, TerminationDuringTheSiteGateEndsThePassOfACountedPage) {
    SetGates({5ms, 2ms}, {1h, 10min});
    web_.Serve(kSearchHost, "/s",
               TSimResponse::Html(ResultPage(DataToolsBlock(Tools("甲", "http://tools-a.cn/")) +
                                             DataToolsBlock(Tools("乙", "http://tools-b.cn/")))));
    TRun& run = Start(kKeyword, 7);
    ASSERT_TRUE(RunUntil([&] {
        const auto statuses = Events(kCaijiStatus);
        return statuses.size() == 4 && statuses.back().Text == kStatusEnteringSites && SiteStarts().size() == 1;
    }));
    Stop(run);
    EXPECT_EQ(run.Cursor, 8);  // the page was fetched: it counts, though its page-done is not sent
    EXPECT_EQ(PageDones(), 0u);
    EXPECT_EQ(SiteStarts(), TStrings{Entering("http://tools-a.cn/")});
    EXPECT_TRUE(HostRequests("tools-b.cn").empty());
}

TEST_F(CaijiBaiduTest, TerminationDuringAFetchLeavesThePageUncounted) {
    TSimResponse slow = TSimResponse::Html(ResultPage(DataToolsBlock(Tools("甲", "http://tools-a.cn/"))));
    slow.delayBeforeHeadersMs = 300;
    web_.Serve(kSearchHost, "/s", slow);
    TRun& run = Start(kKeyword, 2);
    ASSERT_TRUE(RunUntil([&] { return !PageRequests().empty(); }));
    Stop(run);
    EXPECT_EQ(run.Cursor, 2);
    EXPECT_EQ(PageRequests().size(), 1u);
    EXPECT_TRUE(HostRequests("tools-a.cn").empty());
    const auto statuses = Events(kCaijiStatus);
    ASSERT_EQ(statuses.size(), 1u);
    EXPECT_EQ(statuses[0].Text, kStatusGettingResults);
    EXPECT_FALSE(fs::exists(kResultPageFile));
}

TEST_F(CaijiBaiduTest, EndedCollectorDetachesItsRunningSiteThreads) {
    // One result page only: every page names the stalling site, and a second page's site thread would make a
    // request of its own.
    SetGates({1h, 10min}, {5ms, 2ms});
    web_.Serve(kSearchHost, "/s", TSimResponse::Html(ResultPage(DataToolsBlock(Tools("甲", "http://stall.cn/")))));
    TSimResponse stall = TSimResponse::Html(SitePage("首页"));
    stall.delayBeforeHeadersMs = sim::kStallForever;
    web_.Serve("stall.cn", sim::kAnyPath, stall);
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return !HostRequests("stall.cn").empty(); }));
    Stop(run);
    const std::size_t eventsAtEnd = events_.size();
    EXPECT_TRUE(RunUntil([] { return LiveWorkerCount() == 1; })) << "the site thread is still in its request";

    // Released, the site thread finds its termination requested: no retry, no notification, and no callback
    // into the freed collector.
    web_.Stop();
    ASSERT_TRUE(RunUntil([] { return LiveWorkerCount() == 0; }));
    EXPECT_EQ(HostRequests("stall.cn").size(), 1u);
    EXPECT_EQ(events_.size(), eventsAtEnd);
}

TEST_F(CaijiBaiduTest, ResultPageFileHoldsTheLatestPageInGbkWithCrLf) {
    web_.Handle(kSearchHost, "/s", [](const TSimRequest& request) {
        const bool first = request.pathAndQuery.ends_with(kKeywordQuery);
        return TSimResponse::Html("\n<html>\n<p>" + std::string(first ? "first" : "第二页") + "</p>\n" + kFiller +
                                  "\n</html>\n\n");
    });
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones() >= 2; }));
    Stop(run);
    EXPECT_EQ(ReadFile(kResultPageFile), "<html>\r\n<p>\xB5\xDA\xB6\xFE\xD2\xB3</p>\r\n" + kFiller + "\r\n</html>\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(workDir_), fs::directory_iterator()), 1) << "temporary file left";
}

TEST_F(CaijiBaiduTest, UnwritableResultPageFileDoesNotEndTheRun) {
    fs::create_directory(kResultPageFile);
    web_.Serve(kSearchHost, "/s", TSimResponse::Html(ResultPage(DataToolsBlock(Tools("甲", "http://tools-a.cn/")))));
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones() >= 2; }));
    Stop(run);
    EXPECT_EQ(SiteStarts().front(), Entering("http://tools-a.cn/"));
    EXPECT_TRUE(fs::is_directory(kResultPageFile));
    EXPECT_EQ(std::distance(fs::directory_iterator(workDir_), fs::directory_iterator()), 1) << "temporary file left";
}

TEST_F(CaijiBaiduTest, PausedCollectorWaitsAtItsNextSafePointUntilResumed) {
    web_.Serve(kSearchHost, "/s", TSimResponse::Html(ResultPage("")));
    TRun& run = Start(kKeyword, 0);
    ASSERT_TRUE(RunUntil([&] { return PageDones() >= 1; }));
    run.Collector->Pause();
    ASSERT_TRUE(RunUntil([&] { return run.Collector->WaitingAtPausePoint(); }));
    const std::size_t requests = PageRequests().size();
    const std::size_t dones = PageDones();
    RunFor(100ms);
    EXPECT_EQ(PageRequests().size(), requests);
    run.Collector->Resume();
    EXPECT_TRUE(RunUntil([&] { return PageDones() > dones; }));
    Stop(run);
}

// Collectors spend most of their time waiting at the gates: a pause lands there, between polls. The paused
// collector keeps its place in line but opens nothing, and others pass it meanwhile.
TEST_F(CaijiBaiduTest, PausedWhileWaitingAtAGateTheCollectorOpensNothingUntilResumed) {
    TStartGate& pageGate = GatesOfEngine(kEngineBaidu).ResultPage;
    TStartGate& siteGate = GatesOfEngine(kEngineBaidu).Site;
    SetGates({1h, 5ms}, {1h, 5ms});  // each gate opens once at its first try, then stays closed
    web_.Serve(kSearchHost, "/s",
               TSimResponse::Html(ResultPage(DataToolsBlock(Tools("甲", "http://tools-a.cn/")) +
                                             DataToolsBlock(Tools("乙", "http://tools-b.cn/")))));
    TRun& run = Start(kKeyword, 0);

    // The second site start waits at the site gate.
    ASSERT_TRUE(RunUntil([&] { return siteGate.WaitingCount() == 1; }));
    run.Collector->Pause();
    ASSERT_TRUE(RunUntil([&] { return run.Collector->WaitingAtPausePoint(); }));
    EXPECT_EQ(siteGate.WaitingCount(), 1u) << "paused inside the wait, keeping its place";
    siteGate.SetTiming({20ms, 5ms});
    RunFor(200ms);
    EXPECT_EQ(SiteStarts().size(), 1u);
    EXPECT_EQ(PageDones(), 0u);
    run.Collector->Resume();
    ASSERT_TRUE(RunUntil([&] { return SiteStarts().size() == 2 && pageGate.WaitingCount() == 1; }));

    // The next result page waits at the result-page gate.
    EXPECT_EQ(PageDones(), 1u);
    run.Collector->Pause();
    ASSERT_TRUE(RunUntil([&] { return run.Collector->WaitingAtPausePoint(); }));
    EXPECT_EQ(pageGate.WaitingCount(), 1u);
    pageGate.SetTiming({20ms, 5ms});
    RunFor(200ms);
    EXPECT_TRUE(pageGate.TryOpen()) << "a paused waiter does not hold the gate for others";
    RunFor(100ms);
    EXPECT_EQ(PageRequests().size(), 1u);
    EXPECT_EQ(PageDones(), 1u);
    run.Collector->Resume();
    EXPECT_TRUE(RunUntil([&] { return PageRequests().size() == 2 && PageDones() == 2; }));
    Stop(run);
}

}  // namespace
}  // namespace vexo
