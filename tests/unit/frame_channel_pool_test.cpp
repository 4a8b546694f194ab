// The channel pool: arrays of frames given back serve the next frame of the
// same size, what it keeps stays under its bound, and every array is freed
// the way it was made (run under ASan).
#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "frame/byte_source.h"
#include "frame/channel_pool.h"
#include "frame/import_kor.h"
#include "frame/ostrel_frame_data.h"
#include "platform/platform.h"
#include "util/huge_pages.h"
#include "plugin_sdk/kor_plugin.h"
#include "support/kor_writer.h"

namespace {

struct PoolReset {
    PoolReset() { ChannelPool::Drain(); }
    ~PoolReset() {
        ChannelPool::SetBound(-1);
        ChannelPool::Drain();
    }
};

std::unique_ptr<OstrelFrameData> SmokeFrame(int side) {
    const std::vector<float> smoke = KorTest::MakeSmokeField(side, side, side, 1);
    const KorTest::Bytes bytes = KorTest::KorWriter().Grid(side, side, side).GridChannel(KOR_GRID_SMOKE, smoke).Build();
    auto frame = std::make_unique<OstrelFrameData>();
    KorFrame::MemorySource source(bytes.data(), bytes.size());
    EXPECT_EQ(ImportKorFrom(*frame, source, "memory.kor"), 0);
    return frame;
}

}  // namespace

TEST(ChannelPool, FramesGivenBackServeLaterFramesOfTheSameSizeOnly) {
    PoolReset reset;
    const float* first = nullptr;
    {
        auto frame = SmokeFrame(8);
        first = frame->GetChannel(KOR_GRID_SMOKE);
        ASSERT_NE(first, nullptr);
    }
    EXPECT_EQ(ChannelPool::GetStats().keptArrays, 1);
    {
        auto other = SmokeFrame(6);  // another size: a new array, the kept one stays
        ASSERT_NE(other->GetChannel(KOR_GRID_SMOKE), nullptr);
        EXPECT_NE(other->GetChannel(KOR_GRID_SMOKE), first);
        EXPECT_EQ(ChannelPool::GetStats().keptArrays, 1);
    }
    const ChannelPool::Stats before = ChannelPool::GetStats();
    auto again = SmokeFrame(8);
    EXPECT_EQ(again->GetChannel(KOR_GRID_SMOKE), first);
    EXPECT_EQ(ChannelPool::GetStats().reused, before.reused + 1);
    // The reused array holds this frame's values, bit for bit.
    const std::vector<float> expected =
        KorTest::SGGridDecoded(512, KorTest::MakeSmokeField(8, 8, 8, 1).data(), KorTest::SGGridOptions{});
    for (size_t i = 0; i < expected.size(); ++i) ASSERT_EQ(again->GetChannel(KOR_GRID_SMOKE)[i], expected[i]) << i;
}

TEST(ChannelPool, WhatIsKeptStaysUnderTheBound) {
    PoolReset reset;
    ChannelPool::SetBound(1000);
    ChannelPool::Give(ChannelPool::Take(300), 300);  // 1200 bytes: freed at once
    EXPECT_EQ(ChannelPool::GetStats().keptBytes, 0);
    for (int i = 0; i < 3; ++i) ChannelPool::Give(ChannelPool::Take(100 + i), 100 + i);
    const ChannelPool::Stats s = ChannelPool::GetStats();
    EXPECT_LE(s.keptBytes, 1000);
    EXPECT_EQ(s.keptArrays, 2);  // the oldest made room for the newest
    for (int i = 0; i < 2 * ChannelPool::kMaxKept; ++i) ChannelPool::Give(ChannelPool::Take(1), 1);
    EXPECT_LE(ChannelPool::GetStats().keptArrays, ChannelPool::kMaxKept);
    ChannelPool::SetBound(0);  // lowering the bound frees what is over it
    EXPECT_EQ(ChannelPool::GetStats().keptBytes, 0);
}

TEST(ChannelPool, ArraysAModuleStoresAreFreedAsMadeAndNeverPooled) {
    PoolReset reset;
    {
        auto frame = SmokeFrame(8);
        ASSERT_NE(frame->GetChannel(KOR_GRID_SMOKE), nullptr);
        // An import resets the frame first, which gives the decoded array
        // back; the module then stores a smaller array of its own.
        frame->ResetFrame(0);
        float* own = KorPlugin::NewChannelArray(1);
        ASSERT_NE(own, nullptr);
        ASSERT_TRUE(KorPlugin::SetChannel(frame.get(), KOR_GRID_SMOKE, own));
    }
    EXPECT_EQ(ChannelPool::GetStats().keptArrays, 1);  // the decoded array only
    // Were the module's array kept under the decoded count, filling it would
    // run past its end.
    float* next = ChannelPool::Take(8 * 8 * 8 + 4);
    ASSERT_NE(next, nullptr);
    for (size_t i = 0; i < 8 * 8 * 8 + 4; ++i) next[i] = 1.0f;
    ChannelPool::Give(next, 8 * 8 * 8 + 4);
}

TEST(ChannelPool, HugePageArraysAreOrdinaryArraysAndAdviceIsSafeOnAnyRange) {
    PoolReset reset;
    // Large enough to be advised, with a tail past the last whole huge page:
    // written end to end, kept, taken back intact and freed with delete[].
    const size_t values = (ZUtils::kHugePageMinBytes + (size_t{3} << 20) + 12) / sizeof(float);
    float* array = ChannelPool::Take(values);
    ASSERT_NE(array, nullptr);
    for (size_t i = 0; i < values; ++i) array[i] = static_cast<float>(i & 1023);
    ChannelPool::Give(array, values);
    float* again = ChannelPool::Take(values);
    ASSERT_EQ(again, array);
    EXPECT_EQ(again[values - 1], static_cast<float>((values - 1) & 1023));
    ChannelPool::Give(again, values);
    ChannelPool::Drain();
    // Advice is a no-op on ranges holding no whole huge page or wrapping around.
    char small[64];
    KorPlatform::AdviseHugePages(nullptr, size_t{8} << 20);
    KorPlatform::AdviseHugePages(small, sizeof small);
    KorPlatform::AdviseHugePages(small, SIZE_MAX);
    KorPlatform::AdviseHugePages(reinterpret_cast<void*>(UINTPTR_MAX - 16), 64);
    small[0] = 1;
    EXPECT_EQ(small[0], 1);
}
