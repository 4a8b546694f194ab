// Sharing, counting and releasing frames, with the exact log lines, and the
// colour expansion's failure paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/frame_cache.h"
#include "frame/ostrel_frame_data.h"
#include "log_capture.h"
#include "support/kor_writer.h"
#include "support/temp_dir.h"
#include "util/alloc.h"

namespace {

std::string RefLine(const char* sign, const void* frame, int count, const std::string& path) {
    char line[512];
    std::snprintf(line, sizeof line, "OstrelFrameData refCount%s %08X %d, %s\n", sign,
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(frame)), count, path.c_str());
    return line;
}

}  // namespace

TEST(FrameCache, CountsReferencesWithTheirLogLines) {
    KorTest::TempDir dir;
    const std::string path = dir.File("a.kor");
    ASSERT_TRUE(KorTest::KorWriter().Grid(1, 1, 1).WriteFile(path));
    LogCapture log;
    IKor* a = OstrelFrame::OpenFrame(path.c_str(), "");
    IKor* b = OstrelFrame::OpenFrame(path.c_str(), "");
    ASSERT_EQ(a, b);
    OstrelFrame::ReleaseFrame(a);
    OstrelFrame::ReleaseFrame(a);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{RefLine("++", a, 1, path), RefLine("++", a, 2, path),
                                                   RefLine("--", a, 1, path), RefLine("--", a, 0, path)}));
    EXPECT_EQ(OstrelFrame::FindFrame(a), -1);
}

TEST(FrameCache, UnloadReportsAndDestroysWhatTheHostKept) {
    LogCapture log;
    {
        OstrelFrame::FrameDataArray cache;
        OstrelFrameData* frame = new OstrelFrameData();
        frame->frameNumber = 12;
        frame->refCount = 2;
        cache.Append(frame);
    }
    EXPECT_EQ(log.Log(), std::vector<std::string>{"Ostrel cache file not released 12 ref:2\n"});
}

TEST(FrameCache, AFrameThatCannotEnterTheCacheIsStillHandedOutUnshared) {
    KorTest::TempDir dir;
    const std::string path = dir.File("b.kor");
    ASSERT_TRUE(KorTest::KorWriter().Grid(1, 1, 1).WriteFile(path));
    std::vector<IKor*> held;
    int files = 0;
    auto fillCache = [&] {  // until the next frame needs the cache to grow
        while (held.empty() || OstrelFrame::Frames().Count() < OstrelFrame::Frames().Capacity()) {
            const std::string other = dir.File("f" + std::to_string(files++) + ".kor");
            ASSERT_TRUE(KorTest::KorWriter().Grid(1, 1, 1).WriteFile(other));
            held.push_back(OstrelFrame::OpenFrame(other.c_str(), ""));
        }
    };
    auto countAllocationsOfAnOpen = [&] {
        fillCache();
        ZUtils::FailAllocationAt(INT64_MAX);  // count without failing
        IKor* counted = OstrelFrame::OpenFrame(path.c_str(), "");
        const int64_t allocations = ZUtils::AllocationsCounted();
        ZUtils::FailAllocationAt(0);
        OstrelFrame::ReleaseFrame(counted);
        fillCache();
        return allocations;
    };
    countAllocationsOfAnOpen();  // first use of everything the open touches
    // The cache's growth is the last allocation of an open that needs it.
    const int64_t allocations = countAllocationsOfAnOpen();

    const int32_t before = OstrelFrame::Frames().Count();
    ZUtils::FailAllocationAt(allocations);
    IKor* frame = OstrelFrame::OpenFrame(path.c_str(), "");
    ZUtils::FailAllocationAt(0);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(OstrelFrame::Frames().Count(), before);  // not in the cache
    EXPECT_EQ(static_cast<OstrelFrameData*>(frame)->refCount, 1);
    for (IKor* h : held) EXPECT_GE(OstrelFrame::FindFrame(h), 0);
    IKor* again = OstrelFrame::OpenFrame(path.c_str(), "");  // not shared: a frame of its own
    EXPECT_NE(again, frame);
    OstrelFrame::ReleaseFrame(frame);  // ignored: not in the cache
    EXPECT_EQ(static_cast<OstrelFrameData*>(frame)->refCount, 1);
    delete static_cast<OstrelFrameData*>(frame);
    OstrelFrame::ReleaseFrame(again);
    for (IKor* h : held) OstrelFrame::ReleaseFrame(h);
}

TEST(ColourChannel, AFailedExpansionIsRetriedByTheNextRequest) {
    KorTest::TempDir dir;
    const std::string path = dir.File("c.kor");
    ASSERT_TRUE(KorTest::KorWriter().Grid(2, 2, 1).PackedColour(KorTest::Bytes(16, 0x80)).WriteFile(path));
    OstrelFrameData frame;
    ASSERT_EQ(frame.LoadCacheFile(path.c_str(), ""), 0);
    // Allocation 1 is the packed bytes; 2 to 4 the colour arrays.
    ZUtils::FailAllocationAt(3);
    EXPECT_EQ(frame.GetChannel(7), nullptr);
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(frame.channels[KorFrame::kRed], nullptr);
    const float* red = frame.GetChannel(7);
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red[0], 128.0f / 255.0f);
    EXPECT_EQ(frame.channels[KorFrame::kPackedColour], nullptr);  // packed bytes released
}

TEST(ColourChannel, ACutOffRecordIsInvalid) {
    KorTest::TempDir dir;
    const std::string path = dir.File("cut.kor");
    // Channel 18 claims 50 words where 3 are stored.
    ASSERT_TRUE(KorTest::KorWriter().Grid(2, 2, 1).RawChannelBlock({18, 50, 1, 2, 3}).WriteFile(path));
    OstrelFrameData frame;
    ASSERT_EQ(frame.LoadCacheFile(path.c_str(), ""), 0);
    LogCapture log;
    EXPECT_EQ(frame.GetChannel(8), nullptr);
    EXPECT_EQ(frame.GetChannel(8), nullptr);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{"Invalid cache file!!!\n", "Invalid cache file!!!\n"}));
}
