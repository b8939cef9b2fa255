// TRegExp: the dialect the parsers' patterns rely on, checked against V8 on generated cases, plus the adapter's
// own rules (settings, errors, empty matches, large hostile pages).
#include "text/RegExp.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

namespace vexo {
namespace {

using Matches = std::vector<std::string>;

constexpr char kCasesFile[] = VEXO_TEST_DATA_DIR "/regexp_cases.txt";
constexpr std::size_t kCaseFields = 6;

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    }
    return bytes;
}

// One record of the data V8 produced (tests/tools/make_regexp_cases.js).
struct DifferentialCase {
    std::string name;
    std::string flags;
    std::string pattern;
    std::string subject;
    Matches expected;
};

std::vector<DifferentialCase> LoadCases() {
    std::ifstream in(kCasesFile, std::ios::binary);
    std::vector<DifferentialCase> cases;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const std::vector<std::string> fields = Split(line, '\t');
        if (fields.size() != kCaseFields) {
            ADD_FAILURE() << "malformed record: " << line.substr(0, 80);
            continue;
        }
        DifferentialCase c{fields[0], fields[1], FromHex(fields[2]), FromHex(fields[3]), {}};
        const std::size_t count = std::stoul(fields[4]);
        if (count > 0) {
            for (const std::string& match : Split(fields[5], ','))
                c.expected.push_back(FromHex(match));
        }
        EXPECT_EQ(c.expected.size(), count) << c.name;
        cases.push_back(std::move(c));
    }
    return cases;
}

// One instance for all cases, as a parser keeps one: settings and cached patterns change from case to case.
TEST(RegExpTest, MatchesWhatV8FindsOnPatternsAndProbes) {
    const std::vector<DifferentialCase> cases = LoadCases();
    ASSERT_GT(cases.size(), 100u) << "no case data in " << kCasesFile;
    TRegExp re;
    for (const DifferentialCase& c : cases) {
        re.SetGlobal(c.flags.find('g') != std::string::npos);
        re.SetIgnoreCase(c.flags.find('i') != std::string::npos);
        re.SetPattern(c.pattern);
        try {
            EXPECT_EQ(re.Execute(c.subject), c.expected)
                << c.name << "\n  pattern " << c.pattern << "\n  as RE2  "
                << TranslatePattern(c.pattern, c.flags.find('i') != std::string::npos);
        } catch (const ERegExpError& e) {
            ADD_FAILURE() << c.name << ": " << e.what() << "\n  pattern " << c.pattern;
        }
    }
}

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

std::string Repeated(std::string_view unit, std::size_t minBytes) {
    std::string text;
    while (text.size() < minBytes)
        text += unit;
    return text;
}

// Pages built to make a backtracking engine explode; RE2 stays linear (the figures come from a timing run, the test
// only checks that they finish with the right answer).
TEST(RegExpTest, HostileMegabytePagesFinish) {
    constexpr std::size_t kPageBytes = 1 << 20;
    TRegExp re;
    EXPECT_TRUE(re.AllMatches("地.*址\\S*", Repeated("地", kPageBytes)).empty());
    const std::string openAnchors = Repeated("<a href=http://x ", kPageBytes);
    EXPECT_TRUE(re.AllMatches("<a[^>]*>[^>]*联系我们[^>]*</a>", openAnchors).empty());
    EXPECT_TRUE(re.AllMatches(R"(<a[^>]*http://[^>]*>(?:.|[\r\n])*?</a>)", openAnchors).empty());
    const std::string blocks = Repeated("<div id=\"x\" data-click=\"{}\">内容\n", kPageBytes);
    const char* promoted = R"(<div id="[^>]*(data-click=)[^>]*>([\s\S]*?)推广)";
    EXPECT_TRUE(re.AllMatches(promoted, blocks).empty());
    // One label at the very end: the first block's match runs over the whole page.
    const Matches one = re.AllMatches(promoted, blocks + "推广");
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].size(), blocks.size() + std::string("推广").size());
    // Many short matches: each search starts where the last one ended.
    EXPECT_EQ(re.AllMatches(R"((\d{3,4}-)?\d{7,8})", Repeated("0", kPageBytes)).size(), kPageBytes / 8);
}

}  // namespace
}  // namespace vexo
