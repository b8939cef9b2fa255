// The simple client against the loopback simulated web: request shape, any status as an answer, no redirects,
// no cookies, fresh connections, failures leaving the caller's list or stream alone, time limits.
#include "net/SimpleHttp.h"

#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "net/HttpClient.h"
#include "net/PageText.h"
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
using TLines = std::vector<std::string>;

constexpr char kShop[] = "www.example-shop.cn";
const std::string kShopUrl = "http://www.example-shop.cn";

class SimpleHttpTest : public ::testing::Test {
  protected:
    TSimWeb web_;
    TProxyEnvironment proxy_{web_.BaseUrl()};
};

TEST_F(SimpleHttpTest, RequestsAreHttp10WithoutAcceptCookiesOrReusedConnections) {
    web_.Serve(kShop, "/contact", TSimResponse::Html("tel").AddHeader("Set-Cookie", "visit=1; Path=/"));
    web_.Serve(kShop, "/config", TSimResponse::Html("cfg").AddHeader("Set-Cookie", "visit=1; Path=/"));
    TLines lines;
    ASSERT_TRUE(SimpleGet(kShopUrl + "/contact", lines));
    ASSERT_TRUE(SimpleGet(kShopUrl + "/contact", lines));
    std::string stream;
    ASSERT_TRUE(SimpleGetStream(kShopUrl + "/config", stream));
    ASSERT_TRUE(SimpleGetStream(kShopUrl + "/config", stream));

    auto requests = web_.Requests();
    ASSERT_EQ(requests.size(), 4u);
    for (std::size_t i = 0; i < requests.size(); ++i) {
        const TSimRequest& request = requests[i];
        SCOPED_TRACE(request.path + " #" + std::to_string(i));
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.version, "HTTP/1.0");
        EXPECT_EQ(request.host, kShop);
        EXPECT_TRUE(request.Header("Host").has_value());
        EXPECT_FALSE(request.Header("Accept").has_value());
        EXPECT_FALSE(request.Header("Accept-Encoding").has_value());
        EXPECT_FALSE(request.Header("Cookie").has_value());
        EXPECT_EQ(request.indexOnConnection, 0);
        EXPECT_EQ(request.Header("User-Agent").value_or(""),
                  request.path == "/contact" ? kFirefoxUserAgent : kRemoteConfigUserAgent);
        if (i > 0) {
            EXPECT_NE(request.connectionId, requests[i - 1].connectionId);
        }
    }
}

TEST_F(SimpleHttpTest, AnyStatusIsAnAnswerAndRedirectsAreNotFollowed) {
    web_.Serve(kShop, "/missing", TSimResponse::Status(404, "<h1>Not here</h1>\r\nsorry"));
    web_.Serve(kShop, "/error", TSimResponse::Status(500, "broken"));
    web_.Serve(kShop, "/moved", TSimResponse::Redirect(kShopUrl + "/target"));
    web_.Serve(kShop, "/target", TSimResponse::Html("target"));

    TLines lines{"old"};
    ASSERT_TRUE(SimpleGet(kShopUrl + "/missing", lines));
    EXPECT_EQ(lines, (TLines{"<h1>Not here</h1>", "sorry"}));
    std::string stream;
    ASSERT_TRUE(SimpleGetStream(kShopUrl + "/error", stream));
    EXPECT_EQ(stream, "broken");

    ASSERT_TRUE(SimpleGet(kShopUrl + "/moved", lines));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("Moved to"), std::string::npos);
    ASSERT_TRUE(SimpleGetStream(kShopUrl + "/moved", stream));
    EXPECT_EQ(stream, TSimResponse::Redirect(kShopUrl + "/target").body);
    EXPECT_TRUE(web_.RequestsTo(kShop, "/target").empty());
}

TEST_F(SimpleHttpTest, BodiesAreReadWhateverTheFramingAndSplitIntoLines) {
    TSimResponse closeDelimited = TSimResponse::Html("one\r\ntwo\nthree\rfour\n");
    closeDelimited.framing = TBodyFraming::CloseDelimited;
    TSimResponse chunked = TSimResponse::Html("a\nb");
    chunked.framing = TBodyFraming::Chunked;
    chunked.chunkSize = 1;
    web_.Serve(kShop, "/close", closeDelimited);
    web_.Serve(kShop, "/chunked", chunked);
    web_.Serve(kShop, "/empty", TSimResponse::Html(""));
    web_.Serve(kShop, "/nul", TSimResponse::Html(std::string("before\0after\nmore", 17)));

    TLines lines;
    ASSERT_TRUE(SimpleGet(kShopUrl + "/close", lines));
    EXPECT_EQ(lines, (TLines{"one", "two", "three", "four"}));
    ASSERT_TRUE(SimpleGet(kShopUrl + "/chunked", lines));
    EXPECT_EQ(lines, (TLines{"a", "b"}));
    ASSERT_TRUE(SimpleGet(kShopUrl + "/nul", lines));
    EXPECT_EQ(lines, (TLines{"before"}));
    ASSERT_TRUE(SimpleGet(kShopUrl + "/empty", lines));
    EXPECT_TRUE(lines.empty());
}

// The page text comes straight from the body, and is what decoding the lines joined with CR LF gives: line breaks
// of every style, a NUL, white space at both ends, GBK bytes, and a body of a million empty lines (whose list of
// lines alone would take tens of megabytes).
TEST_F(SimpleHttpTest, ThePageTextIsTheDecodedLinesJoinedWithCrLf) {
    const std::vector<std::string> bodies{
        "one\r\ntwo\nthree\rfour\n",
        " \r\n\t<p>a</p>\r\r\n\n\rb  \n\n",
        std::string("before\r\0after\nmore", 19),
        Utf8ToGbk("<title>广州某某</title>\r\n电话\r020-87654321\n") + "\xFF\n",
        "",
        std::string(1000000, '\n') + "x" + std::string(1000000, '\r'),
    };
    for (std::size_t i = 0; i < bodies.size(); ++i)
        web_.Serve(kShop, "/page" + std::to_string(i), TSimResponse::Html(bodies[i]));
    for (std::size_t i = 0; i < bodies.size(); ++i) {
        const std::string url = kShopUrl + "/page" + std::to_string(i);
        TLines lines;
        ASSERT_TRUE(SimpleGet(url, lines));
        std::string joined;
        for (const std::string& line : lines)
            joined += line + "\r\n";
        std::string text = "previous";
        TPageLease lease;
        ASSERT_TRUE(SimpleGetText(url, text, lease));
        EXPECT_EQ(text, DecodePageText(joined, true)) << i;
        // The body's share of the page budget stays with the text.
        EXPECT_EQ(lease.Bytes(), bodies[i].size()) << i;
        EXPECT_EQ(PageBytesInFlight(), bodies[i].size()) << i;
    }
    EXPECT_EQ(PageBytesInFlight(), 0u);
    std::string text = "kept";
    TPageLease lease;
    web_.Serve(kShop, "/huge", TSimResponse::Html(std::string(kMaxBodyBytes + 1, 'h')));
    EXPECT_FALSE(SimpleGetText(kShopUrl + "/huge", text, lease));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(lease.Bytes(), 0u);
    EXPECT_EQ(PageBytesInFlight(), 0u);
}

TEST_F(SimpleHttpTest, TheStreamHoldsExactlyTheBody) {
    const std::string body = Utf8ToGbk("<config>配置</config>") + std::string("\0\xff\r\n", 4);
    web_.Serve(kShop, "/cfg", TSimResponse::Html(body, "gbk"));
    std::string stream = "previous content that is longer than the body";
    ASSERT_TRUE(SimpleGetStream(kShopUrl + "/cfg", stream));
    EXPECT_EQ(stream, body);
}

TEST_F(SimpleHttpTest, FailuresReturnFalseAndLeaveTheCallersDataAlone) {
    const TLines before{"kept", "lines"};
    TLines lines = before;
    std::string stream = "kept stream";

    // https is never used, not even attempted.
    EXPECT_FALSE(SimpleGet("https://" + std::string(kShop) + "/", lines));
    EXPECT_FALSE(SimpleGetStream("https://" + std::string(kShop) + "/", stream));
    EXPECT_TRUE(web_.Requests().empty());

    // Over the size limit.
    web_.Serve(kShop, "/huge", TSimResponse::Html(std::string(kMaxBodyBytes + 1, 'h')));
    EXPECT_FALSE(SimpleGet(kShopUrl + "/huge", lines));
    EXPECT_FALSE(SimpleGetStream(kShopUrl + "/huge", stream));

    // Refused connection.
    TProxyEnvironment direct("");
    const std::string refused = "http://127.0.0.1:" + std::to_string(ClosedPort()) + "/";
    EXPECT_FALSE(SimpleGet(refused, lines));
    EXPECT_FALSE(SimpleGetStream(refused, stream));

    EXPECT_EQ(lines, before);
    EXPECT_EQ(stream, "kept stream");
}

// The configuration fetch gives up after 5000 ms without a byte; the contact-page fetch waits up to 90000 ms, so
// it is still waiting when the stall ends by stopping the server.
TEST_F(SimpleHttpTest, TimeLimitsEndStalledAnswers) {
    TSimWeb stalling;
    TSimResponse stall = TSimResponse::Html("never");
    stall.delayAfterHeadersMs = sim::kStallForever;
    stalling.Serve(sim::kAnyHost, "/stall", stall);
    TProxyEnvironment viaStalling(stalling.BaseUrl());

    constexpr int kConfigLimitMs = 5000;
    constexpr auto kObserve = 6500ms;
    const auto start = TClock::now();
    std::string stream = "untouched";
    bool streamResult = true;
    long long streamMs = 0;
    TLines lines{"untouched"};
    bool linesResult = true;
    long long linesMs = 0;
    std::thread config([&] {
        streamResult = SimpleGetStream(kShopUrl + "/stall", stream);
        streamMs = MillisecondsSince(start);
    });
    std::thread contact([&] {
        linesResult = SimpleGet(kShopUrl + "/stall", lines);
        linesMs = MillisecondsSince(start);
    });
    config.join();
    std::this_thread::sleep_until(start + kObserve);
    stalling.Stop();
    contact.join();

    EXPECT_FALSE(streamResult);
    EXPECT_EQ(stream, "untouched");
    EXPECT_GE(streamMs, kConfigLimitMs);
    EXPECT_LT(streamMs, 30000);
    EXPECT_FALSE(linesResult);
    EXPECT_EQ(lines, TLines{"untouched"});
    EXPECT_GE(linesMs, std::chrono::milliseconds(kObserve).count());
}

}  // namespace
}  // namespace vexo
