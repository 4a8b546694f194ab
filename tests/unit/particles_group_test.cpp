// PGroup: the channel table, lazy decoding, the ID ordering and search, the
// velocity taken from the grid, and many threads reading one group.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "frame/ostrel_frame_data.h"
#include "log_capture.h"
#include "particles/grid_velocity.h"
#include "particles/id_order.h"
#include "particles/pgroup.h"
#include "particles_test_util.h"
#include "util/alloc.h"
#include "util/nothrow_new.h"

using namespace KorParticles;
using KorTest::Words;
using ParticleTest::Pattern;
using ParticleTest::ReadAll;
using ParticleTest::Store;
using ParticleTest::ToBytes;

namespace {

void StoreIds(PGroup& group, const std::vector<int64_t>& ids, uint32_t method = 0) {
    Store(group, KOR_PARTICLE_ID, method, KorTest::Int64Words(ids));
}

}  // namespace

TEST(ParticleGroup, ChannelTable) {
    PGroup g;
    EXPECT_EQ(g.GetChannelSize(0), 12);
    EXPECT_EQ(g.GetChannelSize(10), 8);
    EXPECT_EQ(g.GetChannelSize(6), 0);
    EXPECT_EQ(g.GetChannelSize(20), 4);
    EXPECT_EQ(g.GetChannelSize(-3), 4);
    EXPECT_EQ(g.GetChannelType(0), 10);
    EXPECT_EQ(g.GetChannelType(10), 7);
    EXPECT_EQ(g.GetChannelType(13), 6);
    EXPECT_EQ(g.GetChannelType(20), 0);
    EXPECT_EQ(g.GetChannelComponents(4), 3);
    EXPECT_EQ(g.GetChannelComponents(10), 1);
    EXPECT_EQ(g.GetChannelComponents(7), 0);
    EXPECT_EQ(g.GetChannelComponents(20), 1);
    EXPECT_EQ(g.GetChannelComponents(-1), 1);
    EXPECT_EQ(g.HasChannel(-1), 0);
    EXPECT_EQ(g.HasChannel(32), 0);
}

TEST(ParticleGroup, WithoutPositionsItReportsNoParticles) {
    PGroup g;
    g.SetParticleCount(4);
    Store(g, KOR_PARTICLE_SIZE, 0, Pattern(4, 1));
    EXPECT_EQ(g.GetNumParticles(), 0);
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_SIZE), 1);
    Store(g, KOR_PARTICLE_POSITION, 1, Pattern(12, 2));
    EXPECT_EQ(g.GetNumParticles(), 4);
}

TEST(ParticleGroup, DecodesOnFirstUseAndReleasesTheCompressedBytes) {
    PGroup g;
    g.SetParticleCount(50);
    const Words positions = Pattern(150, 3);
    Store(g, KOR_PARTICLE_POSITION, 4, positions);
    EXPECT_GT(g.CompressedSize(KOR_PARTICLE_POSITION), 0);
    EXPECT_EQ(g.DecodedSize(KOR_PARTICLE_POSITION), 0);
    EXPECT_EQ(ReadAll(g, KOR_PARTICLE_POSITION), positions);
    EXPECT_EQ(g.CompressedSize(KOR_PARTICLE_POSITION), 0);
    EXPECT_EQ(g.DecodedSize(KOR_PARTICLE_POSITION), 600);
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_POSITION), 1);
    EXPECT_EQ(ReadAll(g, KOR_PARTICLE_POSITION), positions);  // no second decode: the bytes are gone
}

TEST(ParticleGroup, EveryMethodServesEveryElement) {
    for (uint32_t method = 0; method <= 4; ++method) {
        PGroup g;
        g.SetParticleCount(70);
        const Words velocity = Pattern(210, method + 10);
        const Words age = Pattern(70, method + 20);
        Store(g, KOR_PARTICLE_VELOCITY, method, velocity);
        Store(g, KOR_PARTICLE_AGE, method, age);
        EXPECT_EQ(ReadAll(g, KOR_PARTICLE_VELOCITY), velocity) << method;
        EXPECT_EQ(ReadAll(g, KOR_PARTICLE_AGE), age) << method;
    }
}

TEST(ParticleGroup, ADamagedChannelIsEmptiedAndEveryLaterReadFails) {
    LogCapture log;
    PGroup g;
    g.SetParticleCount(3);
    KorTest::Bytes damaged = KorTest::EncodeZip(Pattern(9, 1));
    damaged.resize(damaged.size() - 3);
    g.SetCompressedChannel(KOR_PARTICLE_COLOUR, 1, ToBytes(damaged));
    float out[3] = {};
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_COLOUR, out), 0);
    EXPECT_TRUE(log.Logged("Error decompressing particle channel 4 with method 1\n"));
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_COLOUR), 0);
    EXPECT_EQ(g.CompressedSize(KOR_PARTICLE_COLOUR), 0);
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_COLOUR, out), 0);
    EXPECT_FALSE(g.decompressChannel(KOR_PARTICLE_COLOUR, true));
    EXPECT_TRUE(log.Logged("PGroup::decompressChannel failed: no compression data!"));
}

TEST(ParticleGroup, AnUnknownMethodFailsQuietlyAndNeverPassesForDecoded) {
    LogCapture log;
    PGroup g;
    g.SetParticleCount(2);
    g.SetCompressedChannel(KOR_PARTICLE_SIZE, 9, ToBytes(KorTest::EncodePlain(Pattern(2, 1))));
    float out = 0;
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_SIZE, &out), 0);
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_SIZE, &out), 0);  // still failing, not "already decoded"
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_SIZE), 1);
    EXPECT_GT(g.CompressedSize(KOR_PARTICLE_SIZE), 0);
    EXPECT_TRUE(log.Log().empty());
}

TEST(ParticleGroup, ChannelsWithoutElementBytesStayPresentOnceDecoded) {
    PGroup g;
    g.SetParticleCount(5);
    g.SetCompressedChannel(7, 4, ToBytes({1, 2, 3}));
    uint8_t out = 0xEE;
    EXPECT_EQ(g.GetParticleChannel(0, 7, &out), 1);
    EXPECT_EQ(out, 0xEE);  // nothing to copy
    EXPECT_EQ(g.HasChannel(7), 1);
    EXPECT_EQ(g.GetParticleChannel(1, 7, &out), 1);
}

TEST(ParticleGroup, IndicesOutsideTheGroupAreRefused) {
    PGroup g;
    g.SetParticleCount(2);
    Store(g, KOR_PARTICLE_AGE, 0, Pattern(2, 1));
    float out = 0;
    EXPECT_EQ(g.GetParticleChannel(2, KOR_PARTICLE_AGE, &out), 0);
    EXPECT_EQ(g.GetParticleChannel(-1, KOR_PARTICLE_AGE, &out), 0);
    EXPECT_EQ(g.GetParticleChannel(1, KOR_PARTICLE_AGE, nullptr), 0);
    EXPECT_EQ(g.ElementPointer(KOR_PARTICLE_AGE, 2), nullptr);
}

TEST(ParticleGroup, AllocationFailureOfTheElementsKeepsTheChannelForLater) {
    PGroup g;
    g.SetParticleCount(4);
    const Words sizes = Pattern(4, 9);
    Store(g, KOR_PARTICLE_SIZE, 1, sizes);
    ZUtils::FailAllocationAt(1);
    float out = 0;
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_SIZE, &out), 0);
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(ReadAll(g, KOR_PARTICLE_SIZE), sizes);
}

TEST(ParticleGroup, MovedGroupsKeepTheirDataAndDecodeWithFreshLocks) {
    iArray<PGroup> groups;
    ASSERT_TRUE(groups.SetSize(1));
    groups[0].name.Assign("first");
    groups[0].SetParticleCount(3);
    Store(groups[0], KOR_PARTICLE_POSITION, 3, Pattern(9, 4));
    StoreIds(groups[0], {9, 3, 5});
    ASSERT_EQ(groups[0].FindParticleByID(5), 2);
    ASSERT_TRUE(groups.SetSize(100));  // relocates
    EXPECT_STREQ(groups[0].GetName(), "first");
    EXPECT_EQ(ReadAll(groups[0], KOR_PARTICLE_POSITION), Pattern(9, 4));
    EXPECT_EQ(groups[0].FindParticleByID(9), 0);
    EXPECT_TRUE(groups[0].IdOrderBuilt());
}

// --- IDs

TEST(ParticleIds, AscendingIdsAreSearchedWithoutAnOrdering) {
    PGroup g;
    g.SetParticleCount(6);
    StoreIds(g, {0, 2, 4, 6, 8, 10});
    for (int i = 0; i < 6; ++i) EXPECT_EQ(g.FindParticleByID(2 * i), i);
    EXPECT_EQ(g.FindParticleByID(3), -1);
    EXPECT_EQ(g.FindParticleByID(11), -1);
    EXPECT_EQ(g.FindParticleByID(-2), -1);
    EXPECT_FALSE(g.IdOrderBuilt());
    EXPECT_EQ(g.IdOrder().Count(), 0);
}

TEST(ParticleIds, UnorderedIdsAreOrderedOnceAndTheOrderingReused) {
    PGroup g;
    std::vector<int64_t> ids(1000);
    std::iota(ids.begin(), ids.end(), -400);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(5));
    g.SetParticleCount(1000);
    StoreIds(g, ids, 4);
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(g.FindParticleByID(ids[i]), i);
    EXPECT_TRUE(g.IdOrderBuilt());
    const int* first = g.IdOrder().Data();
    EXPECT_EQ(g.FindParticleByID(600), -1);
    EXPECT_EQ(g.IdOrder().Data(), first);
    for (int i = 1; i < 1000; ++i) ASSERT_LT(ids[g.IdOrder()[i - 1]], ids[g.IdOrder()[i]]);
}

TEST(ParticleIds, AFirstIdBelowZeroCountsAsOutOfOrder) {
    PGroup g;
    g.SetParticleCount(3);
    StoreIds(g, {-5, 1, 2});
    EXPECT_EQ(g.FindParticleByID(-5), 0);
    EXPECT_TRUE(g.IdOrderBuilt());
    EXPECT_EQ(g.FindParticleByID(2), 2);
}

TEST(ParticleIds, NegativeAndExtremeIdsCompareSigned) {
    PGroup g;
    const std::vector<int64_t> ids = {INT64_MAX, -1, INT64_MIN, 0, 1LL << 40, -(1LL << 40), 7};
    g.SetParticleCount(static_cast<int32_t>(ids.size()));
    StoreIds(g, ids);
    for (size_t i = 0; i < ids.size(); ++i) EXPECT_EQ(g.FindParticleByID(ids[i]), static_cast<int>(i));
    EXPECT_EQ(g.FindParticleByID(8), -1);
}

TEST(ParticleIds, DuplicatesFindOneOfTheirParticles) {
    PGroup g;
    const std::vector<int64_t> ids = {4, 4, 1, 4, 9, 1, 1, 4, 4, 2, 4};
    g.SetParticleCount(static_cast<int32_t>(ids.size()));
    StoreIds(g, ids);
    for (int64_t id : {1, 2, 4, 9}) {
        const int found = g.FindParticleByID(id);
        ASSERT_GE(found, 0) << id;
        EXPECT_EQ(ids[found], id);
    }
    EXPECT_EQ(g.FindParticleByID(3), -1);
}

TEST(ParticleIds, ShortRunsAndEveryLengthSortCorrectly) {
    std::mt19937 random(1);
    for (int n = 1; n < 40; ++n) {
        std::vector<int64_t> ids(n);
        for (int64_t& id : ids) id = static_cast<int64_t>(random() % 20) - 10;
        PGroup g;
        g.SetParticleCount(n);
        StoreIds(g, ids);
        for (int i = 0; i < n; ++i) ASSERT_EQ(ids[g.FindParticleByID(ids[i])], ids[i]) << n;
    }
}

namespace {

// The merge sort the ordering used before the radix sort: halves merged
// stably, runs under 7 sorted by exchanges (which may swap equal IDs).
void ReferenceSort(const std::vector<int64_t>& ids, int* a, int* scratch, int n) {
    if (n < 7) {
        for (int i = 0; i < n; ++i)
            for (int j = i + 1; j < n; ++j)
                if (ids[a[i]] > ids[a[j]]) std::swap(a[i], a[j]);
        return;
    }
    const int half = n / 2;
    ReferenceSort(ids, a, scratch, half);
    ReferenceSort(ids, a + half, scratch + half, n - half);
    std::merge(a, a + half, a + half, a + n, scratch, [&](int x, int y) { return ids[x] < ids[y]; });
    std::copy(scratch, scratch + n, a);
}

}  // namespace

TEST(ParticleIds, EqualIdsKeepTheOrderOfTheEarlierMergeSort) {
    std::mt19937 random(5);
    // One, two and three passes on packed 32-bit keys, a span of exactly 32
    // bits, and one of all 64 bits.
    const int64_t spans[] = {3, 50, 1 << 12, 1 << 25, 1LL << 32, 1LL << 30};
    for (int n : {2, 6, 7, 13, 64, 1000, 4099, 100003})
        for (int64_t span : spans) {
            std::vector<int64_t> ids(n);
            for (int64_t& id : ids) id = static_cast<int64_t>(random() % span) - span / 2;
            if (span == spans[4]) ids[0] = -span / 2, ids[n - 1] = span / 2 - 1;  // keys 0 .. 2^32 - 1
            if (span == spans[5]) ids[0] = INT64_MIN, ids[n - 1] = INT64_MAX;  // a span of all 64 bits
            std::vector<int> expected(n), scratch(n);
            std::iota(expected.begin(), expected.end(), 0);
            ReferenceSort(ids, expected.data(), scratch.data(), n);
            IDORD order;
            ASSERT_TRUE(order.SetSize(n, nullptr, true));
            for (int i = 0; i < n; ++i) order[i] = i;
            order.ids = ids.data();
            ASSERT_TRUE(order.Sort());
            ASSERT_TRUE(std::equal(expected.begin(), expected.end(), order.Data())) << n << " " << span;
        }
}

TEST(ParticleIds, MissingOrUndecodableIdChannelFindsNothing) {
    LogCapture log;
    PGroup g;
    g.SetParticleCount(2);
    EXPECT_EQ(g.FindParticleByID(0), -1);
    KorTest::Bytes bad = KorTest::EncodeZip(KorTest::Int64Words({1, 2}));
    bad[2] ^= 0xFF;
    g.SetCompressedChannel(KOR_PARTICLE_ID, 1, ToBytes(bad));
    EXPECT_EQ(g.FindParticleByID(1), -1);
    EXPECT_EQ(g.FindParticleByID(1), -1);
    PGroup empty;
    StoreIds(empty, {});
    EXPECT_EQ(empty.FindParticleByID(0), -1);
}

TEST(ParticleIds, OrderingAllocationFailureFindsNothingAndRetries) {
    PGroup g;
    g.SetParticleCount(3);
    StoreIds(g, {3, 2, 1});
    ASSERT_TRUE(g.decompressChannel(KOR_PARTICLE_ID, true));
    ZUtils::FailAllocationAt(1, true);
    EXPECT_EQ(g.FindParticleByID(2), -1);
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(g.FindParticleByID(2), 1);
}

// --- Velocity from the grid

namespace {

// A frame with grid velocity v(i, j, k) = (i, 10·j, 100·k + i·j).
struct GridFrame {
    GridFrame(int nx, int ny, int nz) {
        frame.nx = nx;
        frame.ny = ny;
        frame.nz = nz;
        const size_t cells = static_cast<size_t>(nx) * ny * nz;
        for (int c = 4; c <= 6; ++c) {
            newArray(frame.channels[c], cells);
            frame.channelMask |= 1u << c;
        }
        for (int k = 0; k < nz; ++k)
            for (int j = 0; j < ny; ++j)
                for (int i = 0; i < nx; ++i) {
                    const size_t n = i + static_cast<size_t>(nx) * (j + static_cast<size_t>(ny) * k);
                    frame.channels[4][n] = static_cast<float>(i);
                    frame.channels[5][n] = 10.0f * j;
                    frame.channels[6][n] = 100.0f * k + static_cast<float>(i * j);
                }
    }
    OstrelFrameData frame;
};

void Expected(float x, float y, float z, float out[3]) {
    // Trilinear of the fields above: exact in x, y, z except the i·j term.
    out[0] = x;
    out[1] = 10 * y;
    out[2] = 100 * z + x * y;
}

}  // namespace

TEST(GridVelocity, GroupsMarkedForGridVelocitySampleItTrilinearly) {
    GridFrame grid(4, 5, 6);
    PGroup g;
    g.frame = &grid.frame;
    g.attributes = kVelocityFromGrid;
    g.SetParticleCount(3);
    Store(g, KOR_PARTICLE_POSITION, 0, KorTest::FloatWords({1.25f, 2.5f, 3.75f, 0, 0, 0, 2.999f, 3.001f, 4.5f}));
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_VELOCITY), 1);
    for (int p = 0; p < 3; ++p) {
        float pos[3], v[3], e[3];
        ASSERT_EQ(g.GetParticleChannel(p, KOR_PARTICLE_POSITION, pos), 1);
        ASSERT_EQ(g.GetParticleChannel(p, KOR_PARTICLE_VELOCITY, v), 1);
        Expected(pos[0], pos[1], pos[2], e);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(v[a], e[a], 1e-3f) << p << " " << a;
    }
}

TEST(GridVelocity, PositionsOutsideTheGridAreClampedToTheBorderCells) {
    GridFrame grid(4, 5, 6);
    PGroup g;
    g.frame = &grid.frame;
    g.attributes = kVelocityFromGrid;
    g.SetParticleCount(4);
    Store(g, KOR_PARTICLE_POSITION, 0,
          KorTest::FloatWords({-3, 2, 2, 10, 2.5f, 2, 3, 4, 5, NAN, -INFINITY, INFINITY}));
    const float expected[4][3] = {{0, 2, 2}, {3, 2.5f, 2}, {3, 4, 5}, {0, 0, 5}};
    for (int p = 0; p < 4; ++p) {
        float v[3], e[3];
        ASSERT_EQ(g.GetParticleChannel(p, KOR_PARTICLE_VELOCITY, v), 1);
        Expected(expected[p][0], expected[p][1], expected[p][2], e);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(v[a], e[a], 1e-4f) << p << " " << a;
    }
}

TEST(GridVelocity, SingleCellAxesUseTheCellItself) {
    GridFrame grid(1, 1, 1);
    const float* const arrays[3] = {grid.frame.channels[4], grid.frame.channels[5], grid.frame.channels[6]};
    const int32_t dims[3] = {1, 1, 1};
    const float pos[3] = {0.5f, 7, -1};
    float out[3] = {9, 9, 9};
    SampleTrilinear(arrays, dims, pos, out);
    EXPECT_EQ(out[0], 0.0f);
    EXPECT_EQ(out[1], 0.0f);
    EXPECT_EQ(out[2], 0.0f);
}

TEST(GridVelocity, StoredVelocityWinsAndOtherGroupsNeverSample) {
    GridFrame grid(2, 2, 2);
    PGroup stored;
    stored.frame = &grid.frame;
    stored.attributes = kVelocityFromGrid;
    stored.SetParticleCount(1);
    Store(stored, KOR_PARTICLE_POSITION, 0, KorTest::FloatWords({0.5f, 0.5f, 0.5f}));
    Store(stored, KOR_PARTICLE_VELOCITY, 0, KorTest::FloatWords({7, 8, 9}));
    float v[3];
    ASSERT_EQ(stored.GetParticleChannel(0, KOR_PARTICLE_VELOCITY, v), 1);
    EXPECT_EQ(v[0], 7.0f);

    PGroup plain;
    plain.frame = &grid.frame;
    plain.SetParticleCount(1);
    Store(plain, KOR_PARTICLE_POSITION, 0, KorTest::FloatWords({0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(plain.HasChannel(KOR_PARTICLE_VELOCITY), 0);
    EXPECT_EQ(plain.GetParticleChannel(0, KOR_PARTICLE_VELOCITY, v), 0);
}

TEST(GridVelocity, AFrameWithoutGridVelocityGivesZeroOrNothing) {
    OstrelFrameData frame;
    frame.nx = frame.ny = frame.nz = 2;
    PGroup g;
    g.frame = &frame;
    g.attributes = kVelocityFromGrid;
    g.SetParticleCount(1);
    Store(g, KOR_PARTICLE_POSITION, 0, KorTest::FloatWords({0.5f, 0.5f, 0.5f}));
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_VELOCITY), 0);
    float v[3] = {5, 5, 5};
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_VELOCITY, v), 0);
    EXPECT_EQ(v[0], 5.0f);
    // Velocity x claimed by the mask but not decodable: zeros, failure.
    frame.channelMask = 1u << 4;
    EXPECT_EQ(g.HasChannel(KOR_PARTICLE_VELOCITY), 1);
    EXPECT_EQ(g.GetParticleChannel(0, KOR_PARTICLE_VELOCITY, v), 0);
    EXPECT_EQ(v[0], 0.0f);
    EXPECT_EQ(v[2], 0.0f);
}

// --- Threads

TEST(ParticleConcurrent, ManyThreadsReadOneGroupWhileItDecodes) {
    GridFrame grid(3, 3, 3);
    const int32_t n = 2000;
    std::vector<int64_t> ids(n);
    std::iota(ids.begin(), ids.end(), 1000);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(2));
    const Words positions = KorTest::FloatWords(std::vector<float>(3 * n, 1.5f));
    const Words colour = Pattern(3 * n, 5), size = Pattern(n, 6), age = Pattern(n, 7);
    for (int round = 0; round < 4; ++round) {
        PGroup g;
        g.frame = &grid.frame;
        g.attributes = kVelocityFromGrid;
        g.SetParticleCount(n);
        Store(g, KOR_PARTICLE_POSITION, 4, positions);
        Store(g, KOR_PARTICLE_COLOUR, 3, colour);
        Store(g, KOR_PARTICLE_SIZE, 1, size);
        Store(g, KOR_PARTICLE_AGE, 2, age);
        StoreIds(g, ids, static_cast<uint32_t>(round));
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 6; ++t)
            threads.emplace_back([&, t] {
                for (int i = t; i < n; i += 97) {
                    uint32_t w[3];
                    float v[3];
                    if (!g.GetParticleChannel(i, KOR_PARTICLE_COLOUR, w) || w[1] != colour[3 * i + 1]) ++failures;
                    if (!g.GetParticleChannel(i, KOR_PARTICLE_SIZE, w) || w[0] != size[i]) ++failures;
                    if (!g.GetParticleChannel(i, KOR_PARTICLE_AGE, w) || w[0] != age[i]) ++failures;
                    if (!g.GetParticleChannel(i, KOR_PARTICLE_VELOCITY, v) || v[0] != 1.5f) ++failures;
                    if (g.FindParticleByID(ids[i]) != i) ++failures;
                    if (g.GetNumParticles() != n) ++failures;
                }
            });
        for (std::thread& t : threads) t.join();
        EXPECT_EQ(failures.load(), 0) << round;
    }
}

TEST(ParticleGroup, MismatchedStoredBytesAreRefusedBeforeTheElementsAreAllocated) {
    LogCapture log;
    PGroup g;
    g.SetParticleCount(1 << 30);  // 12 GiB of positions, if anything were allocated
    g.SetCompressedChannel(KOR_PARTICLE_POSITION, 2, ToBytes(KorTest::ConstantSparseStream(3, 1.0f)));
    g.SetCompressedChannel(KOR_PARTICLE_VELOCITY, 0, ToBytes(KorTest::EncodePlain(Pattern(3, 1))));
    ZUtils::FailAllocationAt(INT64_MAX);  // count allocations without failing any
    EXPECT_FALSE(g.decompressChannel(KOR_PARTICLE_POSITION, true));
    EXPECT_FALSE(g.decompressChannel(KOR_PARTICLE_VELOCITY, true));
    const int64_t allocations = ZUtils::AllocationsCounted();
    ZUtils::FailAllocationAt(0);
    EXPECT_LT(allocations, 8);  // log lines only
    EXPECT_TRUE(log.Logged("Error decompressing particle channel 0 with method 2\n"));
    EXPECT_TRUE(log.Logged("Error decompressing particle channel 1 with method 0\n"));
}
