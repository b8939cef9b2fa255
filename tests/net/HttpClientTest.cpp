// The full HTTP client against the loopback simulated web: redirects, cookies, request headers, the address
// reached, time limits, size limit, connections, progress events and every owner's preset.
#include "net/HttpClient.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "net/PageBudget.h"
#include "sim/SimWeb.h"
#include "support/Loopback.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

using namespace std::chrono_literals;
using sim::ClosedPort;
using sim::MillisecondsSince;
using sim::TBodyFraming;
using sim::TProxyEnvironment;
using sim::TSimRequest;
using sim::TSimResponse;
using sim::TSimWeb;
using TClock = std::chrono::steady_clock;

constexpr char kShop[] = "www.example-shop.cn";
constexpr long long kHangGuardMs = 30000;
constexpr char kShopUrl[] = "http://www.example-shop.cn";

// The kind of the error Get raised, or nothing when it succeeded.
std::optional<THttpErrorKind> FailureOf(THttpClient& client, const std::string& url, std::string* body = nullptr) {
    try {
        std::string received = client.Get(url);
        if (body != nullptr) {
            *body = received;
        }
        return std::nullopt;
    } catch (const EHttpError& error) {
        return error.Kind();
    }
}

class HttpClientTest : public ::testing::Test {
  protected:
    // Serves /hop/<n> on kShop as a chain of n redirects ending at /end, each hop setting cookie h<n>.
    void ServeRedirectChain() {
        web_.Handle(kShop, sim::kAnyPath, [](const TSimRequest& request) {
            constexpr std::string_view kHop = "/hop/";
            if (request.path.starts_with(kHop)) {
                int left = std::stoi(request.path.substr(kHop.size()));
                std::string next = left > 1 ? "/hop/" + std::to_string(left - 1) : "/end";
                return TSimResponse::Redirect(next).AddHeader(
                    "Set-Cookie", "h" + std::to_string(left) + "=" + std::to_string(left) + "; Path=/");
            }
            return TSimResponse::Html("end of chain");
        });
    }

    TSimWeb web_;
    TProxyEnvironment proxy_{web_.BaseUrl()};
};

TEST_F(HttpClientTest, CookiesSetAlongARedirectChainAreSentBackAndKept) {
    web_.Serve("a.example.cn", "/login",
               TSimResponse::Redirect("http://b.example.cn/step").AddHeader("Set-Cookie", "session=abc; Path=/"));
    web_.Serve("b.example.cn", "/step",
               TSimResponse::Redirect("http://a.example.cn/home").AddHeader("Set-Cookie", "b=2; Path=/"));
    web_.Serve("a.example.cn", "/home", TSimResponse::Html("home").AddHeader("Set-Cookie", "lang=zh; Path=/"));
    web_.Serve("a.example.cn", "/next", TSimResponse::Html("next"));

    THttpClient client(HttpPreset::CaijiBaidu());
    EXPECT_EQ(client.Get("http://a.example.cn/login"), "home");
    auto home = web_.RequestsTo("a.example.cn", "/home");
    ASSERT_EQ(home.size(), 1u);
    EXPECT_EQ(home[0].Header("Cookie").value_or(""), "session=abc");
    EXPECT_EQ(client.RequestHeader("Cookie"), "session=abc");
    EXPECT_EQ(client.RequestHeader("cookie"), "session=abc");
    EXPECT_EQ(client.RequestHeader("X-Not-Sent"), "");

    // The store keeps every cookie of the chain for later requests to the matching host only.
    client.Get("http://a.example.cn/next");
    auto next = web_.RequestsTo("a.example.cn", "/next");
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].Header("Cookie").value_or(""), "session=abc; lang=zh");
    EXPECT_EQ(client.RequestHeader("Cookie"), "session=abc; lang=zh");

    // Cookies survive a disconnect and belong to the client: a second client has none.
    client.Disconnect();
    client.Get("http://a.example.cn/next");
    EXPECT_EQ(web_.RequestsTo("a.example.cn", "/next").back().Header("Cookie").value_or(""), "session=abc; lang=zh");
    THttpClient other(HttpPreset::CaijiBaidu());
    other.Get("http://a.example.cn/next");
    EXPECT_FALSE(web_.RequestsTo("a.example.cn", "/next").back().Header("Cookie").has_value());
    EXPECT_EQ(other.RequestHeader("Cookie"), "");
}

TEST_F(HttpClientTest, FifteenRedirectsAreFollowedAndTheSixteenthFails) {
    ServeRedirectChain();
    THttpClient client(HttpPreset::Caiji360());
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/hop/15"), "end of chain");
    EXPECT_EQ(web_.RequestsTo(kShop, "/end").size(), 1u);
    // The request log's wildcards: the 16 requests of the chain, and none to another host.
    EXPECT_EQ(web_.RequestsTo(kShop, sim::kAnyPath).size(), 16u);
    EXPECT_EQ(web_.RequestsTo(sim::kAnyHost, sim::kAnyPath).size(), web_.Requests().size());
    EXPECT_TRUE(web_.RequestsTo("elsewhere.example.cn", sim::kAnyPath).empty());
    // Every cookie of the 15 hops arrived at the end of the chain.
    std::string cookies = client.RequestHeader("Cookie");
    for (int hop = 1; hop <= 15; ++hop) {
        EXPECT_NE(cookies.find("h" + std::to_string(hop) + "=" + std::to_string(hop)), std::string::npos) << hop;
    }

    web_.ClearRequests();
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/hop/16"), THttpErrorKind::TooManyRedirects);
    EXPECT_TRUE(web_.RequestsTo(kShop, "/end").empty());
    EXPECT_EQ(web_.Requests().size(), 16u);
}

TEST_F(HttpClientTest, LastAddressIsTheUrlReachedAfterRedirects) {
    web_.Serve(kShop, "/start", TSimResponse::Redirect("http://other.example.cn:8080/final?x=1&y=2", 301));
    web_.Serve("other.example.cn", "/final", TSimResponse::Html("final"));
    THttpClient client(HttpPreset::OtherSiteThread());
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/start"), "final");
    EXPECT_EQ(client.LastHost(), "other.example.cn");
    EXPECT_EQ(client.LastUrl(), "http://other.example.cn:8080/final?x=1&y=2");

    // A relative redirect on the same host.
    web_.Serve(kShop, "/relative", TSimResponse::Redirect("/landing?from=relative"));
    web_.Serve(kShop, "/landing", TSimResponse::Html("landing"));
    client.Get(std::string(kShopUrl) + "/relative");
    EXPECT_EQ(client.LastUrl(), std::string(kShopUrl) + "/landing?from=relative");
    EXPECT_EQ(client.LastHost(), kShop);
}

TEST_F(HttpClientTest, FinalStatusOutsideSuccessIsAnErrorAndLeavesTheBufferAsItWas) {
    web_.Serve(kShop, "/gone", TSimResponse::Status(404, "<html>not here</html>"));
    web_.Serve(kShop, "/broken", TSimResponse::Status(500, "<html>oops</html>"));
    web_.Serve(kShop, "/empty-error", TSimResponse::Status(503));
    web_.Serve(kShop, "/no-content", TSimResponse::Status(204));
    THttpClient client(HttpPreset::CaijiSouGou());
    int begins = 0;
    client.SetProgress({[&](std::int64_t) { ++begins; }, nullptr, nullptr});

    std::string buffer = "kept";
    try {
        client.Get(std::string(kShopUrl) + "/gone", buffer);
        FAIL() << "404 accepted";
    } catch (const EHttpError& error) {
        EXPECT_EQ(error.Kind(), THttpErrorKind::Status);
        EXPECT_EQ(error.Status(), 404);
        EXPECT_NE(std::string(error.what()).find("404"), std::string::npos);
    }
    EXPECT_EQ(buffer, "kept");
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/broken"), THttpErrorKind::Status);
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/empty-error"), THttpErrorKind::Status);
    EXPECT_EQ(begins, 0);  // no progress for an error page

    // No owner has credentials: an authentication challenge is not answered, it ends the request.
    web_.Serve(kShop, "/private", TSimResponse::Status(401).AddHeader("WWW-Authenticate", "Basic realm=\"r\""));
    web_.ClearRequests();
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/private"), THttpErrorKind::Status);
    EXPECT_EQ(web_.Requests().size(), 1u);
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/no-content"), std::nullopt);
}

TEST_F(HttpClientTest, HttpsNeedsTls) {
    const std::string https = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/secure";
    web_.Serve(kShop, "/to-https", TSimResponse::Redirect(https));

    THttpClient plain(HttpPreset::Caiji360());
    EXPECT_EQ(FailureOf(plain, std::string(kShopUrl) + "/to-https"), THttpErrorKind::Protocol);
    EXPECT_EQ(FailureOf(plain, https), THttpErrorKind::Protocol);
    EXPECT_EQ(FailureOf(plain, "ftp://" + std::string(kShop) + "/file"), THttpErrorKind::Protocol);

    // With TLS the redirect is followed: the attempt reaches the (closed) port instead of being refused.
    THttpClient withTls(HttpPreset::CaijiBaidu());
    EXPECT_EQ(FailureOf(withTls, std::string(kShopUrl) + "/to-https"), THttpErrorKind::Connect);
    EXPECT_EQ(withTls.LastUrl(), https);
}

TEST_F(HttpClientTest, CustomHeadersGoWithEveryRequest) {
    web_.Serve(kShop, "/jump", TSimResponse::Redirect("http://www.elsewhere.cn/page"));
    web_.Serve("www.elsewhere.cn", "/page", TSimResponse::Html("page"));

    // The Baidu site thread's handed-over Cookie also reaches the hosts a redirect leads to.
    THttpClient site(HttpPreset::BaiduSiteThread());
    site.SetHeader("Cookie", "BAIDUID=42:FG=1");
    site.SetHeader("X-Trace", "one");
    site.Get(std::string(kShopUrl) + "/jump");
    auto requests = web_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const TSimRequest& request : requests) {
        SCOPED_TRACE(request.host);
        EXPECT_EQ(request.Header("Cookie").value_or(""), "BAIDUID=42:FG=1");
        EXPECT_EQ(request.HeaderCount("Cookie"), 1);
        EXPECT_EQ(request.Header("X-Trace").value_or(""), "one");
    }
    EXPECT_EQ(site.RequestHeader("Cookie"), "BAIDUID=42:FG=1");

    // Replaced, then removed by an empty value.
    web_.ClearRequests();
    site.SetHeader("x-trace", "two");
    site.Get("http://www.elsewhere.cn/page");
    site.SetHeader("X-Trace", "");
    site.Get("http://www.elsewhere.cn/page");
    requests = web_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("X-Trace").value_or(""), "two");
    EXPECT_EQ(requests[0].HeaderCount("X-Trace"), 1);
    EXPECT_FALSE(requests[1].Header("X-Trace").has_value());

    // The ICP lookup's Referer is a custom header too.
    web_.ClearRequests();
    THttpClient icp(HttpPreset::BeiAn());
    icp.SetHeader("Referer", "http://icp.example.cn/");
    icp.Get(std::string(kShopUrl) + "/jump");
    for (const TSimRequest& request : web_.Requests()) {
        EXPECT_EQ(request.Header("Referer").value_or(""), "http://icp.example.cn/");
    }

    // Header injection is refused.
    EXPECT_THROW(site.SetHeader("Cookie", "a=1\r\nX-Evil: 1"), std::invalid_argument);
    EXPECT_THROW(site.SetHeader("Bad Name", "x"), std::invalid_argument);
    EXPECT_THROW(site.SetHeader("", "x"), std::invalid_argument);
}

TEST_F(HttpClientTest, HandedOverCookieAndStoredCookiesShareOneHeader) {
    web_.Serve(kShop, "/set", TSimResponse::Html("set").AddHeader("Set-Cookie", "shop=1; Path=/"));
    web_.Serve(kShop, "/read", TSimResponse::Html("read"));
    THttpClient site(HttpPreset::BaiduSiteThread());
    site.SetHeader("Cookie", "BAIDUID=42");
    site.Get(std::string(kShopUrl) + "/set");
    site.Get(std::string(kShopUrl) + "/read");
    auto read = web_.RequestsTo(kShop, "/read");
    ASSERT_EQ(read.size(), 1u);
    EXPECT_EQ(read[0].HeaderCount("Cookie"), 1);
    std::string cookie = read[0].Header("Cookie").value_or("");
    EXPECT_NE(cookie.find("BAIDUID=42"), std::string::npos) << cookie;
    EXPECT_NE(cookie.find("shop=1"), std::string::npos) << cookie;
}

TEST_F(HttpClientTest, BodiesArriveByteForByteWhateverTheFraming) {
    const std::string gbk = Utf8ToGbk("广州电子公司 联系电话");
    std::string binary("a\0b\r\nc\xff", 7);
    TSimResponse chunked = TSimResponse::Html(gbk, "gbk");
    chunked.framing = TBodyFraming::Chunked;
    chunked.chunkSize = 3;
    TSimResponse closeDelimited = TSimResponse::Html("until close");
    closeDelimited.framing = TBodyFraming::CloseDelimited;
    web_.Serve(kShop, "/length", TSimResponse::Html(binary));
    web_.Serve(kShop, "/chunked", chunked);
    web_.Serve(kShop, "/close", closeDelimited);

    THttpClient client(HttpPreset::DownIdHttp());
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/length"), binary);
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/chunked"), gbk);
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/close"), "until close");

    // Get(url, buffer) appends: callers empty the buffer themselves.
    std::string buffer = "prefix:";
    client.Get(std::string(kShopUrl) + "/close", buffer);
    EXPECT_EQ(buffer, "prefix:until close");
}

TEST_F(HttpClientTest, ASecondGetReusesTheConnectionAndDisconnectOpensANewOne) {
    web_.Serve(kShop, "/page", TSimResponse::Html("page").AddHeader("Set-Cookie", "id=7"));
    THttpClient client(HttpPreset::CaijiSouGou());
    client.Get(std::string(kShopUrl) + "/page");
    client.Get(std::string(kShopUrl) + "/page");
    client.Disconnect();
    client.Get(std::string(kShopUrl) + "/page");
    auto requests = web_.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[1].connectionId, requests[0].connectionId);
    EXPECT_EQ(requests[1].indexOnConnection, 1);
    EXPECT_NE(requests[2].connectionId, requests[1].connectionId);
    EXPECT_EQ(requests[2].Header("Cookie").value_or(""), "id=7");
}

TEST_F(HttpClientTest, ProgressEventsReportTheAnnouncedTotalAndTheBytesSoFar) {
    const std::string body(200000, 'x');
    TSimResponse chunked = TSimResponse::Html(body);
    chunked.framing = TBodyFraming::Chunked;
    chunked.chunkSize = 50000;
    web_.Serve(kShop, "/announced", TSimResponse::Html(body));
    web_.Serve(kShop, "/chunked", chunked);
    web_.Serve(kShop, "/moved", TSimResponse::Redirect("/announced"));
    web_.Serve(kShop, "/empty", TSimResponse::Html(""));

    THttpClient client(HttpPreset::DownIdHttp());
    std::vector<std::string> events;
    std::vector<std::int64_t> values;
    client.SetProgress({[&](std::int64_t total) {
                            events.push_back("begin");
                            values.push_back(total);
                        },
                        [&](std::int64_t received) {
                            if (events.back() != "progress") {
                                events.push_back("progress");
                            }
                            values.push_back(received);
                        },
                        [&] { events.push_back("end"); }});

    auto check = [&](const std::string& path, std::int64_t announced) {
        SCOPED_TRACE(path);
        events.clear();
        values.clear();
        EXPECT_EQ(client.Get(std::string(kShopUrl) + path), body);
        EXPECT_EQ(events, (std::vector<std::string>{"begin", "progress", "end"}));
        ASSERT_GE(values.size(), 2u);
        EXPECT_EQ(values.front(), announced);
        EXPECT_TRUE(std::is_sorted(values.begin() + 1, values.end()));
        EXPECT_EQ(values.back(), static_cast<std::int64_t>(body.size()));
    };
    check("/announced", static_cast<std::int64_t>(body.size()));
    check("/chunked", kUnknownLength);
    check("/moved", static_cast<std::int64_t>(body.size()));  // the final answer's length, not the redirect's

    // An empty body still brings begin and end.
    events.clear();
    values.clear();
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/empty"), "");
    EXPECT_EQ(events, (std::vector<std::string>{"begin", "end"}));
    EXPECT_EQ(values, (std::vector<std::int64_t>{0}));
}

TEST_F(HttpClientTest, BodiesOverThirtyTwoMebibytesFail) {
    const std::string limit(kMaxBodyBytes, 'z');
    const std::string over = limit + "!";
    TSimResponse chunkedOver = TSimResponse::Html(over);
    chunkedOver.framing = TBodyFraming::Chunked;
    chunkedOver.chunkSize = 1 << 20;
    TSimResponse chunkedLimit = chunkedOver;
    chunkedLimit.body = limit;
    web_.Serve(kShop, "/announced-over", TSimResponse::Html(over));
    web_.Serve(kShop, "/chunked-over", chunkedOver);
    web_.Serve(kShop, "/chunked-limit", chunkedLimit);

    THttpClient client(HttpPreset::DownIdHttp());
    std::string buffer;
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/announced-over"), THttpErrorKind::TooLarge);
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/chunked-over", &buffer), THttpErrorKind::TooLarge);
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/chunked-limit", &buffer), std::nullopt);
    EXPECT_EQ(buffer.size(), kMaxBodyBytes);
}

// Page bodies in flight share one process-wide budget: a body that would pass it fails as an oversized one, small
// bodies keep the budget's last part, a fetched body keeps its share while its caller holds it, and the update
// clients stay outside.
TEST_F(HttpClientTest, PageBodiesInFlightShareOneBudget) {
    constexpr std::size_t kMiB = std::size_t{1} << 20;
    struct TRestoreBudget {
        TPageBudget before;
        ~TRestoreBudget() { SetPageBudget(before); }
    } restore{SetPageBudget({8 * kMiB, kMiB, 2 * kMiB})};
    ASSERT_EQ(PageBytesInFlight(), 0u);

    // 5 MiB, then nothing until the test lets the body end.
    std::promise<void> letEnd;
    std::shared_future<void> ended = letEnd.get_future().share();
    struct TLetEnd {
        std::promise<void>& promise;
        bool done = false;
        void operator()() {
            if (!done)
                promise.set_value();
            done = true;
        }
        ~TLetEnd() { (*this)(); }
    } release{letEnd};
    TSimResponse held = TSimResponse::Html({});
    held.framing = TBodyFraming::Chunked;
    held.bodyPieces = [ended](std::size_t index, std::string& piece) {
        if (index > 0) {
            ended.wait();
            return false;
        }
        piece.assign(5 * kMiB, 'h');
        return true;
    };
    web_.Serve(kShop, "/held", held);
    web_.Serve(kShop, "/large", TSimResponse::Html(std::string(2 * kMiB, 'L')));
    web_.Serve(kShop, "/small", TSimResponse::Html(std::string(kMiB / 2, 's')));

    THttpSettings holderSettings = HttpPreset::OtherSiteThread();
    holderSettings.readTimeoutMs = 0;
    THttpClient holderClient(holderSettings);
    std::optional<THttpErrorKind> holderFailure = THttpErrorKind::Other;
    std::string holderBody;
    std::thread holder([&] { holderFailure = FailureOf(holderClient, std::string(kShopUrl) + "/held", &holderBody); });
    const auto start = TClock::now();
    while (PageBytesInFlight() < 5 * kMiB && MillisecondsSince(start) < kHangGuardMs)
        std::this_thread::sleep_for(5ms);
    EXPECT_EQ(PageBytesInFlight(), 5 * kMiB);

    THttpClient page(HttpPreset::OtherSiteThread());
    std::string body = "kept";
    EXPECT_EQ(FailureOf(page, std::string(kShopUrl) + "/large", &body), THttpErrorKind::TooLarge);
    EXPECT_EQ(body, "kept");
    EXPECT_EQ(FailureOf(page, std::string(kShopUrl) + "/small", &body), std::nullopt);
    EXPECT_EQ(body.size(), kMiB / 2);
    THttpClient download(HttpPreset::DownIdHttp());
    EXPECT_EQ(FailureOf(download, std::string(kShopUrl) + "/large", &body), std::nullopt);
    EXPECT_EQ(body.size(), 2 * kMiB);
    // A fetched body keeps its share until its caller lets it go, or the client's next Get starts.
    EXPECT_EQ(PageBytesInFlight(), 5 * kMiB + kMiB / 2);
    TPageLease lease = page.TakePageLease();
    EXPECT_EQ(lease.Bytes(), kMiB / 2);
    lease.Release();
    EXPECT_EQ(PageBytesInFlight(), 5 * kMiB);

    release();
    holder.join();
    EXPECT_EQ(holderFailure, std::nullopt);
    EXPECT_EQ(holderBody.size(), 5 * kMiB);
    EXPECT_EQ(PageBytesInFlight(), 5 * kMiB);
    EXPECT_EQ(FailureOf(holderClient, std::string(kShopUrl) + "/small", &body), std::nullopt);
    EXPECT_EQ(PageBytesInFlight(), kMiB / 2);
    EXPECT_EQ(FailureOf(page, std::string(kShopUrl) + "/large", &body), std::nullopt);
    EXPECT_EQ(body.size(), 2 * kMiB);
    EXPECT_EQ(PageBytesInFlight(), 2 * kMiB + kMiB / 2);
    // A failed Get gives back what it had and what the client held.
    EXPECT_EQ(FailureOf(page, std::string(kShopUrl) + "/missing", &body), THttpErrorKind::Status);
    EXPECT_EQ(PageBytesInFlight(), kMiB / 2);
}

TEST_F(HttpClientTest, ReadLimitCountsTheWaitForEachByteNotTheWholeBody) {
    // 20 bytes, one every 100 ms: 2 s in all, never a second without a byte.
    TSimResponse drip = TSimResponse::Html("slow but sure, 20 b.");
    drip.dripIntervalMs = 100;
    TSimResponse pause = TSimResponse::Html("pause");
    pause.dripIntervalMs = 3000;
    web_.Serve(kShop, "/drip", drip);
    web_.Serve(kShop, "/pause", pause);

    THttpSettings settings;
    settings.readTimeoutMs = 1000;
    THttpClient client(settings);
    auto start = TClock::now();
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/drip"), "slow but sure, 20 b.");
    EXPECT_GE(MillisecondsSince(start), 2000);
    start = TClock::now();
    EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/pause"), THttpErrorKind::Timeout);
    EXPECT_GE(MillisecondsSince(start), 1000);

    // The overall ceiling (libcurl's own timer) ends a transfer that never stalls for long.
    settings.readTimeoutMs = 0;
    settings.overallTimeoutMs = 500;
    THttpClient ceiling(settings);
    EXPECT_EQ(FailureOf(ceiling, std::string(kShopUrl) + "/drip"), THttpErrorKind::Timeout);
}

TEST_F(HttpClientTest, ConnectionFailuresAreErrors) {
    TProxyEnvironment direct("");
    THttpClient client(HttpPreset::Caiji360());
    EXPECT_EQ(FailureOf(client, "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/"), THttpErrorKind::Connect);
    try {
        client.Get("http://127.0.0.1:" + std::to_string(ClosedPort()) + "/");
    } catch (const EHttpError& error) {
        EXPECT_NE(error.CurlCode(), 0);
        EXPECT_EQ(error.Status(), 0);
    }
    EXPECT_EQ(FailureOf(client, "http://host name.invalid/"), THttpErrorKind::Other);
}

TEST_F(HttpClientTest, ProxyAndNoProxyFromTheEnvironmentAreHonoured) {
    web_.Serve(sim::kAnyHost, "/where", TSimResponse::Html("here"));
    const std::string direct = web_.BaseUrl() + "/where";
    {
        // Through a dead proxy nothing arrives; no_proxy exempts the loopback address.
        TProxyEnvironment deadProxy("http://127.0.0.1:" + std::to_string(ClosedPort()), "127.0.0.1");
        THttpClient client(HttpPreset::Caiji360());
        EXPECT_EQ(client.Get(direct), "here");
        EXPECT_EQ(FailureOf(client, std::string(kShopUrl) + "/where"), THttpErrorKind::Connect);
    }
    THttpClient client(HttpPreset::Caiji360());
    EXPECT_EQ(client.Get(std::string(kShopUrl) + "/where"), "here");
    auto requests = web_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_FALSE(requests[0].viaProxy);
    EXPECT_EQ(requests[0].host, "127.0.0.1");
    EXPECT_TRUE(requests[1].viaProxy);
    EXPECT_EQ(requests[1].host, kShop);
    EXPECT_EQ(requests[1].target, std::string(kShopUrl) + "/where");
}

// One row per owner: what the server sees, and how redirects, cookies and https are handled.
struct TPresetRow {
    const char* owner;
    THttpSettings settings;
    std::string_view userAgent;
    int authRetries;
    bool followsRedirects;
    bool tls;
};

std::vector<TPresetRow> FullClientRows() {
    return {
        {"TCaijiBaidu", HttpPreset::CaijiBaidu(), kFirefoxUserAgent, 20, true, true},
        {"TCaiji360", HttpPreset::Caiji360(), kFirefoxUserAgent, 5, true, false},
        {"TCaijiSouGou", HttpPreset::CaijiSouGou(), kFirefoxUserAgent, 5, true, false},
        {"Baidu site thread", HttpPreset::BaiduSiteThread(), kFirefoxUserAgent, 20, true, true},
        {"360/Sogou site thread", HttpPreset::OtherSiteThread(), kFirefoxUserAgent, 5, true, false},
        {"TBeiAn", HttpPreset::BeiAn(), kFirefoxUserAgent, 3, true, false},
        {"TUpdateThread", HttpPreset::UpdateThread(), kUpdateUserAgent, 3, false, false},
        {"TDownIdHttp", HttpPreset::DownIdHttp(), kUpdateUserAgent, 3, true, false},
    };
}

TEST_F(HttpClientTest, EveryOwnerPresetBehavesAsItsRowSays) {
    web_.Serve(kShop, "/plain", TSimResponse::Html("plain"));
    web_.Serve(kShop, "/cookie", TSimResponse::Html("cookie").AddHeader("Set-Cookie", "row=1; Path=/"));
    web_.Serve(kShop, "/moved", TSimResponse::Redirect("/plain"));
    const std::string https = "https://127.0.0.1:" + std::to_string(ClosedPort()) + "/";

    for (const TPresetRow& row : FullClientRows()) {
        SCOPED_TRACE(row.owner);
        web_.ClearRequests();
        THttpClient client(row.settings);
        EXPECT_EQ(client.Settings().authRetries, row.authRetries);

        client.Get(std::string(kShopUrl) + "/cookie");
        client.Get(std::string(kShopUrl) + "/plain");
        auto requests = web_.Requests();
        ASSERT_EQ(requests.size(), 2u);
        for (const TSimRequest& request : requests) {
            EXPECT_EQ(request.version, "HTTP/1.1");
            EXPECT_EQ(request.Header("User-Agent").value_or(""), row.userAgent);
            EXPECT_EQ(request.Header("Accept").value_or(""), kFullClientAccept);
            EXPECT_EQ(request.HeaderCount("Accept"), 1);
            EXPECT_FALSE(request.Header("Accept-Encoding").has_value());
        }
        EXPECT_EQ(requests[1].Header("Cookie").value_or(""), "row=1");

        std::string body;
        auto redirected = FailureOf(client, std::string(kShopUrl) + "/moved", &body);
        if (row.followsRedirects) {
            EXPECT_EQ(redirected, std::nullopt);
            EXPECT_EQ(body, "plain");
        } else {
            EXPECT_EQ(redirected, THttpErrorKind::Status);
        }
        EXPECT_EQ(FailureOf(client, https), row.tls ? THttpErrorKind::Connect : THttpErrorKind::Protocol);
    }
}

// A loopback listener whose accept queue is full: a further connect never completes (the SYN is dropped).
class TUnansweredListener {
  public:
    TUnansweredListener() {
        listenFd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof address;
        bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listenFd_, 0);
        getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        for (int& filler : fillers_) {
            filler = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            connect(filler, reinterpret_cast<sockaddr*>(&address), sizeof address);
        }
    }
    ~TUnansweredListener() {
        for (int filler : fillers_) {
            close(filler);
        }
        close(listenFd_);
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(port_) + "/"; }

  private:
    int listenFd_ = -1;
    int fillers_[4] = {-1, -1, -1, -1};
    std::uint16_t port_ = 0;
};

// Time limits of all rows in one go (the stalls run side by side): the collectors, site threads and the ICP
// lookup give up after 5000 ms without a byte, and after 5000 ms of a connect that does not complete; the version
// check and the download have no limit of their own (their stalls end when the server stops).
TEST_F(HttpClientTest, EveryOwnerPresetHasItsTimeLimits) {
    TSimWeb stalling;
    TSimResponse stall = TSimResponse::Html("never");
    stall.delayAfterHeadersMs = sim::kStallForever;
    stalling.Serve(sim::kAnyHost, "/stall", stall);
    TUnansweredListener unanswered;
    TProxyEnvironment viaStalling(stalling.BaseUrl(), "127.0.0.1");

    struct TOutcome {
        std::optional<THttpErrorKind> failure;
        long long elapsedMs = 0;
    };
    std::vector<TPresetRow> rows = FullClientRows();
    std::vector<TOutcome> reads(rows.size());
    std::vector<TOutcome> connects(rows.size());
    std::vector<std::thread> threads;
    std::atomic<std::size_t> ended{0};
    const auto start = TClock::now();
    auto run = [&start, &ended](const THttpSettings& settings, const std::string& url, TOutcome& outcome) {
        THttpClient client(settings);
        outcome.failure = FailureOf(client, url);
        outcome.elapsedMs = MillisecondsSince(start);
        ++ended;
    };
    std::size_t limitedRuns = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        threads.emplace_back(run, std::cref(rows[i].settings), std::string(kShopUrl) + "/stall", std::ref(reads[i]));
        if (rows[i].settings.connectTimeoutMs > 0) {
            threads.emplace_back(run, std::cref(rows[i].settings), unanswered.Url(), std::ref(connects[i]));
            limitedRuns += 2;
        }
    }
    // The stalls of the rows without limits end only when the server stops. Stop it once every limited run has
    // ended on its own and well past the 5000 ms limits: a fixed moment would cut a limited read short (and
    // turn its time-out into a broken connection) whenever a loaded machine started the requests late.
    constexpr auto kObserve = 6500ms;
    while ((ended < limitedRuns || TClock::now() < start + kObserve) && MillisecondsSince(start) < kHangGuardMs) {
        std::this_thread::sleep_for(10ms);
    }
    const long long stoppedAtMs = MillisecondsSince(start);
    stalling.Stop();
    for (auto& thread : threads) {
        thread.join();
    }
    for (std::size_t i = 0; i < rows.size(); ++i) {
        SCOPED_TRACE(rows[i].owner);
        ASSERT_TRUE(reads[i].failure.has_value());
        const bool limited =
            rows[i].owner != std::string("TUpdateThread") && rows[i].owner != std::string("TDownIdHttp");
        if (limited) {
            EXPECT_EQ(*reads[i].failure, THttpErrorKind::Timeout);
            EXPECT_GE(reads[i].elapsedMs, kSiteTimeLimitMs);
            EXPECT_EQ(connects[i].failure, THttpErrorKind::Timeout);
            EXPECT_GE(connects[i].elapsedMs, kSiteTimeLimitMs);
            EXPECT_LT(connects[i].elapsedMs, kHangGuardMs);  // without a connect limit: the 120 s ceiling
        } else {
            EXPECT_NE(*reads[i].failure, THttpErrorKind::Timeout);
            EXPECT_GE(reads[i].elapsedMs, stoppedAtMs);
            EXPECT_GE(reads[i].elapsedMs, std::chrono::milliseconds(kObserve).count());
            EXPECT_EQ(rows[i].settings.connectTimeoutMs, 0);
        }
    }
}

}  // namespace
}  // namespace vexo
