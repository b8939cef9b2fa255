// ICP filing lookup against the loopback simulated web: the domain asked for, the request, the reading of the
// answer's rows, the length rule, undecodable answers, failed requests and the unconfigured service.
#include "engine/GetBeiAn.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Watchdog.h"
#include "sim/SimWeb.h"
#include "support/Loopback.h"
#include "text/Gbk.h"

namespace vexo {
namespace {

using sim::TProxyEnvironment;
using sim::TSimResponse;
using sim::TSimWeb;

constexpr char kService[] = "icp.example.cn";

// One table row of a filing answer: label cell, value cell.
std::string Row(const std::string& label, const std::string& value) {
    return "<tr><th>" + label + "</th><td>" + value + "</td></tr>\n";
}

std::string FilingPage(const std::string& rows) {
    return "<html><head><meta charset=\"utf-8\"></head><body><table>\n" + rows + "</table></body></html>";
}

class BeiAnTest : public ::testing::Test {
  protected:
    // Serves `page` as the answer to every lookup and asks for the filing name of a site.
    std::string LookUp(const std::string& page, const std::string& site = "http://www.shop.com.cn/") {
        web_.Serve(kService, sim::kAnyPath, TSimResponse::Html(page));
        return beiAn_.FindFilingName(site);
    }

    test::TWatchdog watchdog_{test::kTestWatchdog};
    TSimWeb web_;
    TProxyEnvironment proxy_{web_.BaseUrl()};
    TBeiAn beiAn_{kService};
};

TEST(BeiAnDomainTest, DomainIsTheLabelBeforeTheFirstListedLabelAfterTheFirstAndEverythingAfterIt) {
    struct TCase {
        const char* address;
        const char* domain;
    };
    const TCase cases[] = {
        {"http://a.shop.com.cn/about.html", "shop.com.cn"},
        {"http://shop.cn/", "shop.cn"},
        {"HTTP://WWW.SHOP.NET/INDEX.HTML", "shop.net"},
        {"http://com.shop.cn/", "shop.cn"},                  // "com" in the first position does not qualify
        {"http://a.shop.co.uk/", ""},                        // no listed label
        {"http://a.shop.com:8080/", ""},                     // the last label is "com:8080"
        {"https://a.shop.com/", ""},                         // no "http://": the first piece is "https:"
        {"  www.shop.org.cn/contact.html ", "shop.org.cn"},  // without a scheme: trimmed
        {"http://www.shop.info", "shop.info"},
        {"http://www.a.b.gov.cn/x", "b.gov.cn"},
        {"http://shop.com /x", "shop.com"},  // a blank ends the host part too
        {"", ""},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(TBeiAn::DomainOf(c.address), c.domain) << c.address;
    }
}

TEST_F(BeiAnTest, RequestAsksForTheDomainWithTheServiceRootAsRefererAndTheBrowserAgent) {
    LookUp(FilingPage(""), "http://a.Shop.com.cn/about.html");
    LookUp(FilingPage(""), "http://a.shop.co.uk/");
    const auto requests = web_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].host, kService);
    EXPECT_EQ(requests[0].pathAndQuery, "/yuming/shop.com.cn/");
    EXPECT_EQ(requests[0].Header("Referer"), "http://icp.example.cn/");
    EXPECT_EQ(requests[0].Header("User-Agent"), std::string(kFirefoxUserAgent));
    // No listed label: still asked, with the empty domain.
    EXPECT_EQ(requests[1].pathAndQuery, "/yuming//");
    EXPECT_EQ(requests[1].Header("Referer"), "http://icp.example.cn/");
}

TEST_F(BeiAnTest, DomainStaysOneSegmentOfTheRequestPath) {
    LookUp(FilingPage(""), "http://x.com.evil?q=1#top");
    LookUp(FilingPage(""), "http://x.com.%2e%2e");
    const auto requests = web_.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].pathAndQuery, "/yuming/x.com.evil%3Fq=1%23top/");
    EXPECT_EQ(requests[1].pathAndQuery, "/yuming/x.com.%252e%252e/");
}

TEST_F(BeiAnTest, AddressWithoutHostPartAsksNothing) {
    EXPECT_EQ(LookUp(FilingPage(Row("主办单位", "某某网络科技有限公司")), "   "), "");
    EXPECT_EQ(LookUp(FilingPage(Row("主办单位", "某某网络科技有限公司")), "http:///shop.com"), "");
    EXPECT_TRUE(web_.Requests().empty());
}

TEST_F(BeiAnTest, SponsorLongerThanTenGbkBytesWinsElseTheSiteNameElseNothing) {
    struct TCase {
        std::string rows;
        std::string name;
    };
    const TCase cases[] = {
        // A usable sponsor wins over the site name, wherever the rows stand before the site name.
        {Row("主办单位", "某某有限公司") + Row("网站名称", "某某电子商务平台网站"), "某某有限公司"},
        {Row("备案号", "粤ICP备12345678号") + Row("主办单位名称", " 某某有限公司 ") + Row("网站名称", "站"),
         "某某有限公司"},
        // A sponsor of five characters or fewer is too short; then a long enough site name is used.
        {Row("主办单位", "个人") + Row("网站名称", "某某电子商务平台"), "某某电子商务平台"},
        {Row("主办单位", "某某公司") + Row("网站名称", "某某网站"), ""},
        // Ten GBK bytes are not enough, eleven are (ASCII counts one byte).
        {Row("主办单位", "某某某公司"), ""},
        {Row("主办单位", "某某某公司A"), "某某某公司A"},
        {Row("主办单位", "ABCDEFGHIJ"), ""},
        // A sponsor row after the first site-name row is not read.
        {Row("网站名称", "短名") + Row("主办单位", "某某有限公司"), ""},
        {Row("网站名称", "某某电子商务平台") + Row("主办单位", "某某有限公司"), "某某电子商务平台"},
        // Rows with neither label, or no rows at all.
        {Row("备案号", "粤ICP备12345678号-1号网站"), ""},
        {"<p>主办单位：某某有限公司</p>", ""},
        // The value is what stands between the row's first <td> and the next </td>.
        {"<tr><td>主办单位</td><td>某某有限公司</td></tr>", ""},
        {"<tr><td>某某科技有限公司</td><th>主办单位</th></tr>", "某某科技有限公司"},
        {"<TR><th>主办单位</th><td>某某有限公司</td></TR>", "某某有限公司"},
    };
    for (const TCase& c : cases) {
        EXPECT_EQ(LookUp(FilingPage(c.rows)), c.name) << c.rows;
    }
}

TEST_F(BeiAnTest, AnswerThatIsNotValidUtf8GivesNoName) {
    const std::string page = FilingPage(Row("主办单位", "某某有限公司"));
    ASSERT_EQ(LookUp(page), "某某有限公司");
    EXPECT_EQ(LookUp(Utf8ToGbk(page)), "");
    EXPECT_EQ(LookUp(page + "\xFF"), "");
}

TEST_F(BeiAnTest, FailedOrEmptyAnswerGivesNoNameInsteadOfAnError) {
    const std::string page = FilingPage(Row("主办单位", "某某有限公司"));
    web_.Serve(kService, sim::kAnyPath, TSimResponse::Status(500, page));
    EXPECT_EQ(beiAn_.FindFilingName("http://www.shop.com/"), "");
    web_.Serve(kService, sim::kAnyPath, TSimResponse::Status(404, page));
    EXPECT_EQ(beiAn_.FindFilingName("http://www.shop.com/"), "");
    EXPECT_EQ(LookUp(""), "");
    EXPECT_EQ(web_.Requests().size(), 3u);

    // The service's port refuses connections (reached directly, not through the simulated web).
    TProxyEnvironment direct{""};
    TBeiAn down("127.0.0.1:" + std::to_string(sim::ClosedPort()));
    EXPECT_EQ(down.FindFilingName("http://www.shop.com/"), "");
    // The same lookup object still works once the service answers again.
    TProxyEnvironment back{web_.BaseUrl()};
    EXPECT_EQ(LookUp(page), "某某有限公司");
}

TEST_F(BeiAnTest, WithoutAServiceHostNothingIsAsked) {
    web_.Serve(sim::kAnyHost, sim::kAnyPath, TSimResponse::Html(FilingPage(Row("主办单位", "某某有限公司"))));
    TBeiAn unconfigured("");
    EXPECT_EQ(unconfigured.FindFilingName("http://www.shop.com/"), "");
    EXPECT_TRUE(web_.Requests().empty());
}

}  // namespace
}  // namespace vexo
