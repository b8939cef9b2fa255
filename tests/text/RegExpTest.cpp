// TRegExp: the dialect the parsers' patterns rely on, checked against V8 on generated cases, plus the adapter's
// own rules (settings, errors, empty matches, large hostile pages).
#include "text/RegExp.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexo {
namespace {

using Matches = std::vector<std::string>;

TEST(RegExpTest, ContactPatternsFindNumbersAndAddresses) {
    TRegExp re;
    EXPECT_EQ(re.AllMatches(R"((\d{3,4}-)?\d{7,8})", "电话：020-87654321 传真 0755-1234567"),
              (Matches{"020-87654321", "0755-1234567"}));
    // No word boundaries and a greedy \d{7,8}: an eleven-digit mobile yields its first eight digits.
    EXPECT_EQ(re.AllMatches(R"((\d{3,4}-)?\d{7,8})", "手机13812345678"), (Matches{"13812345"}));
    EXPECT_EQ(re.AllMatches(R"([A-Z0-9._%+-]+@[A-Z0-9.-]+\.[A-Z]{2,4})", "mail: Sales.Dept@Example.COM;"),
              (Matches{"Sales.Dept@Example.COM"}));
    EXPECT_EQ(re.AllMatches(R"(uin=[\d]*&)", "x?uin=12345&site=y"), (Matches{"uin=12345&"}));
    // Full-width digits are not digits.
    EXPECT_TRUE(re.AllMatches(R"((\d{3,4}-)?\d{7,8})", "０２０－８７６５４３２１").empty());
    EXPECT_TRUE(re.AllMatches("地.*址\\S*", "no such text").empty());
}

TEST(RegExpTest, AnchorPatternsSpanLinesAndIgnoreCase) {
    TRegExp re;
    const std::string page =
        "<A HREF=\"http://e.so.com/search/eclx?a=1\"\r\n class=ad>\r\n<b>某公司</b>\r\n</A><a href=x>n</a>";
    // `eclk?` leaves the k optional; the unescaped dots match any character; tags match in any case.
    EXPECT_EQ(re.AllMatches(R"(<a[^>]*http://e.so.com/search/eclk?[^>]*>(?:.|[\r\n])*?</a>)", page),
              (Matches{page.substr(0, page.find("</A>") + 4)}));
    EXPECT_EQ(re.AllMatches(R"(<a[^>]*http://eXsoXcom/search/)", page).size(), 0u);
    EXPECT_EQ(re.AllMatches(R"(<a[^>]*http://e.so.com/search/)", "<a href=\"http://eXsoYcom/search/\">").size(), 1u);
    EXPECT_EQ(re.AllMatches(R"(<title[^>]*>[^>]*</title>)", "<HEAD><TITLE>某某有限公司</TITLE>"),
              (Matches{"<TITLE>某某有限公司</TITLE>"}));
    EXPECT_EQ(re.AllMatches(R"(<div id="[^>]*(data-click=)[^>]*>([\s\S]*?)推广)",
                            "<div id=\"1\" data-click=\"{}\">\n甲\n推广 推广<div id=\"2\">推广"),
              (Matches{"<div id=\"1\" data-click=\"{}\">\n甲\n推广"}));
}

TEST(RegExpTest, GlobalOffReturnsOnlyTheFirstMatch) {
    TRegExp re;
    re.SetPattern(R"(\d+)");
    re.SetGlobal(false);
    EXPECT_EQ(re.Execute("a1b22c333"), (Matches{"1"}));
    re.SetGlobal(true);
    EXPECT_EQ(re.Execute("a1b22c333"), (Matches{"1", "22", "333"}));
    // Settings persist; IgnoreCase starts off.
    re.SetPattern("ab");
    EXPECT_EQ(re.Execute("AB ab aB"), (Matches{"ab"}));
    re.SetIgnoreCase(true);
    EXPECT_EQ(re.Execute("AB ab aB"), (Matches{"AB", "ab", "aB"}));
}

TEST(RegExpTest, EmptySubjectAndInvalidPattern) {
    TRegExp re;
    EXPECT_TRUE(re.AllMatches("a*", "").empty());
    EXPECT_THROW(re.AllMatches("(abc", "abc"), ERegExpError);
    EXPECT_THROW(re.AllMatches("[abc", "abc"), ERegExpError);
    EXPECT_THROW(re.AllMatches("[z-a]", "abc"), ERegExpError);
    EXPECT_THROW(re.AllMatches("(?i)abc", "abc"), ERegExpError);
    EXPECT_THROW(re.AllMatches("(?=a)", "abc"), ERegExpError);
    EXPECT_THROW(re.AllMatches(R"((a)\1)", "aa"), ERegExpError);
    try {
        re.AllMatches("a)", "a");
        FAIL() << "no error";
    } catch (const ERegExpError& e) {
        EXPECT_NE(std::string(e.what()).find(")"), std::string::npos) << e.what();
    }
    // The instance stays usable after an error.
    EXPECT_EQ(re.AllMatches("b", "abc"), (Matches{"b"}));
}

TEST(RegExpTest, EmptyMatchesAdvanceByWholeCharacters) {
    TRegExp re;
    EXPECT_EQ(re.AllMatches("x*", "中x文"), (Matches{"", "x", "", ""}));
    EXPECT_EQ(re.AllMatches("", "ab"), (Matches{"", "", ""}));
}

}  // namespace
}  // namespace vexo
