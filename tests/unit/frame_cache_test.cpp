// Sharing, counting and releasing frames, with the exact log lines, and the
// colour expansion's failure paths.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "api/frame_cache.h"
#include "api/load_frame.h"
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

TEST(FrameCache, AFrameThatCannotEnterTheCacheIsDestroyedAndTheOpenFails) {
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
    // Outside the cache it could never be released: it is destroyed instead
    // (LeakSanitizer checks that), and the frames already cached stay usable.
    EXPECT_EQ(frame, nullptr);
    EXPECT_EQ(OstrelFrame::Frames().Count(), before);
    for (IKor* h : held) {
        EXPECT_GE(OstrelFrame::FindFrame(h), 0);
        int dims[3] = {};
        h->GetGridDim(dims);
        EXPECT_EQ(dims[0], 1);
    }
    IKor* again = OstrelFrame::OpenFrame(path.c_str(), "");  // with memory, the open works
    ASSERT_NE(again, nullptr);
    EXPECT_EQ(static_cast<OstrelFrameData*>(again)->refCount, 1);
    OstrelFrame::ReleaseFrame(again);
    for (IKor* h : held) OstrelFrame::ReleaseFrame(h);
}

TEST(FrameCache, AKeyThatCannotBeStoredFailsTheOpen) {
    KorTest::TempDir dir;
    const std::string path = dir.File("k.kor");
    ASSERT_TRUE(KorTest::KorWriter().Grid(1, 1, 1).WriteFile(path));
    const std::string mapping(40, 'm');  // longer than a string's small buffer
    ZUtils::FailAllocationAt(INT64_MAX);
    IKor* counted = OstrelFrame::OpenFrame(path.c_str(), mapping.c_str());
    const int64_t allocations = ZUtils::AllocationsCounted();
    ZUtils::FailAllocationAt(0);
    ASSERT_NE(counted, nullptr);
    OstrelFrame::ReleaseFrame(counted);
    // Whichever allocation fails, a frame is either handed out under its
    // whole key or not at all, and the status says which.
    for (int64_t k = 1; k <= allocations; ++k) {
        ZUtils::FailAllocationAt(k);
        int status = -1;
        IKor* frame = OstrelFrame::OpenFrame(path.c_str(), mapping.c_str(), &status);
        ZUtils::FailAllocationAt(0);
        EXPECT_EQ(status, frame == nullptr ? 4 : 0) << k;
        if (frame == nullptr) continue;
        const OstrelFrameData* data = static_cast<OstrelFrameData*>(frame);
        EXPECT_TRUE(data->path.Equals(path.c_str())) << k;
        EXPECT_TRUE(data->mapping.Equals(mapping.c_str())) << k;
        OstrelFrame::ReleaseFrame(frame);
    }
    EXPECT_EQ(OstrelFrame::Frames().Count(), 0);
}

TEST(ColourChannel, AFailedExpansionIsRetriedByTheNextRequest) {
    KorTest::TempDir dir;
    const std::string path = dir.File("c.kor");
    ASSERT_TRUE(KorTest::KorWriter().Grid(2, 2, 1).PackedColour(KorTest::Bytes(16, 0x80)).WriteFile(path));
    OstrelFrameData frame;
    ASSERT_EQ(LoadCacheFile(frame, path.c_str(), ""), 0);
    // Allocation 1 is the packed bytes; 2 to 4 the colour arrays.
    ZUtils::FailAllocationAt(3);
    EXPECT_EQ(frame.GetChannel(7), nullptr);
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(frame.channels[KOR_GRID_COLOUR_R], nullptr);
    const float* red = frame.GetChannel(7);
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red[0], 128.0f / 255.0f);
    EXPECT_EQ(frame.channels[KOR_GRID_PACKED_COLOUR], nullptr);  // packed bytes released
}

TEST(ColourChannel, ACutOffRecordIsInvalid) {
    KorTest::TempDir dir;
    const std::string path = dir.File("cut.kor");
    // Channel 18 claims 50 words where 3 are stored.
    ASSERT_TRUE(KorTest::KorWriter().Grid(2, 2, 1).RawChannelBlock({18, 50, 1, 2, 3}).WriteFile(path));
    OstrelFrameData frame;
    ASSERT_EQ(LoadCacheFile(frame, path.c_str(), ""), 0);
    LogCapture log;
    EXPECT_EQ(frame.GetChannel(8), nullptr);
    EXPECT_EQ(frame.GetChannel(8), nullptr);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{"Invalid cache file!!!\n", "Invalid cache file!!!\n"}));
}
