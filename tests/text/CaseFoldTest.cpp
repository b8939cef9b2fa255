// Simple case folding: the single "equal ignoring case" of keyword, record and address lists.
#include "text/CaseFold.h"

#include <gtest/gtest.h>

namespace vexo {
namespace {

TEST(CaseFold, AsciiLettersFoldOthersStay) {
    EXPECT_EQ(CaseFold("Hello, WORLD 123 [@`{]"), "hello, world 123 [@`{]");
    EXPECT_EQ(CaseFold(""), "");
}

TEST(CaseFold, LatinGreekCyrillicAndFullWidthFold) {
    EXPECT_EQ(CaseFold("ÉCOLE é"), "école é");
    EXPECT_EQ(CaseFold("Σσς"), "σσσ");
    EXPECT_EQ(CaseFold("МОСКВА Ё"), "москва ё");
    EXPECT_EQ(CaseFold("ＡＢＣａ"), "ａｂｃａ");
    EXPECT_EQ(CaseFold("µ"), "μ");  // micro sign folds to Greek mu (two bytes each, other code point)
}

TEST(CaseFold, FoldingMayChangeByteLength) {
    // Kelvin sign (3 bytes) folds to ASCII k; capital sharp S (3 bytes) to ß (2 bytes).
    EXPECT_EQ(CaseFold("\u212A"), "k");
    EXPECT_EQ(CaseFold("\u1E9E"), "ß");
    // Deseret capital letters are outside the BMP.
    EXPECT_EQ(CaseFold("\U00010400"), "\U00010428");
}

TEST(CaseFold, ChineseAndUncasedTextUnchanged) {
    EXPECT_EQ(CaseFold("广州市天河区 100号"), "广州市天河区 100号");
    EXPECT_EQ(CaseFold("ß"), "ß");  // simple folding does not expand to "ss"
}

TEST(CaseFold, MalformedBytesKept) {
    const std::string malformed = std::string("A\xFF") + "B\xC3" + "\xE4\xB8" + "C\xED\xA0\x80" + "\xC0\xAF";
    EXPECT_EQ(CaseFold(malformed), std::string("a\xFF") + "b\xC3" + "\xE4\xB8" + "c\xED\xA0\x80" + "\xC0\xAF");
    EXPECT_EQ(CaseFold(std::string("\xC3\x89\x80", 3)), std::string("\xC3\xA9\x80", 3));
}

TEST(SameIgnoringCase, ComparesFoldedTexts) {
    EXPECT_TRUE(SameIgnoringCase("Beijing 北京", "BEIJING 北京"));
    EXPECT_TRUE(SameIgnoringCase("ΣΟΦΙΑ", "σοφια"));
    EXPECT_TRUE(SameIgnoringCase("\u212Aelvin", "KELVIN"));
    EXPECT_TRUE(SameIgnoringCase("", ""));
    EXPECT_FALSE(SameIgnoringCase("abc", "abd"));
    EXPECT_FALSE(SameIgnoringCase("abc", "abc "));
    EXPECT_FALSE(SameIgnoringCase("北京", "南京"));
}

}  // namespace
}  // namespace vexo
