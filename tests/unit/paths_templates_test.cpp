// Path templates and frame numbers.
#include <gtest/gtest.h>

#include <string>

#include "paths/frame_paths.h"

namespace {

std::string Replace(const char* path, int frame, const char* fallback = "") {
    return ReplaceFramePattern(path, frame, fallback).c_str();
}

TEST(FrameTemplate, HashRunsAreMinimumWidths) {
    EXPECT_EQ(Replace("C:/sim/Cache_####.vdb", 7), "C:/sim/Cache_0007.vdb");
    EXPECT_EQ(Replace("C:/sim/Cache_####.vdb", 12345), "C:/sim/Cache_12345.vdb");
    EXPECT_EQ(Replace("Cache_#.vdb", 0), "Cache_0.vdb");
}

TEST(FrameTemplate, NegativeNumbersPutTheSignBeforeZerosAndAfterBlanks) {
    EXPECT_EQ(Replace("Cache_%04d.vdb", -7), "Cache_-007.vdb");
    EXPECT_EQ(Replace("Cache_####.vdb", -1), "Cache_-001.vdb");
    EXPECT_EQ(Replace("Cache_%4d.vdb", 7), "Cache_   7.vdb");
    EXPECT_EQ(Replace("Cache_%4d.vdb", -7), "Cache_  -7.vdb");
    EXPECT_EQ(Replace("Cache_%2d.vdb", -123), "Cache_-123.vdb");
    EXPECT_EQ(Replace("Cache_##.vdb", -2147483647), "Cache_-2147483647.vdb");
}

TEST(FrameTemplate, SmallestIntegerGivesNoText) {
    EXPECT_EQ(Replace("Cache_####.vdb", INT32_MIN), "Cache_.vdb");
    EXPECT_EQ(Replace("Cache_%04u.vdb", INT32_MIN), "Cache_.vdb");
}

TEST(FrameTemplate, UnsignedReadsTheBitsAsUnsigned) {
    EXPECT_EQ(Replace("f%u", -1), "f4294967295");
    EXPECT_EQ(Replace("f%06U", 42), "f000042");
    EXPECT_EQ(Replace("f%3u", 5), "f  5");
}

TEST(FrameTemplate, AllPlaceholderForms) {
    EXPECT_EQ(Replace("Cache_<frame03>.vdb", 5), "Cache_005.vdb");
    EXPECT_EQ(Replace("Cache_<frame>.vdb", 5), "Cache_5.vdb");
    EXPECT_EQ(Replace("Cache_<frame4>.vdb", 5), "Cache_   5.vdb");
    EXPECT_EQ(Replace("a%dD%Ii%i", 3), "a3D3i3");
    EXPECT_EQ(Replace("x#_#", 4), "x4_4");  // every placeholder of the name
}

TEST(FrameTemplate, TextThatIsNotAPlaceholderStays) {
    EXPECT_EQ(Replace("Cache_%%d.vdb", 5), "Cache_%%d.vdb");
    EXPECT_EQ(Replace("Cache_%x.vdb", 5), "Cache_%x.vdb");
    EXPECT_EQ(Replace("Cache_<fram>.vdb", 5), "Cache_<fram>.vdb");
    EXPECT_EQ(Replace("Cache_<frame3.vdb", 5), "Cache_<frame3.vdb");
    EXPECT_EQ(Replace("Cache_%-4d.vdb", 5), "Cache_%-4d.vdb");
    // After '<' that does not start "<frame" the next character is skipped too.
    EXPECT_EQ(Replace("a<#b#", 1), "a<#b1");
}

TEST(FrameTemplate, ScanningStopsAtTheTerminator) {
    // Each of these ends inside a placeholder's syntax.
    EXPECT_EQ(Replace("a<", 1), "a<");
    EXPECT_EQ(Replace("a%", 1), "a%");
    EXPECT_EQ(Replace("a%0", 1), "a%0");
    EXPECT_EQ(Replace("a%12", 1), "a%12");
    EXPECT_EQ(Replace("a<frame", 1), "a<frame");
    EXPECT_EQ(Replace("a<frame0", 1), "a<frame0");
    EXPECT_EQ(Replace("a<fr", 1), "a<fr");
    EXPECT_EQ(HasFramePattern("a<"), 0);
    EXPECT_EQ(HasFramePattern("%"), 0);
}

TEST(FrameTemplate, WidthsAboveTwelveAreCut) {
    EXPECT_EQ(Replace("c_#############.v", 7), "c_000000000007.v");  // 13 '#'
    EXPECT_EQ(Replace("c_%099d.v", 7), "c_000000000007.v");
    EXPECT_EQ(Replace("c_%0999999999999999999d.v", -7), "c_-00000000007.v");
    EXPECT_EQ(Replace("c_<frame013>.v", 7), "c_000000000007.v");
    EXPECT_EQ(Replace("c_#############.v", INT32_MAX - 1), "c_002147483646.v");
}

TEST(FrameTemplate, NoFrameWritesTheFallbackCutTo15) {
    EXPECT_EQ(Replace("Cache_####.vdb", KorPaths::kNoFrame, "*"), "Cache_*.vdb");
    EXPECT_EQ(Replace("Cache_####.vdb", KorPaths::kNoFrame, "#"), "Cache_#.vdb");
    EXPECT_EQ(Replace("Cache_####.vdb", KorPaths::kNoFrame, nullptr), "Cache_.vdb");
    EXPECT_EQ(Replace("C_#.v", KorPaths::kNoFrame, "0123456789abcdefXYZ"), "C_0123456789abcde.v");
}

TEST(FrameTemplate, DirectoriesKeepTheirPlaceholders) {
    EXPECT_EQ(Replace("C:/run_##/Cache_####.vdb", 3), "C:/run_##/Cache_0003.vdb");
    EXPECT_EQ(Replace("C:\\run_##\\Cache_####.vdb", 3), "C:\\run_##\\Cache_0003.vdb");
    EXPECT_EQ(HasFramePattern("C:/run_##/Cache.vdb"), 1);
    EXPECT_EQ(Replace("C:/run_##/Cache.vdb", 3), "C:/run_##/Cache.vdb");
}

TEST(FrameTemplate, HasFramePattern) {
    EXPECT_EQ(HasFramePattern(nullptr), 0);
    EXPECT_EQ(HasFramePattern(""), 0);
    EXPECT_EQ(HasFramePattern("Cache.vdb"), 0);
    EXPECT_EQ(HasFramePattern("Cache_%%d.vdb"), 0);
    EXPECT_EQ(HasFramePattern("Cache_<fram>.vdb"), 0);
    EXPECT_EQ(HasFramePattern("Cache_#.vdb"), 1);
    EXPECT_EQ(HasFramePattern("Cache_%u.vdb"), 1);
    EXPECT_EQ(HasFramePattern("Cache_<frame>.vdb"), 1);
    EXPECT_EQ(Replace(nullptr, 1), "");
}

TEST(FrameTemplate, BytesThatAreNotUtf8PassThrough) {
    EXPECT_EQ(Replace("d\xff\xfe/\xc0#\x80.vdb", 9), "d\xff\xfe/\xc0" "9\x80.vdb");
    EXPECT_EQ(ParseFrameNumber("\xff\xc3" "12.vdb"), 12);
}

TEST(FrameNumber, LastDigitsBeforeTheExtension) {
    EXPECT_EQ(ParseFrameNumber("Cache_0012.vdb"), 12);
    EXPECT_EQ(ParseFrameNumber("Cache-5.vdb"), -5);
    EXPECT_EQ(ParseFrameNumber("C:/a/run3/Cache_-001.vdb"), -1);
    EXPECT_EQ(ParseFrameNumber("Cache_12_v.vdb"), 12);
    EXPECT_EQ(ParseFrameNumber("7.vdb"), 7);
    EXPECT_EQ(ParseFrameNumber("a.1.2"), 1);
}

TEST(FrameNumber, NamesWithoutANumber) {
    const int none = KorPaths::kNoFrame;
    EXPECT_EQ(ParseFrameNumber("a/b.1/Cache"), none);
    EXPECT_EQ(ParseFrameNumber("Cache.vdb"), none);
    EXPECT_EQ(ParseFrameNumber("run12/Cache.vdb"), none);
    EXPECT_EQ(ParseFrameNumber("run12\\Cache.vdb"), none);
    EXPECT_EQ(ParseFrameNumber(".vdb"), none);
    EXPECT_EQ(ParseFrameNumber("Cache"), none);
    EXPECT_EQ(ParseFrameNumber(""), none);
    EXPECT_EQ(ParseFrameNumber(nullptr), none);
}

TEST(FrameNumber, NumbersBeyond32BitsNameNoFrame) {
    EXPECT_EQ(ParseFrameNumber("c_2147483647.v"), KorPaths::kNoFrame);
    EXPECT_EQ(ParseFrameNumber("c_-2147483648.v"), INT32_MIN);
    EXPECT_EQ(ParseFrameNumber("c_2147483648.v"), KorPaths::kNoFrame);
    EXPECT_EQ(ParseFrameNumber("c_99999999999999999999999.v"), KorPaths::kNoFrame);
    EXPECT_EQ(ParseFrameNumber("c_0000000000000000000042.v"), 42);
}

TEST(Extension, LowerCasedAsciiAfterTheLastDot) {
    EXPECT_EQ(std::string(GetExtension("a/B.VDB").c_str()), "vdb");
    EXPECT_EQ(std::string(GetExtension("a.b/c").c_str()), "b/c");
    EXPECT_EQ(std::string(GetExtension("Cache").c_str()), "");
    EXPECT_EQ(std::string(GetExtension("x.\xc3\x89T").c_str()), "\xc3\x89t");
    EXPECT_EQ(std::string(GetExtension(nullptr).c_str()), "");
    // The test without allocating agrees.
    for (const char* path : {"a/B.VDB", "a.b/c", "Cache", "x.\xc3\x89T", "a.kor", "a.kor.f3d", "a.ko", "a.korx"})
        for (const char* extension : {"vdb", "b/c", "", "\xc3\x89t", "kor", "f3d"})
            EXPECT_EQ(HasExtension(path, extension), GetExtension(path).Equals(extension)) << path << " " << extension;
    EXPECT_TRUE(HasExtension(nullptr, ""));
    EXPECT_FALSE(HasExtension(nullptr, "kor"));
}

}  // namespace
