// GBK at the edges: conversion both ways, GBK byte lengths and UTF-8 validation.
#include "text/Gbk.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/Watchdog.h"
#include "text/Global.h"

namespace vexo {
namespace {

TEST(Utf8ToGbk, ConvertsGbkRepertoire) {
    EXPECT_EQ(Utf8ToGbk("abc 123"), "abc 123");
    EXPECT_EQ(Utf8ToGbk("中文"), "\xD6\xD0\xCE\xC4");
    EXPECT_EQ(Utf8ToGbk("€"), "\x80");  // code page 936 maps the euro sign to one byte
    EXPECT_EQ(Utf8ToGbk("\u3000"), "\xA1\xA1");
    EXPECT_EQ(Utf8ToGbk("ぁ"), "\xA4\xA1");
    EXPECT_EQ(Utf8ToGbk(""), "");
}

TEST(Utf8ToGbk, UnmappableAndMalformedBecomeQuestionMarks) {
    EXPECT_EQ(Utf8ToGbk("a\U0001F600b"), "a?b");  // one "?" for the whole character
    EXPECT_EQ(Utf8ToGbk("한中"), "?\xD6\xD0");
    EXPECT_EQ(Utf8ToGbk(std::string("a\xFF") + "b"), "a?b");
    EXPECT_EQ(Utf8ToGbk(std::string("\xE4\xB8") + "a"), "??a");       // truncated sequence: one "?" per byte
    EXPECT_EQ(Utf8ToGbk(std::string("\xE4\xB8")), "??");              // truncated at the very end
    EXPECT_EQ(Utf8ToGbk(std::string("\xC0\xAF")), "??");              // overlong "/"
    EXPECT_EQ(Utf8ToGbk(std::string("\xED\xA0\x80") + "x"), "???x");  // surrogate
    EXPECT_EQ(Utf8ToGbk(std::string("\x80") + "中"), "?\xD6\xD0");    // stray continuation byte
}

// The tag characters U+E0000-U+E007F have no GBK form; the system's converter wrote "?" for each, so lengths and
// encoded keywords count them as one byte.
TEST(Utf8ToGbk, TagCharactersBecomeQuestionMarks) {
    std::string allTags;
    for (char32_t cp = 0xE0000; cp <= 0xE007F; ++cp) {
        const std::string tag{char(0xF3), char(0xA0), char(0x80 | ((cp >> 6) & 0x3F)), char(0x80 | (cp & 0x3F))};
        EXPECT_EQ(Utf8ToGbk("a" + tag + "中"), "a?\xD6\xD0") << std::hex << static_cast<unsigned>(cp);
        allTags += tag;
    }
    EXPECT_EQ(Utf8ToGbk(allTags), std::string(128, '?'));
    EXPECT_EQ(GbkLength(allTags + "中"), 130u);
    EXPECT_EQ(ToGbkRepertoire("\U000E0001x\U000E007F"), "?x?");
    EXPECT_EQ(UrlEncode("a\U000E0041", false), "a%3F");
    // Neighbours and look-alike sequences keep their own treatment: a character outside GBK is one "?", a truncated
    // tag sequence one "?" per byte.
    EXPECT_EQ(Utf8ToGbk("\U000E0100\U000DFFFF"), "??");
    EXPECT_EQ(Utf8ToGbk(std::string("\xF3\xA0\x80") + "a"), "???a");
    // Many tags in a long text, so they fall on every position of the converter's pieces.
    std::string text;
    std::string expected;
    for (int i = 0; i < 40000; ++i) {
        text += i % 3 == 0 ? "\U000E0041" : i % 3 == 1 ? "中" : "ab";
        expected += i % 3 == 0 ? "?" : i % 3 == 1 ? "\xD6\xD0" : "ab";
    }
    EXPECT_EQ(Utf8ToGbk(text), expected);
}

// Text dense with characters outside GBK: the same result as converting character by character, and no cost per
// such character that grows with the length of the text (a few megabytes took minutes).
TEST(Utf8ToGbk, TextDenseWithUnmappableCharacters) {
    const test::TWatchdog watchdog(test::kTestWatchdog);
    auto check = [](const std::vector<std::string>& units, std::size_t count) {
        std::string text;
        std::string expected;
        for (std::size_t i = 0; i < count; ++i) {
            const std::string& unit = units[(i * 7 + i / 3) % units.size()];
            text += unit;
            expected += Utf8ToGbk(unit);
        }
        EXPECT_EQ(Utf8ToGbk(text), expected);
    };
    check({"中", "a", "\U0001F600", "€", "한", "ぁ", "\U00020000"}, 3000000);
    check({"中", "a", "\U0001F600", "\xFF", "\x80", "ぁ", "\x80\x80\x80\x80\x80"}, 300000);
}

TEST(GbkToUtf8, ConvertsValidBytes) {
    EXPECT_EQ(GbkToUtf8("\xC4\xE3\xBA\xC3, ok"), "你好, ok");
    EXPECT_EQ(GbkToUtf8("\x80"), "€");
    EXPECT_EQ(GbkToUtf8(""), "");
}

TEST(GbkToUtf8, InvalidBytesBecomeQuestionMarksKeepingFollowingAscii) {
    EXPECT_EQ(GbkToUtf8(std::string("a\xFF") + "b"), "a?b");
    EXPECT_EQ(GbkToUtf8("\x81"), "?");                                                // lead byte at the end
    EXPECT_EQ(GbkToUtf8(std::string("\x81\x7F") + "x"), std::string("?\x7F") + "x");  // 0x7F is no trail byte
    EXPECT_EQ(GbkToUtf8("\xD6 \xD6\xD0"), "? 中");                                    // nor is a space
    EXPECT_EQ(GbkToUtf8(std::string("\xD6") + "a"), "謅");                            // but a letter is
}

TEST(Gbk, RoundTripsAndLongTexts) {
    const std::string text = "Mixed 文本 € ΑΒΓ абв ＡＢＣ ぁ — 《》 123";
    EXPECT_EQ(GbkToUtf8(Utf8ToGbk(text)), text);
    // Longer than the converter's internal buffer in both directions.
    std::string longText;
    for (int i = 0; i < 3000; ++i)
        longText += i % 7 == 0 ? "a" : "中";
    const std::string gbk = Utf8ToGbk(longText);
    EXPECT_EQ(gbk.size(), GbkLength(longText));
    EXPECT_EQ(GbkToUtf8(gbk), longText);
    std::string allLeadTrail;
    for (int lead = 0xB0; lead <= 0xF7; ++lead) {
        allLeadTrail += static_cast<char>(lead);
        allLeadTrail += '\xA1';
    }
    EXPECT_EQ(Utf8ToGbk(GbkToUtf8(allLeadTrail)), allLeadTrail);
}

TEST(Gbk, ConvertersWorkInParallelThreads) {
    const std::string text = "线程 thread € 安全";
    const std::string expected = Utf8ToGbk(text);
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                if (Utf8ToGbk(text) != expected || GbkToUtf8(expected) != text)
                    ++failures[t];
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    for (const int f : failures)
        EXPECT_EQ(f, 0);
}

TEST(GbkLength, CountsGbkBytes) {
    EXPECT_EQ(GbkLength(""), 0u);
    EXPECT_EQ(GbkLength("abc"), 3u);
    EXPECT_EQ(GbkLength("ab中€\U0001F600"), 6u);  // 1 + 1 + 2 + 1 + 1 (would be "?")
    EXPECT_EQ(GbkLength(std::string("\xE4\xB8") + "a"), 3u);
    EXPECT_EQ(GbkLength("广州市天河区"), 12u);
}

TEST(ToGbkRepertoire, ReplacesCharactersWithoutGbkForm) {
    EXPECT_EQ(ToGbkRepertoire("a\U0001F600中€한"), "a?中€?");
    EXPECT_EQ(ToGbkRepertoire("公司"), "公司");
}

TEST(IsValidUtf8, AcceptsWellFormedText) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain ascii\t\n"));
    EXPECT_TRUE(IsValidUtf8("中文 € \U0001F600"));
    EXPECT_TRUE(IsValidUtf8("\xC2\x80"));              // U+0080
    EXPECT_TRUE(IsValidUtf8("\xED\x9F\xBF"));          // U+D7FF, just below the surrogates
    EXPECT_TRUE(IsValidUtf8("\xEE\x80\x80"));          // U+E000, just above them
    EXPECT_TRUE(IsValidUtf8("\xF4\x8F\xBF\xBF"));      // U+10FFFF
    EXPECT_TRUE(IsValidUtf8(std::string("a\0b", 3)));  // NUL is a character
}

TEST(IsValidUtf8, RejectsMalformedText) {
    // 0x41 is "A": ASCII where a continuation byte belongs.
    const char* const overlong[] = {"\xC0\x80",     "\xC1\xBF",         "\xE0\x80\x80",
                                    "\xE0\x9F\xBF", "\xF0\x80\x80\x80", "\xF0\x8F\xBF\xBF"};
    const char* const surrogate[] = {"\xED\xA0\x80", "\xED\xBF\xBF"};
    const char* const tooHigh[] = {"\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xFE"};
    const char* const stray[] = {"\x80", "a\xBF\x41"};
    const char* const truncated[] = {"\xE4\xB8", "\xF0\x9F\x98", "\xC3", "\xC3\x41", "\xE4\x41\xB8"};
    for (const char* text : overlong)
        EXPECT_FALSE(IsValidUtf8(text)) << testing::PrintToString(std::string(text));
    for (const char* text : surrogate)
        EXPECT_FALSE(IsValidUtf8(text)) << testing::PrintToString(std::string(text));
    for (const char* text : tooHigh)
        EXPECT_FALSE(IsValidUtf8(text)) << testing::PrintToString(std::string(text));
    for (const char* text : stray)
        EXPECT_FALSE(IsValidUtf8(text)) << testing::PrintToString(std::string(text));
    for (const char* text : truncated)
        EXPECT_FALSE(IsValidUtf8(text)) << testing::PrintToString(std::string(text));
}

TEST(Utf8SequenceLength, FromLeadByte) {
    EXPECT_EQ(Utf8SequenceLength('A'), 1u);
    EXPECT_EQ(Utf8SequenceLength(0xC2), 2u);
    EXPECT_EQ(Utf8SequenceLength(0xE4), 3u);
    EXPECT_EQ(Utf8SequenceLength(0xF0), 4u);
    EXPECT_EQ(Utf8SequenceLength(0xF4), 4u);
    for (const unsigned char stray : {0x80, 0xBF, 0xC0, 0xC1, 0xF5, 0xFF})
        EXPECT_EQ(Utf8SequenceLength(stray), 1u);
}

}  // namespace
}  // namespace vexo
