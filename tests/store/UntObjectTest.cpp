// Company record: name normalisation, duplicate-free contact lists, clearing and copying.
#include "store/UntObject.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <memory>

namespace vexo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

std::string Normalised(std::string_view name) {
    TComPanyInfo record;
    record.SetComName(name);
    return record.ComName;
}

TEST(UntObjectTest, NewRecordIsEmptyAndReadsAsOneSpace) {
    TComPanyInfo record;
    EXPECT_EQ(record.ComName, "");
    EXPECT_EQ(record.GetComName(), " ");
    EXPECT_TRUE(record.Tel.empty() && record.Mob.empty() && record.EMail.empty() && record.qq.empty());
    EXPECT_EQ(record.ispay, 0);
    EXPECT_EQ(record.renzheng, 0);
}

TEST(UntObjectTest, ContactCaptionsAreRemovedFromTheName) {
    EXPECT_EQ(Normalised("广州某某电子有限公司-联系我们"), "广州某某电子有限公司");
    EXPECT_EQ(Normalised("关于我们_广州某某"), "广州某某");
    // The longer caption goes first, so "方式" is not left behind.
    EXPECT_EQ(Normalised("联系方式电话"), "电话");
    EXPECT_EQ(Normalised("广州某某联系人"), "广州某某人");
    // One pass per step: what a removal joins together is not searched again.
    EXPECT_EQ(Normalised("联联系系"), "联系");
}

TEST(UntObjectTest, NameMadeOnlyOfCaptionsBecomesEmpty) {
    TComPanyInfo record;
    record.SetComName("联系方式");
    EXPECT_EQ(record.ComName, "");
    EXPECT_EQ(record.GetComName(), " ");
    record.SetComName("");
    EXPECT_EQ(record.GetComName(), " ");
}

TEST(UntObjectTest, PunctuationIsRemovedAndCommasBecomeSpaces) {
    EXPECT_EQ(Normalised("A,B.C"), "A BC");
    EXPECT_EQ(Normalised("a-b_c?d.e"), "abcde");
    // Spaces already there stay; nothing is trimmed.
    EXPECT_EQ(Normalised("  某某 公司 "), "  某某 公司 ");
    // Full-width punctuation is a different character and stays.
    EXPECT_EQ(Normalised("某某，公司。"), "某某，公司。");
}

TEST(UntObjectTest, CharactersWithoutGbkFormAreDropped) {
    // The emoji has no GBK form; it becomes "?", which the "?" step removes.
    EXPECT_EQ(Normalised("某某😀公司"), "某某公司");
    // Characters inside GBK, the euro sign included, stay.
    EXPECT_EQ(Normalised("某某€公司"), "某某€公司");
    // Malformed bytes cannot survive into a name.
    EXPECT_EQ(Normalised("某某\xff公司"), "某某公司");
}

TEST(UntObjectTest, ContactListsIgnoreLetterCaseAndKeepFirstSeen) {
    TComPanyInfo record;
    record.AddEmail("Sales@Example.COM");
    record.AddEmail("sales@example.com");
    record.AddEmail("info@example.com");
    EXPECT_THAT(record.EMail, ElementsAre("Sales@Example.COM", "info@example.com"));

    record.AddMobile("13812345678");
    record.AddMobile("13812345678");
    record.AddMobile("13912345678");
    EXPECT_THAT(record.Mob, ElementsAre("13812345678", "13912345678"));

    record.AddTel("020-12345678");
    record.AddTel("020-12345678");
    record.AddQQ("12345");
    record.AddQQ("12345");
    EXPECT_THAT(record.Tel, ElementsAre("020-12345678"));
    EXPECT_THAT(record.qq, ElementsAre("12345"));
    // Lists are independent of each other.
    record.AddQQ("13812345678");
    EXPECT_THAT(record.qq, ElementsAre("12345", "13812345678"));
}

TEST(UntObjectTest, CaseComparisonCoversNonAsciiLetters) {
    TComPanyInfo record;
    record.AddEmail("ÄBC@x.de");
    record.AddEmail("äbc@x.de");
    EXPECT_THAT(record.EMail, ElementsAre("ÄBC@x.de"));
}

TEST(UntObjectTest, ClearDataKeepsKeywordListIdAndCertification) {
    TComPanyInfo record;
    record.Keyword = "广州 电子公司";
    record.ListID = "42";
    record.renzheng = 1;
    record.ispay = 1;
    record.SetComName("某某公司");
    record.Addr = "广州";
    record.weburl = "http://a.example/";
    record.source = "百度";
    record.AddTel("020-12345678");
    record.AddMobile("13812345678");
    record.AddEmail("a@b.cn");
    record.AddQQ("1");

    record.ClearData();
    EXPECT_EQ(record.Keyword, "广州 电子公司");
    EXPECT_EQ(record.ListID, "42");
    EXPECT_EQ(record.renzheng, 1);
    EXPECT_EQ(record.ispay, 0);
    EXPECT_EQ(record.GetComName(), " ");
    EXPECT_EQ(record.Addr, "");
    EXPECT_EQ(record.weburl, "");
    EXPECT_EQ(record.source, "");
    EXPECT_THAT(record.Tel, IsEmpty());
    EXPECT_THAT(record.Mob, IsEmpty());
    EXPECT_THAT(record.EMail, IsEmpty());
    EXPECT_THAT(record.qq, IsEmpty());
}

TEST(UntObjectTest, AssignFromCopiesAllButKeywordAndListId) {
    TComPanyInfo source;
    source.Keyword = "源";
    source.ListID = "7";
    source.SetComName("某某公司");
    source.Addr = "广州市";
    source.weburl = "http://a.example/";
    source.source = "360";
    source.ispay = 1;
    source.renzheng = 1;
    source.AddTel("020-12345678");
    source.AddMobile("13812345678");
    source.AddEmail("a@b.cn");
    source.AddQQ("1");

    auto copy = std::make_shared<TComPanyInfo>();
    copy->Keyword = "目标";
    copy->ListID = "9";
    copy->AddTel("0755-87654321");
    copy->AssignFrom(source);
    EXPECT_EQ(copy->ComName, "某某公司");
    EXPECT_EQ(copy->Addr, "广州市");
    EXPECT_EQ(copy->weburl, "http://a.example/");
    EXPECT_EQ(copy->source, "360");
    EXPECT_EQ(copy->ispay, 1);
    EXPECT_EQ(copy->renzheng, 1);
    EXPECT_THAT(copy->Tel, ElementsAre("020-12345678"));  // replaced as a whole, not merged
    EXPECT_THAT(copy->Mob, ElementsAre("13812345678"));
    EXPECT_THAT(copy->EMail, ElementsAre("a@b.cn"));
    EXPECT_THAT(copy->qq, ElementsAre("1"));
    EXPECT_EQ(copy->Keyword, "目标");
    EXPECT_EQ(copy->ListID, "9");

    // The copy is independent of its source.
    source.AddTel("010-11112222");
    EXPECT_EQ(copy->Tel.size(), 1u);
}

TEST(UntObjectTest, AssignFromNamelessRecordStoresOneSpace) {
    TComPanyInfo nameless;
    TComPanyInfo copy;
    copy.SetComName("旧名");
    copy.AssignFrom(nameless);
    EXPECT_EQ(copy.ComName, " ");

    copy.AssignFrom(copy);  // self-assignment keeps the record intact
    EXPECT_EQ(copy.ComName, " ");
}

}  // namespace
}  // namespace vexo
