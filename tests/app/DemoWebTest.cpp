// The demonstration web vexo-simweb serves: every engine lists each advertiser of a keyword on its first pages,
// every site's contact details are what the program's own contact rules take from it (GBK and UTF-8, every
// layout), the configuration server announces no update, and the content is the same on every run.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "engine/CaijiPageCon.h"
#include "engine/ContactRules.h"
#include "engine/Hosts.h"
#include "net/PageText.h"
#include "sim/DemoWeb.h"
#include "sim/SimWeb.h"
#include "support/ProxyFetch.h"
#include "text/Gbk.h"
#include "text/IniFile.h"
#include "text/RegExp.h"
#include "update/RemoteConfig.h"

namespace vexo {
namespace {

namespace fs = std::filesystem;
using sim::TContactLayout;
using sim::TDemoSite;
using test::ProxyGet;
using test::THttpReply;

const char* const kEngineNames[] = {"baidu", "sogou", "360"};

// The address of result page `page` (0-based) of the engine, as its collector asks for it.
std::string ResultPageUrl(int engine, const std::string& keyword, int page) {
    const std::string value = test::GbkQueryValue(keyword);
    switch (engine) {
        case 0:
            return "http://www.baidu.com/s?wd=" + value + "&pn=" + std::to_string(page * 10);
        case 1:
            return "http://www.sogou.com/web?query=" + value + "&page=" + std::to_string(page + 1);
        default:
            return "http://www.so.com/s?q=" + value + "&pn=" + std::to_string(page + 1);
    }
}

class DemoWebTest : public ::testing::Test {
  protected:
    THttpReply Get(const std::string& url) { return ProxyGet(web_.Port(), url); }
    const sim::TSimCompany& CompanyOf(const TDemoSite& site) const { return demo_.Engines().Company(site.Company); }

    sim::TSimWeb web_;
    sim::TDemoWeb demo_{web_};
};

TEST_F(DemoWebTest, EveryEngineListsEachAdvertiserOfAKeywordOnItsFirstPagesAndNothingAfter) {
    for (const std::string_view keywordView : sim::kDemoKeywords) {
        const std::string keyword(keywordView);
        std::set<std::string> expected;
        for (const TDemoSite& site : demo_.Sites()) {
            if (site.Keyword == keyword)
                expected.insert(CompanyOf(site).Host);
        }
        ASSERT_GE(expected.size(), 8u) << keyword;
        for (int engine = 0; engine < 3; ++engine) {
            std::set<std::string> listed;
            for (int page = 0; page <= sim::kDemoPagesPerEngine; ++page) {
                const THttpReply reply = Get(ResultPageUrl(engine, keyword, page));
                ASSERT_EQ(reply.status, 200) << kEngineNames[engine] << " page " << page;
                for (const TDemoSite& site : demo_.Sites()) {
                    const std::string& host = CompanyOf(site).Host;
                    if (reply.body.find("http://" + host + "/") == std::string::npos)
                        continue;
                    EXPECT_LT(page, sim::kDemoPagesPerEngine) << kEngineNames[engine] << " lists " << host;
                    EXPECT_TRUE(listed.insert(host).second) << kEngineNames[engine] << " lists " << host << " twice";
                }
            }
            EXPECT_EQ(listed, expected) << kEngineNames[engine] << ", " << keyword;
        }
    }
}

TEST_F(DemoWebTest, EverySiteGivesTheContactRulesItsCompanysDetailsInEveryLayoutAndEncoding) {
    std::set<std::pair<TContactLayout, bool>> kinds;
    int withoutMobile = 0;
    TRegExp regExp;
    for (const TDemoSite& site : demo_.Sites()) {
        const sim::TSimCompany& company = CompanyOf(site);
        SCOPED_TRACE(company.Host);
        kinds.insert({site.Layout, site.Gbk});
        withoutMobile += company.Mobile.empty() ? 1 : 0;

        const THttpReply home = Get("http://" + company.Host + "/");
        ASSERT_EQ(home.status, 200);
        // GBK pages are really GBK: the page decoder takes valid UTF-8 as it is and anything else as GBK.
        EXPECT_EQ(IsValidUtf8(home.body), !site.Gbk);
        EXPECT_EQ(home.head.find("charset=gbk") != std::string::npos, site.Gbk) << home.head;
        const std::string homeText = DecodePageText(home.body, true);
        // The strictest of the engines' contact-link rules finds the contact page on every site.
        const std::string link = FindContactLink(TSiteVariant::Sogou, homeText, company.Host, regExp);
        ASSERT_EQ(link, "http://" + company.Host + "/contact.html");

        const THttpReply contact = Get(link);
        ASSERT_EQ(contact.status, 200);
        const std::string contactText = DecodePageText(contact.body, true);
        TContactRules rules;
        TComPanyInfo record;
        record.SetComName(company.Name);
        ASSERT_TRUE(rules.ExtractContacts(contactText, record));
        EXPECT_EQ(record.Mob,
                  company.Mobile.empty() ? std::vector<std::string>{} : std::vector<std::string>{company.Mobile});
        EXPECT_NE(std::find(record.Tel.begin(), record.Tel.end(), company.Landline), record.Tel.end());
        EXPECT_EQ(record.EMail,
                  company.Email.empty() ? std::vector<std::string>{} : std::vector<std::string>{company.Email});
        EXPECT_EQ(record.qq, company.QQ.empty() ? std::vector<std::string>{} : std::vector<std::string>{company.QQ});
        // The address rule reads "地址：..." text; a table cell after its caption gives it nothing.
        EXPECT_EQ(record.Addr, site.Layout == TContactLayout::Table ? std::string() : company.Address);
        if (site.Layout == TContactLayout::Footer) {
            TComPanyInfo fromHome;
            fromHome.SetComName(company.Name);
            EXPECT_TRUE(rules.ExtractContacts(homeText, fromHome));
            EXPECT_EQ(fromHome.Mob, record.Mob);
        }
    }
    // Four layouts, both encodings among them, and some advertisers that are visited but never stored.
    EXPECT_EQ(kinds.size(), 4u);
    EXPECT_TRUE(std::any_of(kinds.begin(), kinds.end(), [](const auto& kind) { return kind.second; }));
    EXPECT_TRUE(std::any_of(kinds.begin(), kinds.end(), [](const auto& kind) { return !kind.second; }));
    EXPECT_GT(withoutMobile, 0);
}

TEST_F(DemoWebTest, TheConfigurationServerAnnouncesNoUpdateAndTheClientConfigNamesEveryService) {
    const THttpReply reply = Get("http://" + std::string(sim::kDemoConfigHost) + std::string(kRemoteConfigPath));
    ASSERT_EQ(reply.status, 200);
    const TRemoteConfigResult result = ReadRemoteConfig(reply.body, TUpdaterState{}, true);
    EXPECT_TRUE(result.Parsed);
    EXPECT_TRUE(result.HasVersionInfo);  // no fallback version check either
    EXPECT_FALSE(result.Info.HasUpdate);
    EXPECT_FALSE(result.Info.NeedUpdater);
    EXPECT_FALSE(result.ReplaceUpdater);

    char pattern[] = "/tmp/vexo-demoweb-test-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    const fs::path folder = pattern;
    std::ofstream(folder / "qzclient.cfg", std::ios::binary) << sim::TDemoWeb::ClientConfig();
    const TIniFile config((folder / "qzclient.cfg").string());
    const THosts hosts = LoadHosts(config);
    EXPECT_TRUE(config.ReadBool("config", "first", false));  // no launcher put on the desktop
    EXPECT_TRUE(RefusedHosts(hosts).empty());
    EXPECT_EQ(hosts.Baidu, sim::kSimBaiduHost);
    EXPECT_EQ(hosts.Sogou, sim::kSimSogouHost);
    EXPECT_EQ(hosts.So360, sim::kSimSoHost);
    EXPECT_EQ(hosts.Icp, sim::kSimIcpHost);
    EXPECT_EQ(hosts.Config, sim::kDemoConfigHost);
    EXPECT_EQ(hosts.Update, "");
    fs::remove_all(folder);

    // Every advertiser has a filing naming it, which is where the collectors take the company name from.
    for (const TDemoSite& site : demo_.Sites()) {
        const sim::TSimCompany& company = CompanyOf(site);
        const THttpReply filing = Get("http://" + std::string(sim::kSimIcpHost) + "/yuming/" +
                                      company.Host.substr(std::string_view("www.").size()) + "/");
        EXPECT_EQ(filing.status, 200) << company.Host;
        EXPECT_NE(filing.body.find(company.Name), std::string::npos) << company.Host;
    }
}

TEST(DemoWebContentTest, IsTheSameOnEveryRun) {
    sim::TSimWeb firstWeb;
    sim::TDemoWeb first(firstWeb);
    sim::TSimWeb secondWeb;
    sim::TDemoWeb second(secondWeb);
    ASSERT_EQ(first.Sites().size(), second.Sites().size());
    std::vector<std::string> urls;
    for (int engine = 0; engine < 3; ++engine) {
        for (const std::string_view keyword : sim::kDemoKeywords)
            urls.push_back(ResultPageUrl(engine, std::string(keyword), 0));
    }
    for (const TDemoSite& site : first.Sites()) {
        const std::string& host = first.Engines().Company(site.Company).Host;
        urls.push_back("http://" + host + "/");
        urls.push_back("http://" + host + "/contact.html");
    }
    urls.push_back("http://" + std::string(sim::kDemoConfigHost) + std::string(kRemoteConfigPath));
    for (const std::string& url : urls) {
        const THttpReply a = ProxyGet(firstWeb.Port(), url);
        const THttpReply b = ProxyGet(secondWeb.Port(), url);
        EXPECT_EQ(a.status, 200) << url;
        EXPECT_EQ(a.head, b.head) << url;
        EXPECT_EQ(a.body, b.body) << url;
    }
}

}  // namespace
}  // namespace vexo
