// Contact extraction rules: name from the title, landlines, mobiles, e-mail,
// QQ, the decision and the address.
#include "engine/ContactRules.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/Watchdog.h"

namespace vexo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

class ContactRulesTest : public ::testing::Test {
  protected:
    // Runs the extraction on a record that already has a name, so that only the
    // page decides.
    bool Extract(std::string_view page) {
        if (IsNameBlank(record_))
            record_.SetComName("某某公司");
        return rules_.ExtractContacts(page, record_);
    }

    std::string NameFromTitle(std::string_view page, TTitleRule rule) {
        TComPanyInfo record;
        rules_.TakeNameFromTitle(page, record, rule);
        return record.GetComName();
    }

    TContactRules rules_;
    TComPanyInfo record_;
};

TEST_F(ContactRulesTest, LandlinesNeedElevenCharacters) {
    Extract("电话：020-12345678 传真：0755-87654321 分机 12345678");
    EXPECT_THAT(record_.Tel, ElementsAre("020-12345678", "0755-87654321"));
}

TEST_F(ContactRulesTest, HyphenatedThreeThreeFourNumberOnlyWhenNothingElseMatches) {
    Extract("服务热线：400-123-4567");
    EXPECT_THAT(record_.Tel, ElementsAre("400-123-4567"));

    // The mobile number's first eight digits match the first pattern (and are
    // dropped as too short), so the hyphenated number is never looked for.
    TComPanyInfo other;
    other.SetComName("某某公司");
    EXPECT_TRUE(rules_.ExtractContacts("手机 13812345678 热线 400-123-4567", other));
    EXPECT_THAT(other.Tel, IsEmpty());
    EXPECT_THAT(other.Mob, ElementsAre("13812345678"));
}

TEST_F(ContactRulesTest, MobilesNeedAListedPrefixAndElevenDigitsInARow) {
    Extract(
        "+86 13812345678, 8615912345678, 17012345678, 19912345678, "
        "138-1234-5678, 18912345678");
    EXPECT_THAT(record_.Mob, ElementsAre("13812345678", "15912345678", "18912345678"));
}

TEST_F(ContactRulesTest, EmailKeptAsWrittenAndNotAddedAgainInOtherCase) {
    Extract("手机 13812345678 邮箱 Sales@Example.COM");
    Extract("邮箱 sales@example.com, info@example.com.cn");
    EXPECT_THAT(record_.EMail, ElementsAre("Sales@Example.COM", "info@example.com.cn"));
}

TEST_F(ContactRulesTest, EmailTopLevelLabelOfTwoToFourLetters) {
    Extract("13812345678 a@b.museum x@y.z");
    EXPECT_THAT(record_.EMail, ElementsAre("a@b.muse"));
}

TEST_F(ContactRulesTest, QqNumberFromChatLinks) {
    // The number is cut out with a case-sensitive search for "uin=", so an
    // upper-case link yields nothing.
    Extract(
        "13812345678 <a "
        "href=\"tencent://msgrd?v=3&uin=12345678&site=qq&menu=yes\">QQ</a> uin=&"
        " UIN=87654321& uin=99999999");
    EXPECT_THAT(record_.qq, ElementsAre("12345678"));
}

TEST_F(ContactRulesTest, PageWithoutPhoneNumberClearsTheRecord) {
    record_.Keyword = "广州 电子";
    record_.SetComName("某某公司");
    record_.weburl = "http://a.example/";
    record_.ispay = 1;
    record_.Addr = "旧地址旧地址";
    EXPECT_FALSE(Extract("邮箱 a@b.cn QQ uin=123& 地址：广州市天河区体育西路100号"));
    EXPECT_EQ(record_.GetComName(), " ");
    EXPECT_THAT(record_.EMail, IsEmpty());
    EXPECT_THAT(record_.qq, IsEmpty());
    EXPECT_EQ(record_.Addr, "");
    EXPECT_EQ(record_.weburl, "");
    EXPECT_EQ(record_.ispay, 0);
    EXPECT_EQ(record_.Keyword, "广州 电子");
}

TEST_F(ContactRulesTest, NamelessRecordIsRefusedEvenWithNumbers) {
    TComPanyInfo nameless;
    nameless.ComName = " \t ";
    EXPECT_TRUE(IsNameBlank(nameless));
    EXPECT_FALSE(rules_.ExtractContacts("13812345678 020-12345678", nameless));
    EXPECT_THAT(nameless.Mob, IsEmpty());
    EXPECT_THAT(nameless.Tel, IsEmpty());
}

TEST_F(ContactRulesTest, LandlineAloneIsEnough) {
    EXPECT_TRUE(Extract("电话 020-12345678"));
    EXPECT_THAT(record_.Mob, IsEmpty());
}

TEST_F(ContactRulesTest, AddressAfterColonCutBeforeMarkup) {
    EXPECT_TRUE(Extract("13812345678\r\n地址：广州市天河区体育西路100号<br/>\r\n"));
    EXPECT_EQ(record_.Addr, "广州市天河区体育西路100号");
}

TEST_F(ContactRulesTest, AddressLayouts) {
    EXPECT_EQ(AddressFromMatch("地址：广州市天河区体育西路100号<br/>"), "广州市天河区体育西路100号");
    EXPECT_EQ(AddressFromMatch("地址:广州市天河区</p>"), "广州市天河区");
    EXPECT_EQ(AddressFromMatch("地址</span><b>广州市天河区</b>"), "");
    EXPECT_EQ(AddressFromMatch("地址</td><td>广州市天河区</td>"), "");
    EXPECT_EQ(AddressFromMatch("公司地址广州市天河区"), "广州市天河区");
    EXPECT_EQ(AddressFromMatch("地址：无"), "");
    EXPECT_EQ(AddressFromMatch("地址：AB"), "");
    EXPECT_EQ(AddressFromMatch("地址：ABCDEF"), "ABCDEF");
}

TEST_F(ContactRulesTest, AddressStaysWhenThePageGivesNone) {
    record_.SetComName("某某公司");
    record_.Addr = "广州市天河区";
    EXPECT_TRUE(Extract("13812345678 <td>地址</td><td>深圳市南山区</td>"));
    EXPECT_EQ(record_.Addr, "广州市天河区");
    EXPECT_TRUE(Extract("13812345678 地址：无"));
    EXPECT_EQ(record_.Addr, "广州市天河区");
}

TEST_F(ContactRulesTest, AddressMatchStaysOnOneLineAndStopsAtWhiteSpace) {
    EXPECT_TRUE(Extract("13812345678 所在地区\r\n网址：www.example.com"));
    EXPECT_EQ(record_.Addr, "");
    EXPECT_TRUE(Extract("13812345678 地址：深圳市 南山区"));
    EXPECT_EQ(record_.Addr, "深圳市");
    // The first match counts, it reaches to the last "址" of its line, and the
    // colon step runs before the "址" one.
    EXPECT_TRUE(
        Extract("13812345678 地址：广州市天河区 "
                "网址：www.example.com\r\n地址：深圳市南山区"));
    EXPECT_EQ(record_.Addr, "：www.example.com");
}

TEST_F(ContactRulesTest, FirstTitleRuleHandsTheWholeTitleToTheName) {
    EXPECT_EQ(NameFromTitle("<title>广州某某有限公司-首页</title>", TTitleRule::FirstTitle), "广州某某有限公司首页");
    EXPECT_EQ(NameFromTitle("<TITLE lang=\"zh\">某某</TITLE><title>第二</title>", TTitleRule::FirstTitle), "某某");
    EXPECT_EQ(NameFromTitle("<html><body>没有标题</body></html>", TTitleRule::FirstTitle), " ");
    EXPECT_EQ(NameFromTitle("<title>联系我们</title>", TTitleRule::FirstTitle), " ");
    // A title spanning lines still matches ([^>] takes line breaks).
    EXPECT_EQ(NameFromTitle("<title>\r\n某某公司\r\n</title>", TTitleRule::FirstTitle), "\r\n某某公司\r\n");
}

TEST_F(ContactRulesTest, CompanyWordRuleTakesThePartNamingTheCompany) {
    EXPECT_EQ(NameFromTitle("<title>首页-广州某某电子有限公司_产品中心</title>", TTitleRule::CompanyWord),
              "广州某某电子有限公司");
    EXPECT_EQ(NameFromTitle("<title>某某科技有限公司</title>", TTitleRule::CompanyWord), "某某科技有限公司");
    EXPECT_EQ(NameFromTitle("<title>欢迎光临 首页</title>", TTitleRule::CompanyWord), "欢迎光临 首页");
    EXPECT_EQ(NameFromTitle("<title>产品 某某科技有限公司|网站</title>", TTitleRule::CompanyWord), "某某科技有限公司");
    EXPECT_EQ(NameFromTitle("<title>首页_某某科技企业</title>", TTitleRule::CompanyWord), "某某科技企业");
}

TEST_F(ContactRulesTest, CompanyWordRulePrefersTheLastLongEnoughCandidate) {
    EXPECT_EQ(NameFromTitle("<title>甲公司|乙公司</title>", TTitleRule::CompanyWord), "乙公司");
    // Both candidates are 5 GBK bytes: the whole inner text is taken.
    EXPECT_EQ(NameFromTitle("<title>A公司|B公司</title>", TTitleRule::CompanyWord), "A公司|B公司");
    // Candidates are gathered over all titles; "企业" is looked for only while
    // none was found.
    EXPECT_EQ(NameFromTitle("<title>甲乙公司</title><title>丙丁企业名称</title>", TTitleRule::CompanyWord), "甲乙公司");
    // No candidate long enough: the last non-empty inner text.
    EXPECT_EQ(NameFromTitle("<title>A公司</title><title>首页</title><title></title>", TTitleRule::CompanyWord), "首页");
}

TEST_F(ContactRulesTest, CompanyWordRuleFallsBackToTheFirstTitle) {
    // The chosen text normalises to nothing, so the first title's text is used.
    EXPECT_EQ(NameFromTitle("<title>广州某某</title><title>联系方式</title>", TTitleRule::CompanyWord), "广州某某");
    EXPECT_EQ(NameFromTitle("no title here", TTitleRule::CompanyWord), " ");
}

TEST_F(ContactRulesTest, NameAlreadySetIsNeverReplaced) {
    for (TTitleRule rule : {TTitleRule::FirstTitle, TTitleRule::CompanyWord}) {
        TComPanyInfo record;
        record.SetComName("已有名称");
        rules_.TakeNameFromTitle("<title>某某科技有限公司</title>", record, rule);
        EXPECT_EQ(record.GetComName(), "已有名称");
    }
}

TEST_F(ContactRulesTest, LongRunsAndUnclosedMarkupGiveSaneResults) {
    std::string page(100000, '<');
    page += "<title>某某";  // never closed
    for (int i = 0; i < 10000; ++i)
        page += "13800000000";
    for (int i = 0; i < 20000; ++i)
        page += "地";
    page += "\r\n地址：广州市天河区体育西路100号";
    EXPECT_TRUE(Extract(page));
    EXPECT_THAT(record_.Mob, ElementsAre("13800000000"));
    EXPECT_THAT(record_.Tel, IsEmpty());
    EXPECT_EQ(record_.Addr, "广州市天河区体育西路100号");
    EXPECT_EQ(NameFromTitle(page, TTitleRule::CompanyWord), " ");
}

// A page listing tens of thousands of distinct numbers is a catalogue: each list takes only the first
// kMaxValuesPerPage new values, in page order, and the page costs no comparison of every value with every other.
// Values repeated on the page or already held (in another letter case) do not count toward the bound.
TEST_F(ContactRulesTest, APageAddsAtMostABoundedNumberOfNewValuesToEachList) {
    const test::TWatchdog watchdog(test::kTestWatchdog);
    constexpr int kNumbers = 60000;
    const std::size_t bound = kMaxValuesPerPage;
    record_.EMail = {"a10000000@x.cn"};
    std::string page = "13810000000 13810000000 020-10000000 020-10000000 ";
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < kNumbers; ++i) {
            const std::string digits = std::to_string(10000000 + i);
            page += "138" + digits + " 020-" + digits + " uin=" + digits + "& ";
            page += (round == 0 ? "A" : "a") + digits + "@x.cn\n";
        }
    }
    EXPECT_TRUE(Extract(page));
    ASSERT_EQ(record_.Mob.size(), bound);
    ASSERT_EQ(record_.Tel.size(), bound);
    ASSERT_EQ(record_.qq.size(), bound);
    ASSERT_EQ(record_.EMail.size(), bound + 1);
    for (std::size_t i = 0; i < bound; ++i) {
        const std::string digits = std::to_string(10000000 + i);
        ASSERT_EQ(record_.Mob[i], "138" + digits);
        ASSERT_EQ(record_.Tel[i], "020-" + digits);
        ASSERT_EQ(record_.qq[i], digits);
        // The held address is not added again in capitals, and does not count.
        ASSERT_EQ(record_.EMail[i + 1], "A" + std::to_string(10000001 + i) + "@x.cn");
    }

    // Another page of the same site adds up to the bound again, only what is new.
    std::string second = "13810000000 ";
    for (int i = 0; i < 3 * static_cast<int>(bound); ++i)
        second += "139" + std::to_string(10000000 + i) + " ";
    EXPECT_TRUE(Extract(second));
    ASSERT_EQ(record_.Mob.size(), 2 * bound);
    EXPECT_EQ(record_.Mob[bound], "13910000000");
    EXPECT_EQ(record_.Mob.back(), "139" + std::to_string(10000000 + bound - 1));

    // The fallback landline pattern still waits for a page where the first pattern finds nothing at all.
    TComPanyInfo other;
    other.SetComName("某某公司");
    std::string hyphenated;
    for (int i = 0; i < 3 * static_cast<int>(bound); ++i)
        hyphenated += "020-" + std::to_string(100 + i % 900) + "-" + std::to_string(1000 + i) + " ";
    EXPECT_TRUE(rules_.ExtractContacts(hyphenated, other));
    ASSERT_EQ(other.Tel.size(), bound);
    EXPECT_EQ(other.Tel.front(), "020-100-1000");
}

// The name rules read every title of a page one at a time: a page of countless titles gives the same name as the
// rules give on its last and first titles.
TEST_F(ContactRulesTest, APageOfCountlessTitlesStillGivesTheRulesName) {
    const test::TWatchdog watchdog(test::kTestWatchdog);
    std::string page = "<title>首页</title>";
    for (int i = 0; i < 200000; ++i)
        page += "<title>A公司|B公司</title>";
    EXPECT_EQ(NameFromTitle(page + "<title>产品_某某科技有限公司</title><title>联系</title>", TTitleRule::CompanyWord),
              "某某科技有限公司");
    EXPECT_EQ(NameFromTitle(page, TTitleRule::CompanyWord), "A公司|B公司");
    EXPECT_EQ(NameFromTitle(page, TTitleRule::FirstTitle), "首页");
}

}  // namespace
}  // namespace vexo
