// The company-site thread against the loopback simulated web: the statuses and records each engine's variant
// sends, in order; what the sites, the engines and the filing service see; the choice of the contact link; when
// the home page is examined again; termination points; hostile sites; many threads at once.
#include "engine/CaijiPageCon.h"

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "gtest/gtest.h"
#include "platform/EventLoop.h"
#include "platform/Watchdog.h"
#include "sim/SimWeb.h"
#include "support/Loopback.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using sim::TSimRequest;
using sim::TSimResponse;
using sim::TSimWeb;
using test::kTestWatchdog;
using test::kWaitLimit;
using TStrings = std::vector<std::string>;

constexpr char kKeyword[] = "广州 电子公司";
constexpr char kCookie[] = "BAIDUID=AB12:FG=1; BIDUPSID=77";
constexpr char kIcpHost[] = "icp.filing-check.cn";
constexpr char kShop[] = "www.shop-a.cn";
const std::string kShopUrl = "http://www.shop-a.cn/";
constexpr char kRecordEvent[] = "<record>";

std::string Entering(const std::string& link) {
    return std::string(kStatusEnteringSite) + link;
}
std::string Analysing(const std::string& url) {
    return std::string(kStatusAnalysingSite) + url;
}
std::string ContactAt(const std::string& url) {
    return std::string(kStatusContactPage) + url;
}
const std::string kFetching(kStatusFetchingPage);
std::string Named(const std::string& name) {
    return std::string(kStatusPageNameOpen) + name + std::string(kStatusPageNameClose);
}
const std::string kDone(kStatusSiteDone);

std::string Page(const std::string& title, const std::string& body) {
    return "<html><head><title>" + title + "</title></head>\r\n<body>" + body + "</body></html>";
}

// The click address of an engine that redirects to the target.
std::string ClickLink(TSiteVariant variant, const std::string& target) {
    switch (variant) {
        case TSiteVariant::Baidu:
            return "http://www.baidu.com/baidu.php?url=" + target;
        case TSiteVariant::So360:
            return "http://e.so.com/search/eclk?p=1&url=" + target;
        case TSiteVariant::Sogou:
            break;
    }
    return "http://www.sogou.com/bill_cpc?v=1&url=" + target;
}

const TSiteVariant kOtherVariants[] = {TSiteVariant::So360, TSiteVariant::Sogou};

class CaijiPageConTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() { InitNetwork(); }

    void SetUp() override {
        SetCurrentDispatcher(loop_);
        auto click = [](const TSimRequest& request) {
            const std::size_t pos = request.pathAndQuery.find("url=");
            return pos == std::string::npos ? TSimResponse::Status(404)
                                            : TSimResponse::Redirect(request.pathAndQuery.substr(pos + 4));
        };
        web_.Handle("www.baidu.com", "/baidu.php", click);
        web_.Handle("e.so.com", "/search/eclk", click);
        web_.Handle("www.sogou.com", "/bill_cpc", click);
    }

    void TearDown() override {
        TerminateAllWorkers();
        EXPECT_TRUE(loop_->RunUntil([] { return LiveWorkerCount() == 0; }, kWaitLimit)) << "site threads left";
        SetCurrentDispatcher(nullptr);
    }

    void OnNotification(const TNotification& notification) {
        EXPECT_EQ(notification.Message, kMsgCaiji);
        if (notification.WParam == kCaijiStatusLine) {
            const auto* text = std::get_if<const std::string*>(&notification.LParam);
            ASSERT_TRUE(text != nullptr && *text != nullptr);
            events_.push_back(**text);
            if (onStatus_) {
                onStatus_(**text);
            }
        } else if (notification.WParam == kCaijiRecord) {
            const auto* record = std::get_if<const TComPanyInfo*>(&notification.LParam);
            ASSERT_TRUE(record != nullptr && *record != nullptr);
            records_.push_back(**record);
            events_.push_back(kRecordEvent);
        } else {
            ADD_FAILURE() << "unexpected wParam " << notification.WParam;
        }
    }

    // A filing of the domain under the sponsor's name.
    void File(const std::string& domain, const std::string& sponsor) {
        web_.Serve(kIcpHost, "/yuming/" + domain + "/",
                   TSimResponse::Html("<table><tr><th>主办单位</th><td>" + sponsor +
                                      "</td></tr>\n<tr><th>网站名称</th><td>官网</td></tr></table>"));
    }

    std::unique_ptr<TCaijiPageCon> Baidu(const std::string& link, const std::string& title, bool certified = false) {
        TPagePara para{window_, kCookie, link, title, static_cast<std::uint8_t>(certified ? 1 : 0), kKeyword};
        return std::make_unique<TCaijiPageCon>(para, icpHost_);
    }
    std::unique_ptr<TCaijiPageCon> Other(TSiteVariant variant, const std::string& link) {
        return std::make_unique<TCaijiPageCon>(variant, window_, kKeyword, link, icpHost_);
    }
    std::unique_ptr<TCaijiPageCon> Make(TSiteVariant variant, const std::string& link) {
        return variant == TSiteVariant::Baidu ? Baidu(link, "某某电子官网") : Other(variant, link);
    }

    // Starts the thread and runs the UI loop until its termination callback ran.
    void Start(std::unique_ptr<TCaijiPageCon> worker) {
        worker->SetOnTerminate([this] {
            ++ended_;
            current_ = nullptr;
        });
        current_ = TWorkerThread::Start(std::move(worker));
    }
    void WaitEnded(int count) {
        ASSERT_TRUE(loop_->RunUntil([&] { return ended_ >= count; }, kWaitLimit)) << "site thread still running";
    }
    void Run(std::unique_ptr<TCaijiPageCon> worker) {
        const int before = ended_;
        Start(std::move(worker));
        WaitEnded(before + 1);
    }
    void Reset() {
        events_.clear();
        records_.clear();
        web_.ClearRequests();
    }

    std::size_t RequestsToHost(const std::string& host) const {
        std::size_t count = 0;
        for (const TSimRequest& request : web_.Requests()) {
            count += request.host == host ? 1 : 0;
        }
        return count;
    }
    // Requests of the simple client (HTTP/1.0) to the host and path.
    std::size_t SimpleRequests(const std::string& host, const std::string& path) const {
        std::size_t count = 0;
        for (const TSimRequest& request : web_.RequestsTo(host, path)) {
            count += request.version == "HTTP/1.0" ? 1 : 0;
        }
        return count;
    }

    test::TWatchdog watchdog_{kTestWatchdog};
    TSimWeb web_;
    sim::TProxyEnvironment proxy_{web_.BaseUrl(), "127.0.0.1"};
    std::shared_ptr<TEventLoop> loop_ = std::make_shared<TEventLoop>();
    TWindowHandle window_ =
        std::make_shared<TNotifyWindow>(loop_, [this](const TNotification& n) { OnNotification(n); });
    std::string icpHost_ = kIcpHost;
    TStrings events_;
    std::vector<TComPanyInfo> records_;
    std::function<void(const std::string&)> onStatus_;
    TCaijiPageCon* current_ = nullptr;  // the running thread, until its termination callback
    int ended_ = 0;
};

TEST_F(CaijiPageConTest, BaiduVisitTakesTheFilingNameAndHandsTheContactPageRecordOverOnce) {
    File("shop-a.cn", "广州市某某电子科技有限公司");
    web_.Serve(kShop, "/",
               TSimResponse::Html(Page("某某电子-首页",
                                       "<a href='/about.html'>关于我们</a>\r\n"
                                       "<a class=nav href=\"/Contact.html\">联系我们</a>")));
    web_.Serve(kShop, "/contact.html",
               TSimResponse::Html(Page("联系我们",
                                       "电话：020-87654321 手机：13912345678<br>\r\n"
                                       "地址：广州市天河区体育西路100号<br/>\r\nE-mail: Sales@Shop-A.cn")));
    const std::string link = ClickLink(TSiteVariant::Baidu, kShopUrl);
    Run(Baidu(link, "某某电子官网"));

    EXPECT_EQ(events_, (TStrings{Entering(link), Analysing(kShopUrl), ContactAt(kShopUrl + "contact.html"), kFetching,
                                 Named("广州市某某电子科技有限公司"), kRecordEvent, kDone}));
    ASSERT_EQ(records_.size(), 1u);
    const TComPanyInfo& record = records_[0];
    EXPECT_EQ(record.ComName, "广州市某某电子科技有限公司");
    EXPECT_EQ(record.Keyword, kKeyword);
    EXPECT_EQ(record.Tel, TStrings{"020-87654321"});
    EXPECT_EQ(record.Mob, TStrings{"13912345678"});
    EXPECT_EQ(record.EMail, TStrings{"Sales@Shop-A.cn"});
    EXPECT_EQ(record.Addr, "广州市天河区体育西路100号");
    EXPECT_EQ(record.weburl, kShopUrl);
    EXPECT_EQ(record.source, kSourceBaidu);
    EXPECT_EQ(record.ispay, 1);
    EXPECT_EQ(record.renzheng, 0);

    // The full client carries the collector's cookie to the engine and on to the site; the contact page is a
    // plain HTTP/1.0 request; the home page is not fetched again.
    for (const auto& [host, path] : {std::pair{"www.baidu.com", "/baidu.php"}, std::pair{kShop, "/"}}) {
        const auto requests = web_.RequestsTo(host, path);
        ASSERT_EQ(requests.size(), 1u) << host;
        EXPECT_EQ(requests[0].Header("Cookie").value_or(""), kCookie) << host;
        EXPECT_EQ(requests[0].Header("User-Agent").value_or(""), kFirefoxUserAgent) << host;
        EXPECT_EQ(requests[0].version, "HTTP/1.1") << host;
    }
    const auto contact = web_.RequestsTo(kShop, "/contact.html");
    ASSERT_EQ(contact.size(), 1u);
    EXPECT_EQ(contact[0].version, "HTTP/1.0");
    EXPECT_EQ(contact[0].Header("User-Agent").value_or(""), kFirefoxUserAgent);
    EXPECT_FALSE(contact[0].Header("Cookie").has_value());
    EXPECT_EQ(SimpleRequests(kShop, "/"), 0u);
    EXPECT_EQ(web_.RequestsTo(kIcpHost, "/yuming/shop-a.cn/").size(), 1u);
}

TEST_F(CaijiPageConTest, OtherEnginesHandALandlineOnlyContactPageOverAndThenExamineTheHomePage) {
    File("shop-a.cn", "广州市某某电子科技有限公司");
    web_.Serve(kShop, "/", TSimResponse::Html(Page("首页", "<a href='lx.html'>联系我们</a> 手机 13800138000")));
    web_.Serve(kShop, "/lx.html", TSimResponse::Html(Page("联系", "电话: 0757-22334455")));
    for (TSiteVariant variant : kOtherVariants) {
        SCOPED_TRACE(static_cast<int>(variant));
        Reset();
        const std::string link = ClickLink(variant, kShopUrl);
        Run(Other(variant, link));

        const std::string named = Named("广州市某某电子科技有限公司");
        EXPECT_EQ(events_, (TStrings{Entering(link), Analysing(kShopUrl), ContactAt(kShopUrl + "lx.html"), kFetching,
                                     named, kRecordEvent, kFetching, named, kRecordEvent}));
        ASSERT_EQ(records_.size(), 2u);
        EXPECT_EQ(records_[0].Tel, TStrings{"0757-22334455"});
        EXPECT_TRUE(records_[0].Mob.empty());
        EXPECT_EQ(records_[1].Tel, TStrings{"0757-22334455"});
        EXPECT_EQ(records_[1].Mob, TStrings{"13800138000"});
        for (const TComPanyInfo& record : records_) {
            EXPECT_EQ(record.ComName, "广州市某某电子科技有限公司");
            EXPECT_EQ(record.source, variant == TSiteVariant::So360 ? kSource360 : kSourceSogou);
            EXPECT_EQ(record.ispay, 1);
            EXPECT_EQ(record.renzheng, 0);
            EXPECT_EQ(record.weburl, kShopUrl);
            EXPECT_EQ(record.Keyword, kKeyword);
        }
        EXPECT_EQ(SimpleRequests(kShop, "/"), 1u);
        for (const TSimRequest& request : web_.Requests()) {
            EXPECT_FALSE(request.Header("Cookie").has_value()) << request.host << request.path;
        }
    }
}

TEST_F(CaijiPageConTest, NameComesFromTheFilingTheEntryOrTheTitle) {
    File("shop-a.cn", "广州市某某电子科技有限公司");
    web_.Serve(kShop, "/", TSimResponse::Html(Page("首页-广州某某电子有限公司_产品中心", "电话 020-87654321")));

    // A certified entry keeps its label and never asks the filing service.
    Run(Baidu(kShopUrl, "某某电子旗舰认证", true));
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].ComName, "某某电子旗舰认证");
    EXPECT_EQ(records_[0].renzheng, 1);
    EXPECT_EQ(records_[0].ispay, 0);
    EXPECT_EQ(RequestsToHost(kIcpHost), 0u);

    // With the filing service down the entry's title stands (Baidu) or the page title is used (360, Sogou).
    icpHost_ = "127.0.0.1:" + std::to_string(sim::ClosedPort());
    Reset();
    Run(Baidu(kShopUrl, "某某电子官网"));
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].ComName, "某某电子官网");
    for (TSiteVariant variant : kOtherVariants) {
        Reset();
        Run(Other(variant, kShopUrl));
        ASSERT_EQ(records_.size(), 1u);
        EXPECT_EQ(records_[0].ComName, "广州某某电子有限公司");
        EXPECT_EQ(records_[0].ispay, 0);
    }

    // No filing, no title: no name, so nothing is handed over.
    icpHost_.clear();
    web_.Serve(kShop, "/", TSimResponse::Html("<p>电话 020-87654321 手机 13912345678</p>"));
    Reset();
    Run(Other(TSiteVariant::So360, kShopUrl));
    EXPECT_TRUE(records_.empty());
    EXPECT_EQ(events_, (TStrings{Entering(kShopUrl), Analysing(kShopUrl), kFetching, Named(" ")}));
}

TEST_F(CaijiPageConTest, EntryThatStaysOnTheEngineEndsTheVisit) {
    web_.Serve("www.baidu.com", "/s", TSimResponse::Html(Page("百度", "<a href='/c'>联系我们</a>")));
    web_.Serve("www.so.com", "/s", TSimResponse::Html("results"));
    web_.Serve("www.sogou.com", "/web", TSimResponse::Html("results"));
    const std::pair<TSiteVariant, std::string> cases[] = {
        {TSiteVariant::Baidu, "http://www.baidu.com/s?wd=x"},
        {TSiteVariant::So360, "http://www.so.com/s?q=x"},
        {TSiteVariant::Sogou, "http://www.sogou.com/web?query=x"},
    };
    for (const auto& [variant, target] : cases) {
        SCOPED_TRACE(target);
        Reset();
        const std::string link = ClickLink(variant, target);
        Run(Make(variant, link));
        EXPECT_EQ(events_, TStrings{Entering(link)});
        EXPECT_TRUE(records_.empty());
        EXPECT_EQ(RequestsToHost(kIcpHost), 0u);
    }
}

// The "正在提取联系方式:" status of a visit to a home page, or empty when no contact link was taken.
class ContactLinkTest : public CaijiPageConTest {
  protected:
    std::string ContactTaken(TSiteVariant variant, const std::string& links) {
        web_.Serve(kShop, "/", TSimResponse::Html(Page("首页", links)));
        Reset();
        Run(Make(variant, kShopUrl));
        for (const std::string& event : events_) {
            if (event.starts_with(kStatusContactPage)) {
                return event.substr(kStatusContactPage.size());
            }
        }
        return {};
    }
};

TEST_F(ContactLinkTest, BaiduAndThe360TakeTheFirstLinkOfTheFirstCaptionThatOccurs) {
    for (TSiteVariant variant : {TSiteVariant::Baidu, TSiteVariant::So360}) {
        SCOPED_TRACE(static_cast<int>(variant));
        EXPECT_EQ(ContactTaken(variant,
                               "<a href='/about.html'>关于我们</a><a href='/c1.html'>联系我们</a>"
                               "<a href='/c2.html'> 联系我们 </a>"),
                  kShopUrl + "c1.html");
        EXPECT_EQ(ContactTaken(variant, "<a href='/about.html'>关于我们</a><a href='/way.html'>联系方式</a>"),
                  kShopUrl + "way.html");
        EXPECT_EQ(ContactTaken(variant, "<a href=/about.html>公司 关于我们</a><a href='/x'>请联系</a>"),
                  kShopUrl + "about.html");
        EXPECT_EQ(ContactTaken(variant, "<a href='../Info/Call.asp?id=3'>联系电话</a>"),
                  kShopUrl + "info/call.asp?id=3");
        EXPECT_EQ(ContactTaken(variant, "<a name='lx'>联系我们</a>"), kShopUrl);  // no href: the site root
        EXPECT_EQ(ContactTaken(variant, "<a href='c.html'><span>联系我们</span></a>"), "");
    }
}

TEST_F(ContactLinkTest, SogouTakesOnlyAnExactContactUsCaption) {
    EXPECT_EQ(ContactTaken(TSiteVariant::Sogou, "<a href='c.html'>联系我们</a>"), kShopUrl + "c.html");
    EXPECT_EQ(ContactTaken(TSiteVariant::Sogou, "<a href='c.html'>联系我们 </a>"), "");
    EXPECT_EQ(ContactTaken(TSiteVariant::Sogou, "<a href='c.html'>联系方式</a>"), "");
    EXPECT_EQ(ContactTaken(TSiteVariant::Sogou, "<a href='c.html'>关于我们</a>"), "");
}

TEST_F(CaijiPageConTest, HomePageRecordKeepsTheVisitFieldsAfterAContactPageWithoutNumbers) {
    web_.Serve(kShop, "/", TSimResponse::Html(Page("某某电子-首页", "<a href='/c.html'>联系我们</a> 13912345678")));
    web_.Serve(kShop, "/c.html", TSimResponse::Html(Page("联系我们", "info@shop-a.cn")));

    const std::string link = ClickLink(TSiteVariant::Baidu, kShopUrl);
    Run(Baidu(link, "某某电子官网", true));
    EXPECT_EQ(events_, (TStrings{Entering(link), Analysing(kShopUrl), ContactAt(kShopUrl + "c.html"), kFetching,
                                 Named("某某电子官网"), kFetching, Named("某某电子官网"), kRecordEvent, kDone}));
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].ComName, "某某电子官网");
    EXPECT_EQ(records_[0].weburl, kShopUrl);
    EXPECT_EQ(records_[0].source, kSourceBaidu);
    EXPECT_EQ(records_[0].ispay, 1);
    EXPECT_EQ(records_[0].renzheng, 1);
    EXPECT_EQ(records_[0].Mob, TStrings{"13912345678"});
    EXPECT_TRUE(records_[0].EMail.empty()) << "values of a page that was not kept";

    // A contact page that cannot be reached leaves the record as before the pages.
    File("shop-a.cn", "广州市某某电子科技有限公司");
    const std::string unreachable = "http://127.0.0.1:" + std::to_string(sim::ClosedPort()) + "/c.html";
    web_.Serve(kShop, "/", TSimResponse::Html(Page("首页", "<a href='" + unreachable + "'>联系我们</a> 13912345678")));
    Reset();
    const std::string link360 = ClickLink(TSiteVariant::So360, kShopUrl);
    Run(Other(TSiteVariant::So360, link360));
    const std::string named = Named("广州市某某电子科技有限公司");
    EXPECT_EQ(events_, (TStrings{Entering(link360), Analysing(kShopUrl), ContactAt(unreachable), kFetching, kFetching,
                                 named, kRecordEvent}));
    ASSERT_EQ(records_.size(), 1u);
    EXPECT_EQ(records_[0].ComName, "广州市某某电子科技有限公司");
    EXPECT_EQ(records_[0].source, kSource360);
    EXPECT_EQ(records_[0].ispay, 1);
}

TEST_F(CaijiPageConTest, GbkAndUtf8SitesGiveTheSameRecord) {
    const std::string home = Page("欢迎访问", "<a href='/lx.html'>联系方式</a>");
    const std::string contact = Page("联系我们-广州某某电子有限公司",
                                     "联系人：张先生 电话：020-87654321 手机：13912345678<br>\r\n"
                                     "地址：广州市天河区体育西路100号<br>");
    std::vector<TComPanyInfo> records;
    for (const bool gbk : {false, true}) {
        web_.Serve(kShop, "/", TSimResponse::Html(gbk ? Utf8ToGbk(home) : home, gbk ? "gbk" : "utf-8"));
        web_.Serve(kShop, "/lx.html", TSimResponse::Html(gbk ? Utf8ToGbk(contact) : contact, gbk ? "gbk" : "utf-8"));
        Reset();
        Run(Other(TSiteVariant::So360, kShopUrl));
        ASSERT_EQ(records_.size(), 1u) << "gbk " << gbk;
        records.push_back(records_[0]);
    }
    EXPECT_EQ(records[0].ComName, "广州某某电子有限公司");
    EXPECT_EQ(records[0].Addr, "广州市天河区体育西路100号");
    for (const TComPanyInfo& record : records) {
        EXPECT_EQ(record.ComName, records[0].ComName);
        EXPECT_EQ(record.Addr, records[0].Addr);
        EXPECT_EQ(record.Tel, records[0].Tel);
        EXPECT_EQ(record.Mob, records[0].Mob);
    }
}

TEST_F(CaijiPageConTest, BaiduTriesTheFirstPageFourTimesTheOthersOnce) {
    web_.Serve(kShop, "/", TSimResponse::Status(500, "busy"));
    const auto start = std::chrono::steady_clock::now();
    Run(Baidu(kShopUrl, "某某电子官网"));
    EXPECT_EQ(web_.RequestsTo(kShop, "/").size(), 4u);
    EXPECT_GE(sim::MillisecondsSince(start), 3 * kBaiduRetryPauseMs);
    EXPECT_EQ(events_, TStrings{Entering(kShopUrl)});
    for (TSiteVariant variant : kOtherVariants) {
        Reset();
        Run(Other(variant, kShopUrl));
        EXPECT_EQ(web_.RequestsTo(kShop, "/").size(), 1u);
        EXPECT_EQ(events_, TStrings{Entering(kShopUrl)});
    }
}

TEST_F(CaijiPageConTest, TerminationIsHonouredAtItsPointsAndSilencesTheThread) {
    web_.Serve(kShop, "/", TSimResponse::Html(Page("某某电子", "<a href='/c.html'>联系我们</a>")));
    web_.Serve(kShop, "/c.html", TSimResponse::Html(Page("联系我们", "info@shop-a.cn")));

    // After the analysing status: no contact page is fetched.
    onStatus_ = [this](const std::string& text) {
        if (text.starts_with(kStatusAnalysingSite) && current_ != nullptr) {
            current_->Terminate();
        }
    };
    Run(Baidu(kShopUrl, "某某电子官网"));
    EXPECT_EQ(events_, (TStrings{Entering(kShopUrl), Analysing(kShopUrl)}));
    EXPECT_TRUE(web_.RequestsTo(kShop, "/c.html").empty());

    // With the contact page under way: it is examined in silence and the home page is not fetched again.
    onStatus_ = [this](const std::string& text) {
        if (text.starts_with(kStatusContactPage) && current_ != nullptr) {
            current_->Terminate();
        }
    };
    Reset();
    Run(Baidu(kShopUrl, "某某电子官网"));
    EXPECT_EQ(events_, (TStrings{Entering(kShopUrl), Analysing(kShopUrl), ContactAt(kShopUrl + "c.html")}));
    EXPECT_EQ(SimpleRequests(kShop, "/c.html"), 1u);
    EXPECT_EQ(SimpleRequests(kShop, "/"), 0u);
    onStatus_ = nullptr;

    // During the first fetch: Baidu stops after the failed attempt; 360 stops after its fetch even when it
    // succeeded, before asking the filing service.
    for (const bool fail : {true, false}) {
        SCOPED_TRACE(fail ? "failing Baidu fetch" : "successful 360 fetch");
        auto reached = std::make_shared<std::atomic<int>>(0);
        auto release = std::make_shared<std::promise<void>>();
        web_.Handle(kShop, "/", [reached, released = release->get_future().share(), fail](const TSimRequest&) {
            ++*reached;
            released.wait();
            return fail ? TSimResponse::Status(503) : TSimResponse::Html(Page("某某", "<a href='/c.html'>联系</a>"));
        });
        Reset();
        const int before = ended_;
        Start(fail ? Baidu(kShopUrl, "某某电子官网") : Other(TSiteVariant::So360, kShopUrl));
        ASSERT_TRUE(loop_->RunUntil([&] { return *reached == 1; }, kWaitLimit));
        ASSERT_NE(current_, nullptr);
        current_->Terminate();
        release->set_value();
        WaitEnded(before + 1);
        EXPECT_EQ(*reached, 1);
        EXPECT_EQ(events_, TStrings{Entering(kShopUrl)});
        EXPECT_EQ(RequestsToHost(kIcpHost), 0u);
    }
}

TEST_F(CaijiPageConTest, HostileSitesEndTheThreadCleanly) {
    const std::string huge(kMaxBodyBytes + 1024 * 1024, 'x');
    std::string garbage;
    std::mt19937 random(7);
    while (garbage.size() < 200000) {
        const auto byte = static_cast<char>(random() % 256);
        if (byte < '0' || byte > '9') {
            garbage += byte;
        }
    }
    const std::string phones = "Call 020-87654321 or 13912345678";
    struct TCase {
        const char* name;
        TSiteVariant variant;
        TSimResponse home;
        TSimResponse contact;
        std::size_t records;
    };
    auto stall = TSimResponse::Html("never");
    stall.delayBeforeHeadersMs = sim::kStallForever;
    const TCase cases[] = {
        {"redirect loop", TSiteVariant::Baidu, TSimResponse::Redirect(kShopUrl), {}, 0},
        {"home page over the size limit", TSiteVariant::So360, TSimResponse::Html(huge), {}, 0},
        {"contact page over the size limit", TSiteVariant::Baidu,
         TSimResponse::Html("<a href='/c.html'>联系我们</a>" + phones), TSimResponse::Html(huge), 1},
        {"no markup", TSiteVariant::Baidu, TSimResponse::Html(phones), {}, 1},
        {"binary garbage", TSiteVariant::Baidu, TSimResponse::Html(garbage), TSimResponse::Html(garbage), 0},
        {"garbage contact page", TSiteVariant::Sogou, TSimResponse::Html("<a href='c'>联系我们</a>"),
         TSimResponse::Html(garbage, "application/octet-stream"), 0},
        {"stalling site", TSiteVariant::So360, stall, {}, 0},
    };
    for (const TCase& test : cases) {
        SCOPED_TRACE(test.name);
        web_.Serve(kShop, "/", test.home);
        web_.Serve(kShop, "/c.html", test.contact);
        web_.Serve(kShop, "/c", test.contact);
        Reset();
        Run(Make(test.variant, kShopUrl));
        EXPECT_EQ(records_.size(), test.records);
        if (test.records > 0) {
            EXPECT_EQ(records_[0].Mob, TStrings{"13912345678"});
        }
    }
}

TEST_F(CaijiPageConTest, FiftySiteThreadsAtOnce) {
    constexpr int kThreads = 50;
    std::set<std::string> expected;
    for (int i = 0; i < kThreads; ++i) {
        const std::string host = "www.site" + std::to_string(i) + ".cn";
        const std::string name = "广州第" + std::to_string(i) + "电子有限公司";
        if (i % 2 == 0) {
            File("site" + std::to_string(i) + ".cn", name);
        }
        web_.Serve(host, "/", TSimResponse::Html(Page(name, "<a href='/lx.html'>联系我们</a>")));
        web_.Serve(host, "/lx.html",
                   TSimResponse::Html(Page(name, "电话 020-8765432" + std::to_string(i % 10) + " 手机 139123456" +
                                                     std::to_string(10 + i))));
        expected.insert(name);
    }
    const TSiteVariant variants[] = {TSiteVariant::Baidu, TSiteVariant::So360, TSiteVariant::Sogou};
    for (int i = 0; i < kThreads; ++i) {
        const TSiteVariant variant = variants[i % 3];
        const std::string site = "http://www.site" + std::to_string(i) + ".cn/";
        Start(variant == TSiteVariant::Baidu ? Baidu(ClickLink(variant, site), "", false)
                                             : Other(variant, ClickLink(variant, site)));
    }
    WaitEnded(kThreads);
    std::set<std::string> names;
    for (const TComPanyInfo& record : records_) {
        EXPECT_EQ(record.Tel.size(), 1u);
        EXPECT_EQ(record.Mob.size(), 1u);
        names.insert(record.ComName);
    }
    EXPECT_EQ(records_.size(), static_cast<std::size_t>(kThreads));
    EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace vexo
