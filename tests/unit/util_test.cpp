// The shared types: the library's string, iArray, the UTF-8 rule, checked reads.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "util/alloc.h"
#include "util/byte_reader.h"
#include "util/iarray.h"
#include "util/kor_string.h"
#include "util/utf8.h"

namespace {

std::u16string Wide(const std::string& utf8) {
    ZUtils::String s(utf8.data(), utf8.size());
    return std::u16string(s.Wide());
}

std::u16string Raw(unsigned byte) {
    const uint32_t cp = 0x100000 + byte - 0x10000;
    return std::u16string{static_cast<char16_t>(0xD800 + (cp >> 10)), static_cast<char16_t>(0xDC00 + (cp & 0x3FF))};
}

}  // namespace

TEST(KorString, OnePointerWithHeaderInFront) {
    static_assert(sizeof(ZUtils::String) == sizeof(void*));
    ZUtils::String empty;
    EXPECT_STREQ(empty.c_str(), "");
    EXPECT_EQ(empty.Length(), 0);
    ZUtils::String s("density");
    EXPECT_EQ(s.Length(), 7);
    EXPECT_TRUE(s.Equals("density"));
    EXPECT_FALSE(s.Equals("Density"));  // case-sensitive
    EXPECT_FALSE(s.Equals("densit"));
    EXPECT_TRUE(ZUtils::String().Equals(nullptr));
}

TEST(KorString, AppendCopyMoveAndSelfReference) {
    ZUtils::String s("ab");
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(s.Append("cd"));
    EXPECT_EQ(s.Length(), 202);
    s.Append(s.c_str(), 2);  // appending a piece of itself while growing
    EXPECT_EQ(std::string(s.c_str()).substr(200), "cdab");
    ZUtils::String copy(s);
    EXPECT_TRUE(copy == s);
    ZUtils::String moved(std::move(copy));
    EXPECT_TRUE(moved == s);
    s.Assign(s.c_str() + 1, 3);  // assigning a piece of itself
    EXPECT_STREQ(s.c_str(), "bcd");
    ZUtils::String f;
    f.AppendFormat("%d,%s;", 2, "density");
    EXPECT_STREQ(f.c_str(), "2,density;");
}

TEST(KorString, FailedAllocationKeepsTheOldValue) {
    ZUtils::String s("kept");
    ZUtils::FailAllocationAt(1, true);
    const bool assigned = s.Assign(std::string(100, 'x').c_str());
    ZUtils::String fresh("x");  // its small buffer cannot be made either
    ZUtils::FailAllocationAt(0);
    EXPECT_FALSE(assigned);
    EXPECT_STREQ(s.c_str(), "kept");
    EXPECT_STREQ(fresh.c_str(), "");
    EXPECT_TRUE(fresh.Assign("now it works"));
    EXPECT_STREQ(fresh.c_str(), "now it works");
}

TEST(Utf8Rule, WellFormedSequencesBecomeTheirCodePoints) {
    EXPECT_EQ(Wide("abc"), u"abc");
    EXPECT_EQ(Wide("\xC3\xA9"), u"\u00E9");
    EXPECT_EQ(Wide("\xE2\x82\xAC"), u"\u20AC");
    EXPECT_EQ(Wide("\xF0\x9F\x98\x80"), std::u16string(u"\U0001F600"));  // a surrogate pair
    EXPECT_EQ(Wide("\xF4\x80\x84\x80"), std::u16string(u"\U00100100"));  // just above the reserved run
}

TEST(Utf8Rule, EveryOtherByteIsCarriedAsU100000PlusTheByte) {
    EXPECT_EQ(Wide("\x80"), Raw(0x80));  // stray continuation byte
    EXPECT_EQ(Wide("a\xE2\x82"
                   "b"),
              u"a" + Raw(0xE2) + Raw(0x82) + u"b");                                   // cut sequence
    EXPECT_EQ(Wide("\xC0\xAF"), Raw(0xC0) + Raw(0xAF));                               // overlong '/'
    EXPECT_EQ(Wide("\xE0\x80\xAF"), Raw(0xE0) + Raw(0x80) + Raw(0xAF));               // overlong, 3 bytes
    EXPECT_EQ(Wide("\xF4\x90\x80\x80"), Raw(0xF4) + Raw(0x90) + Raw(0x80) + Raw(0x80));  // above U+10FFFF
    EXPECT_EQ(Wide("\xF4\x80\x80\x80"), Raw(0xF4) + Raw(0x80) + Raw(0x80) + Raw(0x80));  // U+100000
    EXPECT_EQ(Wide("\xF4\x80\x83\xBF"), Raw(0xF4) + Raw(0x80) + Raw(0x83) + Raw(0xBF));  // U+1000FF
    EXPECT_EQ(Wide("\xFF"), Raw(0xFF));
    EXPECT_EQ(Wide("\xF0\x9F\x98"), Raw(0xF0) + Raw(0x9F) + Raw(0x98));  // cut at the end of the text
}

TEST(Utf8Rule, ConversionCanBeUndoneByteForByte) {
    const std::string names[] = {"plain.kor", "caf\xC3\xA9/\xE2\x82\xAC.kor", "bad\x80\xFF\xC0\xAF.kor",
                                 "cut\xF0\x9F\x98"};
    for (const std::string& name : names) {
        const std::u16string wide = Wide(name);
        std::string back(ZUtils::Utf8BytesFor(wide.data(), wide.size()), '\0');
        ZUtils::ConvertUtf16ToUtf8(wide.data(), wide.size(), back.data());
        EXPECT_EQ(back, name);
    }
}

TEST(IArray, GrowsByTheNonExactRuleAndKeepsElements) {
    iArray<int> a;
    EXPECT_EQ(a.Count(), 0);
    ASSERT_TRUE(a.Append(5));
    EXPECT_EQ(a.Capacity(), 9);  // 1 + max(8, 1/4)
    const int fill = 7;
    ASSERT_TRUE(a.SetSize(100, &fill));
    EXPECT_EQ(a.Capacity(), 125);  // 100 + 100/4
    EXPECT_EQ(a[0], 5);
    EXPECT_EQ(a[99], 7);
    ASSERT_TRUE(a.SetSize(200, nullptr, true));
    EXPECT_EQ(a.Capacity(), 200);
    EXPECT_EQ(a[150], 0);
    EXPECT_EQ(a.Find(7), 1);
    EXPECT_EQ(a.Find(42), -1);
}

TEST(IArray, NegativeSizeIsRefusedWithItsLogLine) {
    LogCapture log;
    iArray<int> a;
    a.Append(1);
    EXPECT_FALSE(a.SetSize(-1));
    EXPECT_EQ(a.Count(), 1);
    EXPECT_TRUE(log.Logged("[ERROR] iArray SetSize() overflow!\n"));
}

TEST(IArray, FailedGrowthKeepsTheElements) {
    iArray<int> a;
    for (int i = 0; i < 9; ++i) a.Append(i);
    ZUtils::FailAllocationAt(1);
    const bool grown = a.Append(9);
    ZUtils::FailAllocationAt(0);
    EXPECT_FALSE(grown);
    ASSERT_EQ(a.Count(), 9);
    EXPECT_EQ(a[8], 8);
}

TEST(IArray, RemovalKeepsOrderOrMovesTheLastIntoTheGap) {
    iArray<int> a;
    for (int i = 0; i < 5; ++i) a.Append(i);
    a.RemoveKeepOrder(1);
    EXPECT_EQ((std::vector<int>(a.begin(), a.end())), (std::vector<int>{0, 2, 3, 4}));
    a.RemoveSwapLast(0);
    EXPECT_EQ((std::vector<int>(a.begin(), a.end())), (std::vector<int>{4, 2, 3}));
    a.RemoveSwapLast(7);  // out of range: nothing
    EXPECT_EQ(a.Count(), 3);
}

TEST(IArray, HoldsNonTrivialElementsByValue) {
    iArray<ZUtils::String> names;
    for (int i = 0; i < 50; ++i) {
        ZUtils::String s;
        s.AppendFormat("grid%d", i);
        ASSERT_TRUE(names.Append(s));
    }
    EXPECT_STREQ(names[49].c_str(), "grid49");
    names.Append(names[0]);  // an element of itself, while the block moves
    EXPECT_STREQ(names[50].c_str(), "grid0");
}

TEST(IArray, MoveAssignmentReleasesTheOldElementsAndTakesTheOthers) {
    iArray<ZUtils::String> to, from;
    ASSERT_TRUE(to.Append(ZUtils::String("old")));  // released by the move (the leak check sees it)
    ASSERT_TRUE(from.Append(ZUtils::String("new")));
    to = std::move(from);
    ASSERT_EQ(to.Count(), 1);
    EXPECT_STREQ(to[0].c_str(), "new");
    EXPECT_EQ(from.Count(), 0);
    EXPECT_EQ(from.Data(), nullptr);
}

TEST(ByteReader, ReadsNeverRunPastTheEnd) {
    const uint8_t bytes[6] = {1, 0, 0, 0, 2, 0};
    ZUtils::ByteReader r(bytes, sizeof bytes);
    int32_t v = 0;
    ASSERT_TRUE(r.ReadValue(v));
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(r.ReadValue(v));  // 2 bytes left
    EXPECT_EQ(r.Remaining(), 2u);
    int16_t w = 0;
    EXPECT_TRUE(r.ReadValue(w));
    EXPECT_EQ(w, 2);
    EXPECT_FALSE(r.Skip(1));
    EXPECT_FALSE(r.SeekTo(7));
    ZUtils::ByteReader part;
    EXPECT_TRUE(r.SeekTo(2));
    EXPECT_FALSE(r.Split(5, part));
    EXPECT_TRUE(r.Split(4, part));
    EXPECT_EQ(part.Size(), 4u);
}
