// How stored contact lists and numbers read back: the separators older rows used, blanks around the list, and
// numbers that are not plain 32-bit decimals.
#include "store/KeyUnit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vexo {
namespace {

using TValues = std::vector<std::string>;

TEST(KeyUnitTest, StoredListsSplitAtEveryKindOfLineBreak) {
    EXPECT_EQ(SplitStoredList(StoredListText({"138", "139"})), (TValues{"138", "139"}));
    EXPECT_EQ(SplitStoredList("a\rb\nc\r\nd"), (TValues{"a", "b", "c", "d"}));
    // "|" is a carriage return: followed by LF it is one break, doubled it leaves an empty value between.
    EXPECT_EQ(SplitStoredList("a|\nb||c|"), (TValues{"a", "b", "", "c"}));
    EXPECT_EQ(SplitStoredList(" \t a b \r\n\r\n"), (TValues{"a b"}));
    EXPECT_EQ(SplitStoredList(""), TValues{});
    EXPECT_EQ(SplitStoredList("\r\n"), TValues{});
    EXPECT_EQ(SplitStoredList("ok\r\n\xFF"), TValues{});  // not UTF-8: reads as empty
}

TEST(KeyUnitTest, StoredNumbersThatAreNotPlainIntegersReadAsZero) {
    EXPECT_EQ(StoredInt32("42"), 42);
    EXPECT_EQ(StoredInt32("-7"), -7);
    EXPECT_EQ(StoredInt32("+7"), 7);
    EXPECT_EQ(StoredInt32("2147483647"), 2147483647);
    for (const char* text : {"", "+", "+-7", "2147483648", "3.0", "1e3", " 5", "5 ", "0x10", "abc"})
        EXPECT_EQ(StoredInt32(text), 0) << text;
    EXPECT_EQ(StoredInt64("4102444800"), 4102444800);  // a time stamp after 2038
}

}  // namespace
}  // namespace vexo
