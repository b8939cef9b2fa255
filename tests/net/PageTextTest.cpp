// Page-text decoding: line breaks, NUL, trimming, UTF-8 versus GBK bodies, hostile and large bodies.
#include "net/PageText.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "text/Gbk.h"

namespace vexo {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using namespace std::string_literals;

TEST(PageTextTest, EveryLineBreakStyleBecomesCrLf) {
    EXPECT_EQ(DecodePageText("a\nb\rc\r\nd", false), "a\r\nb\r\nc\r\nd");
    // Empty lines inside the text survive; "\n\r" is two breaks, not one.
    EXPECT_EQ(DecodePageText("a\n\nb", false), "a\r\n\r\nb");
    EXPECT_EQ(DecodePageText("a\n\rb", false), "a\r\n\r\nb");
    EXPECT_EQ(DecodePageText("a\r\r\nb", false), "a\r\n\r\nb");
}

TEST(PageTextTest, EndsAreTrimmedOfControlBytesAndSpaces) {
    EXPECT_EQ(DecodePageText("\r\n \t<html>x</html> \r\n\r\n", false), "<html>x</html>");
    EXPECT_EQ(DecodePageText("\x01\x1f a b \x20", true), "a b");
    // DEL and non-ASCII bytes are not trimmed.
    EXPECT_EQ(DecodePageText("\x7f"
                             "a",
                             false),
              "\x7f"
              "a");
    EXPECT_EQ(DecodePageText("", true), "");
    EXPECT_EQ(DecodePageText(" \r\n\t ", true), "");
}

TEST(PageTextTest, NulEndsTheText) {
    EXPECT_EQ(DecodePageText("abc\0def"s, false), "abc");
    EXPECT_EQ(DecodePageText("\0abc"s, true), "");
    // Invalid bytes after the NUL do not make the text invalid.
    EXPECT_EQ(DecodePageText("ok\n\0\xff\xfe"s, false), "ok");
}

TEST(PageTextTest, Utf8BodyIsKeptAsItIs) {
    const std::string page = "<title>广州某某电子有限公司</title>\n€ ✓ 😀";
    EXPECT_EQ(DecodePageText(page, false), "<title>广州某某电子有限公司</title>\r\n€ ✓ 😀");
    EXPECT_EQ(DecodePageText(page, true), DecodePageText(page, false));
}

TEST(PageTextTest, GbkBodyIsConvertedOnlyWhenLenient) {
    const std::string utf8 = "地址：广州市天河区\n电话：020-12345678";
    const std::string gbk = Utf8ToGbk(utf8);
    ASSERT_FALSE(IsValidUtf8(gbk));
    EXPECT_EQ(DecodePageText(gbk, true), "地址：广州市天河区\r\n电话：020-12345678");
    EXPECT_EQ(DecodePageText(gbk, false), "");
}

TEST(PageTextTest, MalformedBytesNeverLeakIntoTheText) {
    // Not UTF-8 and not GBK either: invalid lead bytes and a lead byte at the very end.
    const std::string junk =
        "a\x80\xff"
        "b\x81";
    std::string text = DecodePageText(junk, true);
    EXPECT_TRUE(IsValidUtf8(text));
    EXPECT_EQ(text.front(), 'a');
    EXPECT_NE(text.find('b'), std::string::npos);
    EXPECT_EQ(DecodePageText(junk, false), "");
    // A truncated UTF-8 sequence makes the whole text non-UTF-8.
    EXPECT_TRUE(IsValidUtf8(DecodePageText("中\xe6\x96", true)));
}

TEST(PageTextTest, TenMegabyteSingleLineBody) {
    std::string body(10 * 1024 * 1024, 'x');
    body.append("\r\n");
    std::string text = DecodePageText(body, true);
    EXPECT_EQ(text.size(), 10u * 1024 * 1024);

    std::string gbkBody;
    // "地" in GBK (B5 D8) is not UTF-8; some pairs such as "址" (D6 B7) are, and would be kept as UTF-8.
    const std::string gbkChar = Utf8ToGbk("地");
    while (gbkBody.size() < 10 * 1024 * 1024)
        gbkBody += gbkChar;
    std::string converted = DecodePageText(gbkBody, true);
    EXPECT_EQ(converted.size(), gbkBody.size() / 2 * 3);
    EXPECT_TRUE(IsValidUtf8(converted));
}

TEST(PageTextTest, SplitBodyLinesBreaksAtEveryStyle) {
    EXPECT_THAT(SplitBodyLines("a\r\nb\rc\nd"), ElementsAre("a", "b", "c", "d"));
    EXPECT_THAT(SplitBodyLines("a\r\n"), ElementsAre("a"));
    EXPECT_THAT(SplitBodyLines("a\r"), ElementsAre("a"));
    EXPECT_THAT(SplitBodyLines("a\n\n"), ElementsAre("a", ""));
    EXPECT_THAT(SplitBodyLines("\n"), ElementsAre(""));
    EXPECT_THAT(SplitBodyLines(""), IsEmpty());
    // No trimming: spaces stay with their line.
    EXPECT_THAT(SplitBodyLines(" a \n b"), ElementsAre(" a ", " b"));
    EXPECT_THAT(SplitBodyLines("head\nbody\0tail\nmore"s), ElementsAre("head", "body"));
}

}  // namespace
}  // namespace vexo
