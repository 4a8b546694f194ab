// SGCompressor: fixed streams, every form, round trips over random and
// smoke-like data, zones, and streams that must be refused.
#include <gtest/gtest.h>
#include <time.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "codecs/sg_compressor.h"
#include "log_capture.h"
#include "support/sg_encoder.h"
#include "util/alloc.h"

namespace {

using KorTest::EntropyForm;
using KorTest::SGQuantised;
using KorTest::SGZone;

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, 4);
    return u;
}

// Decodes into an exactly sized array that starts out as garbage.
template <int D>
bool Decode(const std::vector<uint8_t>& stream, std::vector<float>& out, size_t count) {
    out.assign(count, std::nanf("7"));
    std::vector<uint8_t> exact(stream);  // nothing past the record
    SGCompressor<D> decoder;
    return decoder.Decompress(exact.data(), exact.size(), out.data(), count);
}

std::vector<uint8_t> Quantised(const SGQuantised& p, const std::vector<int32_t>& q) {
    std::vector<uint8_t> stream;
    EXPECT_TRUE(KorTest::SGQuantisedStream(p, q.data(), stream));
    return stream;
}

void ExpectDequantised(const std::vector<float>& out, const std::vector<int32_t>& q, float scale, float offset,
                       size_t at = 0) {
    for (size_t i = 0; i < q.size(); ++i)
        ASSERT_EQ(Bits(out[at + i]), Bits(KorTest::Dequantise(q[i], scale, offset))) << "value " << i;
}

TEST(SGCompressorVectors, FlatQuantisedStreamWithOnePass) {
    const std::vector<uint8_t> stream = {0x01, 0xfc, 0x02, 0x0a, 0x00, 0x00, 0x00, 0x00, 0x00, 0x80, 0x40, 0x00, 0x00, 0x00,
                                         0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x03, 0xfc, 0xff, 0xff, 0xff, 0x6c, 0x5b, 0x02};
    ASSERT_EQ(stream.size(), 28u);
    std::vector<float> out;
    ASSERT_TRUE(Decode<1>(stream, out, 10));
    EXPECT_EQ(out, (std::vector<float>{0, 0.25f, 0.5f, 0.75f, 1, 1, 1, 1, 1, 1}));
}

TEST(SGCompressorVectors, ConstantAndRawForms) {
    std::vector<float> out;
    const std::vector<uint8_t> constant = KorTest::SGConstantStream(6, -2.5f);
    ASSERT_EQ(constant.size(), 11u);
    ASSERT_TRUE(Decode<3>(constant, out, 6));
    EXPECT_EQ(out, std::vector<float>(6, -2.5f));

    const float values[5] = {1.5f, std::nanf("123"), -0.0f, INFINITY, 3e-39f};
    const std::vector<uint8_t> raw = KorTest::SGRawStream(values, 5);
    ASSERT_EQ(raw.size(), 7u + 20u);
    ASSERT_TRUE(Decode<1>(raw, out, 5));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Bits(out[i]), Bits(values[i]));
}

TEST(SGCompressorVectors, StreamShorterThanTheDestinationLeavesZeros) {
    std::vector<float> out;
    ASSERT_TRUE(Decode<3>(KorTest::SGConstantStream(3, 7.0f), out, 8));
    EXPECT_EQ(out, (std::vector<float>{7, 7, 7, 0, 0, 0, 0, 0}));
    const std::vector<int32_t> q = {4, 5, 6};
    SGQuantised p;
    p.dims = {3, 1, 1};
    ASSERT_TRUE(Decode<3>(Quantised(p, q), out, 5));
    EXPECT_EQ(out, (std::vector<float>{4, 5, 6, 0, 0}));
}

TEST(SGCompressorVectors, NoPassesMeansTokensPlusBaseAreTheValues) {
    SGQuantised p;
    p.dims = {6};
    p.scale = 2.0f;
    p.offset = 1.0f;
    const std::vector<int32_t> q = {-3, -3, 0, 9, 9, 9};
    std::vector<float> out;
    ASSERT_TRUE(Decode<1>(Quantised(p, q), out, 6));
    EXPECT_EQ(out, (std::vector<float>{-0.5f, -0.5f, 1.0f, 5.5f, 5.5f, 5.5f}));
}

TEST(SGCompressorVectors, TinyPositiveOffsetBecomesZero) {
    SGQuantised p;
    p.dims = {2};
    p.scale = 1.0f;
    const std::vector<int32_t> q = {0, 1};
    std::vector<float> out;
    for (float offset : {1e-21f, 9.9e-21f, std::nextafter(0.0f, 1.0f)}) {
        p.offset = offset;
        ASSERT_TRUE(Decode<1>(Quantised(p, q), out, 2));
        EXPECT_EQ(Bits(out[0]), Bits(0.0f)) << offset;
        EXPECT_EQ(out[1], 1.0f);
    }
    for (float offset : {-1e-30f, 2e-20f}) {
        p.offset = offset;
        ASSERT_TRUE(Decode<1>(Quantised(p, q), out, 2));
        EXPECT_EQ(Bits(out[0]), Bits(offset)) << offset;
    }
}

TEST(SGCompressorVectors, ReconstructionIsSinglePrecisionAndUnfused) {
    // 1/3 rounded to float, times q, rounded, plus offset, rounded: a fused
    // or double-precision evaluation gives other bits for some of these.
    SGQuantised p;
    p.dims = {1000};
    p.scale = 3.0f;
    p.offset = 0.1f;
    std::vector<int32_t> q(1000);
    for (int i = 0; i < 1000; ++i) q[i] = i * 7919 - 3000000;
    std::vector<float> out;
    ASSERT_TRUE(Decode<1>(Quantised(p, q), out, 1000));
    const float r = 1.0f / 3.0f;
    for (int i = 0; i < 1000; ++i) {
        volatile float product = static_cast<float>(q[i]) * r;
        ASSERT_EQ(Bits(out[i]), Bits(product + 0.1f)) << i;
    }
}

TEST(SGCompressorZones, OneZoneAtOffsetZeroDecodesLikeItsStream) {
    SGQuantised p;
    p.dims = {4, 3, 2};
    p.passes = 1;
    std::vector<int32_t> q(24);
    for (int i = 0; i < 24; ++i) q[i] = i * i - 40;
    const std::vector<uint8_t> single = Quantised(p, q);
    std::vector<float> a, b;
    ASSERT_TRUE(Decode<3>(single, a, 24));
    ASSERT_TRUE(Decode<3>(KorTest::SGZonedStream({SGZone{0, single}}), b, 24));
    EXPECT_EQ(a, b);
}

TEST(SGCompressorZones, ZonesWithTheirOwnDimsGapsAndAnyOrder) {
    // A 13 x 7 x 3 destination: zone A is 7 x 13 x 1 (a whole slab with
    // other dims), zone B a raw run in the middle of the last slab, zone C a
    // constant run stored first in the table but placed after A.
    const size_t cells = 13 * 7 * 3;
    std::mt19937 rng(3);
    std::vector<int32_t> qa(91);
    for (int32_t& v : qa) v = static_cast<int32_t>(rng() % 100);
    SGQuantised pa;
    pa.dims = {7, 13, 1};
    pa.passes = 2;
    pa.scale = 10.0f;
    const float raw[5] = {1, 2, 3, 4, 5};
    const std::vector<SGZone> zones = {SGZone{91, KorTest::SGConstantStream(20, 0.5f)},
                                       SGZone{0, Quantised(pa, qa)},
                                       SGZone{200, KorTest::SGRawStream(raw, 5)}};
    std::vector<float> out;
    ASSERT_TRUE(Decode<3>(KorTest::SGZonedStream(zones), out, cells));
    ExpectDequantised(out, qa, 10.0f, 0.0f, 0);
    for (size_t i = 91; i < 111; ++i) EXPECT_EQ(out[i], 0.5f);
    for (size_t i = 111; i < 200; ++i) EXPECT_EQ(Bits(out[i]), 0u) << i;  // uncovered: 0
    for (size_t i = 0; i < 5; ++i) EXPECT_EQ(out[200 + i], raw[i]);
    for (size_t i = 205; i < cells; ++i) EXPECT_EQ(Bits(out[i]), 0u) << i;
}

TEST(SGCompressorZones, NoZonesClearsEverything) {
    std::vector<float> out;
    ASSERT_TRUE(Decode<3>(KorTest::SGZonedStream({}), out, 10));
    EXPECT_EQ(out, std::vector<float>(10, 0.0f));
}

TEST(SGCompressorZones, JobNoticesFollowTheZoneCount) {
    const std::vector<uint8_t> three = KorTest::SGZonedStream(
        {SGZone{0, KorTest::SGConstantStream(2, 1)}, SGZone{2, KorTest::SGConstantStream(2, 2)},
         SGZone{4, KorTest::SGConstantStream(2, 3)}});
    const std::vector<uint8_t> one = KorTest::SGZonedStream({SGZone{0, KorTest::SGConstantStream(6, 1)}});
    LogCapture capture;
    SGCompressor<3> decoder;
    std::vector<float> out(6);
    ASSERT_TRUE(decoder.Decompress(three.data(), three.size(), out.data(), 6));
    EXPECT_EQ(out, (std::vector<float>{1, 1, 2, 2, 3, 3}));
    const std::vector<std::string> notices = {
        "Using MTJobs without a thread manager. The code will run in single threaded mode\n",
        "Please check the (null) implementation.\n",
        "Using MTJobs without threadManager with 'threads' != -1!When the thread manager is missing 'threads' value is "
        "FORCED to 1.This may BREAK YOUR code!\n"};
    EXPECT_EQ(capture.Debugger(), notices);
    // Three zones never match the one job: the list is rebuilt every time.
    capture.Clear();
    ASSERT_TRUE(decoder.Decompress(three.data(), three.size(), out.data(), 6));
    EXPECT_EQ(capture.Debugger().size(), 3u);
    EXPECT_EQ(capture.Debugger()[1], "Please check the SGCompressor implementation.\n");
    // One zone matches the one job: kept silently.
    capture.Clear();
    ASSERT_TRUE(decoder.Decompress(one.data(), one.size(), out.data(), 6));
    EXPECT_TRUE(capture.Debugger().empty());
    // A fresh decoder builds its list once.
    SGCompressor<3> fresh;
    ASSERT_TRUE(fresh.Decompress(one.data(), one.size(), out.data(), 6));
    ASSERT_TRUE(fresh.Decompress(one.data(), one.size(), out.data(), 6));
    EXPECT_EQ(capture.Debugger().size(), 3u);
    EXPECT_STREQ(decoder.GetName(), "SGCompressor");
}

// --- Round trips

// The values whose differencing with `passes` passes gives d: a stream of
// them has d for tokens and decodes back to them.
std::vector<int32_t> Undifferenced(const std::vector<int32_t>& d, const std::vector<int32_t>& dims, int passes) {
    std::vector<uint32_t> w(d.begin(), d.end());
    KorTest::DifferenceInverse(w, dims, passes);
    return std::vector<int32_t>(w.begin(), w.end());
}

// The decoder must undo differencing exactly as defined, for any integers:
// compare against the literal definition applied to random data.
TEST(SGCompressorRoundTrip, PassesMatchTheDefinitionOnArbitraryIntegers) {
    std::mt19937 rng(77);
    for (int trial = 0; trial < 200; ++trial) {
        const bool grid = trial % 2 == 0;
        std::vector<int32_t> dims;
        if (grid)
            dims = {1 + static_cast<int32_t>(rng() % 9), 1 + static_cast<int32_t>(rng() % 7),
                    1 + static_cast<int32_t>(rng() % 6)};
        else
            dims = {1 + static_cast<int32_t>(rng() % 300)};
        size_t n = 1;
        for (int32_t d : dims) n *= static_cast<size_t>(d);
        const int passes = static_cast<int>(rng() % 6);
        // Arbitrary integers (as if already differenced), including wrap-around.
        std::vector<int32_t> d(n);
        for (int32_t& v : d) v = static_cast<int32_t>(rng() % 2000) - 1000;
        if (trial % 10 == 0) d[0] = 1 << 30;  // large sums wrap around
        // The encoder's differencing of q reproduces d exactly.
        const std::vector<int32_t> q = Undifferenced(d, dims, passes);
        SGQuantised p;
        p.dims = dims;
        p.passes = passes;
        p.scale = 1.0f;
        std::vector<float> out;
        if (grid)
            ASSERT_TRUE(Decode<3>(Quantised(p, q), out, n));
        else
            ASSERT_TRUE(Decode<1>(Quantised(p, q), out, n));
        for (size_t i = 0; i < n; ++i)
            ASSERT_EQ(Bits(out[i]), Bits(static_cast<float>(q[i]))) << trial << " " << i;
    }
}

// Grids are decoded a few rows at a time (pieces of 16384 values): rows
// longer than a piece, pieces that end inside a slice, one-cell rows and
// axes (which the decoder drops), pass counts above the number of rows or
// slices, and zero runs that cross pieces must all give the values the
// definition gives.
TEST(SGCompressorRoundTrip, GridShapesAcrossPieces) {
    const std::vector<std::vector<int32_t>> shapes = {
        {17000, 3, 2}, {37, 150, 5}, {1, 1, 9000}, {1, 700, 12}, {16384, 2, 2}, {16385, 1, 3}, {64, 64, 9},
        {3, 2, 6000},  {5, 1, 900},  {1, 40, 1},   {9000, 1, 1}};
    std::mt19937 rng(5);
    for (const std::vector<int32_t>& dims : shapes) {
        const size_t n = static_cast<size_t>(dims[0]) * dims[1] * dims[2];
        for (int passes : {1, 2, 3}) {
            std::vector<int32_t> d(n);
            // Long stretches of zeros between short busy ones.
            for (size_t i = 0; i < n; ++i) d[i] = (i / 1500) % 3 == 0 ? static_cast<int32_t>(rng() % 21) - 10 : 0;
            const std::vector<int32_t> values = Undifferenced(d, dims, passes);
            SGQuantised p;
            p.dims = dims;
            p.passes = passes;
            p.scale = 1.0f;
            p.form = passes == 2 ? EntropyForm::Direct : EntropyForm::Coded;
            std::vector<float> out;
            ASSERT_TRUE(Decode<3>(Quantised(p, values), out, n));
            for (size_t i = 0; i < n; ++i)
                ASSERT_EQ(Bits(out[i]), Bits(static_cast<float>(values[i])))
                    << dims[0] << "x" << dims[1] << "x" << dims[2] << " passes " << passes << " value " << i;
        }
    }
}

// The streamed grid passes run with 128-, 256- or 512-bit vectors,
// whichever the processor has, and write the floats of large grids with
// streaming stores, which start where the destination is aligned to a
// vector. Every width the processor has, with either kind of store, must
// give the definition's values, for rows that fill the vectors or leave a
// tail, into destinations at any alignment, whole or in zones.
TEST(SGCompressorRoundTrip, EveryVectorWidthAndStoreGivesTheSameValues) {
    struct TuningReset {
        ~TuningReset() { SGSetGridTuning(SGGridTuning{}); }
    } reset;
    const std::vector<std::vector<int32_t>> shapes = {{64, 5, 6}, {65, 4, 5}, {100, 7, 4}, {127, 3, 3}, {257, 3, 3}};
    std::mt19937 rng(31);
    for (const std::vector<int32_t>& dims : shapes) {
        const size_t n = static_cast<size_t>(dims[0]) * dims[1] * dims[2];
        for (int passes : {0, 1, 2, 3, 4}) {
            std::vector<int32_t> d(n);
            for (int32_t& v : d) v = rng() % 3 == 0 ? static_cast<int32_t>(rng() % 2001) - 1000 : 0;
            const std::vector<int32_t> values = Undifferenced(d, dims, passes);
            SGQuantised p;
            p.dims = dims;
            p.passes = passes;
            p.scale = 3.0f;
            p.offset = -0.5f;
            const std::vector<uint8_t> single = Quantised(p, values);
            // The same values as two zones, each smaller than the whole
            // destination, which decides the kind of store.
            const size_t split = static_cast<size_t>(dims[0]) * dims[1] * (dims[2] / 2);
            std::vector<SGZone> zones;
            for (size_t part : {size_t(0), size_t(1)}) {
                SGQuantised zp = p;
                zp.dims[2] = part == 0 ? dims[2] / 2 : dims[2] - dims[2] / 2;
                const auto from = values.begin() + static_cast<ptrdiff_t>(part == 0 ? 0 : split);
                const auto to = part == 0 ? values.begin() + static_cast<ptrdiff_t>(split) : values.end();
                zones.push_back(SGZone{static_cast<int32_t>(part == 0 ? 0 : split),
                                       Quantised(zp, std::vector<int32_t>(from, to))});
            }
            const std::vector<uint8_t> zoned = KorTest::SGZonedStream(zones);
            for (int bits : {128, 256, 512})
                for (size_t streamedValues : {n, SGGridTuning{}.streamedValues})
                    for (size_t shift : {0, 1, 2, 3, 4, 8}) {  // floats
                        SGSetGridTuning(SGGridTuning{bits, streamedValues});
                        const std::vector<uint8_t>& stream = shift % 2 == 0 ? single : zoned;
                        // Shifts from a cache-line boundary, where the library's own
                        // channel arrays start.
                        std::vector<float> storage(n + shift + 16, std::nanf("3"));
                        const size_t lead = (64 - reinterpret_cast<uintptr_t>(storage.data()) % 64) % 64 / 4;
                        float* const out = storage.data() + lead;
                        SGCompressor<3> decoder;
                        ASSERT_TRUE(decoder.Decompress(stream.data(), stream.size(), out + shift, n));
                        for (size_t i = 0; i < n; ++i) {
                            const float want = static_cast<float>(values[i]) * (1.0f / 3.0f) + -0.5f;
                            ASSERT_EQ(Bits(out[shift + i]), Bits(want))
                                << dims[0] << "x" << dims[1] << "x" << dims[2] << " passes " << passes << " width "
                                << bits << (streamedValues == n ? " streamed" : "") << " shift " << shift
                                << " value " << i;
                        }
                    }
        }
    }
}

// Stored integers whose decoded values are q: q differenced by the encoder
// gives small tokens whatever the pass count.
std::vector<int32_t> SmallDifferences(const std::vector<int32_t>& dims, int passes, std::mt19937& rng) {
    size_t n = 1;
    for (int32_t d : dims) n *= static_cast<size_t>(d);
    std::vector<int32_t> d(n);
    for (int32_t& v : d) v = rng() % 4 == 0 ? static_cast<int32_t>(rng() % 41) - 20 : 0;
    return Undifferenced(d, dims, passes);
}

// Narrow rows and pass counts above 4 are undone axis by axis in place,
// wide rows with few passes streamed: both must give the values the
// definition gives, with wrap-around, on either side of the choice, along
// axes where passes add across layers of 1, 2, 3 or more cells at a time,
// and with more passes than any axis has cells.
TEST(SGCompressorRoundTrip, GridShapesAxisByAxis) {
    struct Case {
        std::vector<int32_t> dims;
        int passes;
    };
    const std::vector<Case> cases = {
        // Many passes on narrow rows (the shapes hostile streams use).
        {{2, 3, 700}, 255}, {{1, 2, 3000}, 255}, {{3, 1, 2000}, 255}, {{4, 4, 300}, 255}, {{16, 16, 20}, 255},
        {{2, 3, 700}, 17},  {{1, 2, 3000}, 17},  {{3, 1, 2000}, 17},  {{4, 4, 300}, 17},  {{16, 16, 20}, 17},
        {{2, 1, 1}, 255},   {{1, 2, 2}, 255},    {{2, 2000, 1}, 5},
        // Either side of the choice: row width 63 / 64, 4 / 5 passes, and
        // a one-cell axis 0 whose axis 1 becomes the rows.
        {{63, 5, 6}, 4}, {{64, 5, 6}, 4}, {{64, 5, 6}, 5}, {{63, 5, 6}, 1}, {{64, 5, 6}, 1}, {{64, 1, 9}, 2},
        {{63, 1, 9}, 2}, {{1, 64, 7}, 3}, {{1, 63, 7}, 3}, {{64, 2, 2}, 0}, {{63, 2, 2}, 0}, {{200, 3, 4}, 5},
        // Passes that stop short of or reach the wave between layers.
        {{40, 2, 2}, 15}, {{40, 2, 2}, 16}, {{40, 2, 2}, 30}, {{2, 9, 9}, 7}, {{2, 9, 9}, 8}, {{3, 7, 5}, 5},
        {{3, 7, 5}, 6}, {{8, 3, 5}, 2},
        // More passes than any axis has cells.
        {{5, 4, 6}, 255}, {{2, 2, 2}, 200}, {{7, 7, 7}, 7},
        // Every pass acts along all three axes.
        {{20, 18, 22}, 6}, {{70, 9, 10}, 8}, {{12, 13, 14}, 11},
    };
    std::mt19937 rng(31);
    for (const Case& c : cases) {
        const size_t n = static_cast<size_t>(c.dims[0]) * c.dims[1] * c.dims[2];
        const std::vector<int32_t> q = SmallDifferences(c.dims, c.passes, rng);
        SGQuantised p;
        p.dims = c.dims;
        p.passes = c.passes;
        p.scale = 3.0f;
        p.offset = -0.75f;
        std::vector<float> out;
        ASSERT_TRUE(Decode<3>(Quantised(p, q), out, n));
        SCOPED_TRACE(testing::Message() << c.dims[0] << "x" << c.dims[1] << "x" << c.dims[2] << " passes "
                                        << c.passes);
        ExpectDequantised(out, q, p.scale, p.offset);
    }
    // Random small shapes and pass counts up to past every axis.
    for (int trial = 0; trial < 150; ++trial) {
        SGQuantised p;
        p.dims = {1 + static_cast<int32_t>(rng() % 70), 1 + static_cast<int32_t>(rng() % 12),
                  1 + static_cast<int32_t>(rng() % 30)};
        p.passes = static_cast<int>(rng() % 40);
        p.scale = 1.0f;
        const size_t n = static_cast<size_t>(p.dims[0]) * p.dims[1] * p.dims[2];
        const std::vector<int32_t> q = SmallDifferences(p.dims, p.passes, rng);
        std::vector<float> out;
        ASSERT_TRUE(Decode<3>(Quantised(p, q), out, n));
        SCOPED_TRACE(testing::Message() << p.dims[0] << "x" << p.dims[1] << "x" << p.dims[2] << " passes "
                                        << p.passes);
        ExpectDequantised(out, q, 1.0f, 0.0f);
    }
}

// Smoke-like data through the grid encoder, on both decoders, against the
// reference floats.
TEST(SGCompressorRoundTrip, SmokeFieldOnNarrowAndWideRows) {
    struct Case {
        int nx, ny, nz, passes;
    };
    for (const Case& c : {Case{4, 6, 400, 6}, Case{24, 20, 30, 3}, Case{64, 20, 12, 4}, Case{64, 20, 12, 5},
                          Case{90, 3, 20, 2}}) {
        const std::vector<float> field = KorTest::MakeSmokeField(c.nx, c.ny, c.nz, 5);
        KorTest::SGGridOptions o;
        o.scale = 4096.0f;
        o.offset = 0.125f;
        o.passes = c.passes;
        const std::vector<uint8_t> stream = KorTest::SGGridStream(c.nx, c.ny, c.nz, field.data(), o);
        ASSERT_FALSE(stream.empty());
        const std::vector<float> expected = KorTest::SGGridDecoded(field.size(), field.data(), o);
        std::vector<float> out;
        ASSERT_TRUE(Decode<3>(stream, out, field.size()));
        for (size_t i = 0; i < field.size(); ++i)
            ASSERT_EQ(Bits(out[i]), Bits(expected[i])) << c.nx << "x" << c.ny << "x" << c.nz << " value " << i;
    }
}

TEST(SGCompressorRoundTrip, RandomGridsAllPassCountsAndForms) {
    std::mt19937 rng(11);
    for (int trial = 0; trial < 120; ++trial) {
        SGQuantised p;
        p.dims = {1 + static_cast<int32_t>(rng() % 20), 1 + static_cast<int32_t>(rng() % 20),
                  1 + static_cast<int32_t>(rng() % 20)};
        p.passes = static_cast<int>(rng() % 4);
        p.scale = 0.5f + static_cast<float>(rng() % 1000);
        p.offset = static_cast<float>(static_cast<int>(rng() % 200) - 100) * 0.37f;
        p.form = trial % 3 == 0 ? EntropyForm::Direct : EntropyForm::Coded;
        p.minRun = 2 + rng() % 4;
        const size_t n = static_cast<size_t>(p.dims[0]) * p.dims[1] * p.dims[2];
        std::vector<int32_t> q(n);
        for (size_t i = 0; i < n; ++i) q[i] = rng() % 3 == 0 ? 0 : static_cast<int32_t>(rng() % 4000) - 2000;
        std::vector<float> out;
        ASSERT_TRUE(Decode<3>(Quantised(p, q), out, n));
        ExpectDequantised(out, q, p.scale, p.offset);
    }
}

TEST(SGCompressorRoundTrip, SmokeFieldSingleAndZoned) {
    const int nx = 40, ny = 32, nz = 24;
    const std::vector<float> field = KorTest::MakeSmokeField(nx, ny, nz, 21);
    const size_t n = field.size();
    const float scale = 4096.0f;
    const std::vector<int32_t> q = KorTest::Quantise(field.data(), n, scale, 0.0f);
    for (int passes = 0; passes <= 3; ++passes) {
        SGQuantised p;
        p.dims = {nx, ny, nz};
        p.passes = passes;
        p.scale = scale;
        std::vector<float> out;
        ASSERT_TRUE(Decode<3>(Quantised(p, q), out, n));
        ExpectDequantised(out, q, scale, 0.0f);

        // Zoned by slabs of 5 slices (the last one shorter).
        std::vector<SGZone> zones;
        for (int k0 = 0; k0 < nz; k0 += 5) {
            const int slices = std::min(5, nz - k0);
            SGQuantised zp = p;
            zp.dims = {nx, ny, slices};
            const size_t at = static_cast<size_t>(k0) * nx * ny;
            const std::vector<int32_t> part(q.begin() + at, q.begin() + at + static_cast<size_t>(slices) * nx * ny);
            zones.push_back(SGZone{static_cast<int32_t>(at), Quantised(zp, part)});
        }
        ASSERT_TRUE(Decode<3>(KorTest::SGZonedStream(zones), out, n));
        ExpectDequantised(out, q, scale, 0.0f);
    }
}

// --- Streams that must be refused

std::vector<uint8_t> Bytes(std::initializer_list<std::vector<uint8_t>> parts) {
    std::vector<uint8_t> out;
    for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
    return out;
}
template <class T>
std::vector<uint8_t> Le(T v) {
    std::vector<uint8_t> out(sizeof(T));
    std::memcpy(out.data(), &v, sizeof(T));
    return out;
}

TEST(SGCompressorHostile, UnknownTagsFormsAndShortHeaders) {
    std::vector<float> out;
    EXPECT_FALSE(Decode<3>({}, out, 4));
    EXPECT_FALSE(Decode<3>({0x01}, out, 4));
    EXPECT_FALSE(Decode<3>({0x03, 0xfc, 0x00}, out, 4));
    EXPECT_FALSE(Decode<3>({0x01, 0xfc, 0x03, 0, 0, 0, 0}, out, 4));
    EXPECT_FALSE(Decode<3>({0x01, 0xfc}, out, 4));
    EXPECT_FALSE(Decode<3>(Bytes({{0x01, 0xfc, 0x01}, Le<int32_t>(2)}), out, 4));  // constant without value
    SGCompressor<3> decoder;
    EXPECT_FALSE(decoder.Decompress(nullptr, 0, out.data(), 4));
}

TEST(SGCompressorHostile, SizesThatDoNotFitTheDestinationOrTheRecord) {
    std::vector<float> out;
    EXPECT_FALSE(Decode<3>(KorTest::SGConstantStream(5, 1), out, 4));  // more values than cells
    EXPECT_FALSE(Decode<3>(KorTest::SGConstantStream(-1, 1), out, 4));
    const float raw[4] = {1, 2, 3, 4};
    std::vector<uint8_t> cut = KorTest::SGRawStream(raw, 4);
    cut.pop_back();
    EXPECT_FALSE(Decode<3>(cut, out, 4));  // raw values past the record
    EXPECT_FALSE(Decode<3>(Bytes({{0x01, 0xfc, 0x00}, Le<int32_t>(0x40000000)}), out, 4));

    SGQuantised p;
    p.dims = {2, 2, 2};
    const std::vector<int32_t> q(8, 3);
    EXPECT_FALSE(Decode<3>(Quantised(p, q), out, 7));
    // Negative and overflowing dims are refused before anything is allocated.
    auto header = [](int32_t a, int32_t b, int32_t c) {
        return Bytes({{0x01, 0xfc, 0x02}, Le(a), Le(b), Le(c), Le(1.0f), Le(0.0f), Le<int32_t>(0), {1},
                      {0x02, 0, 0, 0, 0, 0, 0, 0}});
    };
    ZUtils::FailAllocationAt(1, true);
    EXPECT_FALSE(Decode<3>(header(-2, 2, 2), out, 8));
    EXPECT_FALSE(Decode<3>(header(0x7fffffff, 0x7fffffff, 0x7fffffff), out, 8));
    EXPECT_FALSE(Decode<3>(header(65536, 65536, 2), out, 8));
    ZUtils::FailAllocationAt(0);
    // A zero dim means no values: nothing to decode, all cleared.
    ASSERT_TRUE(Decode<3>(header(0x7fffffff, 0, 5), out, 3));
    EXPECT_EQ(out, std::vector<float>(3, 0.0f));
}

TEST(SGCompressorHostile, EntropyBlockCutShortOrBroken) {
    SGQuantised p;
    p.dims = {16, 16, 4};
    p.passes = 1;
    std::vector<int32_t> q(1024);
    for (size_t i = 0; i < q.size(); ++i) q[i] = static_cast<int32_t>((i * 2654435761u) % 1000);
    std::vector<uint8_t> stream = Quantised(p, q);
    std::vector<float> out;
    ASSERT_TRUE(Decode<3>(stream, out, 1024));
    stream.resize(stream.size() - 40);
    EXPECT_FALSE(Decode<3>(stream, out, 1024));
    stream.resize(24);  // header and part of the block
    EXPECT_FALSE(Decode<3>(stream, out, 1024));
}

TEST(SGCompressorHostile, ZoneTables) {
    const std::vector<uint8_t> zone = KorTest::SGConstantStream(4, 1);
    std::vector<float> out;
    auto zoned = [&](int32_t outputOffset, int32_t inputOffset, const std::vector<uint8_t>& body) {
        return Bytes({{0x02, 0xfc, 0x01, 0x00}, Le(outputOffset), Le(inputOffset), body});
    };
    ASSERT_TRUE(Decode<3>(zoned(2, 0, zone), out, 6));
    EXPECT_EQ(out, (std::vector<float>{0, 0, 1, 1, 1, 1}));
    EXPECT_FALSE(Decode<3>(zoned(3, 0, zone), out, 6));   // writes past the end
    EXPECT_FALSE(Decode<3>(zoned(7, 0, KorTest::SGConstantStream(0, 1)), out, 6));  // offset past the end
    EXPECT_FALSE(Decode<3>(zoned(-1, 0, zone), out, 6));
    EXPECT_FALSE(Decode<3>(zoned(0, -4, zone), out, 6));
    EXPECT_FALSE(Decode<3>(zoned(0, 1, zone), out, 6));   // starts inside the stream: no tag there
    EXPECT_FALSE(Decode<3>(zoned(0, 100, zone), out, 6));  // past the record
    EXPECT_FALSE(Decode<3>(Bytes({{0x02, 0xfc, 0x02, 0x00}, Le<int32_t>(0)}), out, 6));  // tables cut short
    // Zones do not nest.
    EXPECT_FALSE(Decode<3>(zoned(0, 0, KorTest::SGZonedStream({SGZone{0, zone}})), out, 6));
    // One bad zone fails the whole stream, even after good ones.
    std::vector<uint8_t> broken = KorTest::SGConstantStream(2, 1);
    broken[2] = 9;
    EXPECT_FALSE(Decode<3>(KorTest::SGZonedStream({SGZone{0, zone}, SGZone{4, broken}}), out, 6));

    // The value count reads the same table: it refuses every table above
    // that is wrong whatever the destination, and counts to the furthest zone.
    size_t count = 0;
    auto counted = [&](const std::vector<uint8_t>& s) { return SGStreamValueCount<3>(s.data(), s.size(), count); };
    ASSERT_TRUE(counted(zoned(3, 0, zone)));
    EXPECT_EQ(count, 7u);
    ASSERT_TRUE(counted(KorTest::SGZonedStream({SGZone{4, zone}, SGZone{0, KorTest::SGConstantStream(2, 1)}})));
    EXPECT_EQ(count, 8u);
    for (const std::vector<uint8_t>& bad :
         {zoned(-1, 0, zone), zoned(0, -4, zone), zoned(0, 1, zone), zoned(0, 100, zone),
          Bytes({{0x02, 0xfc, 0x02, 0x00}, Le<int32_t>(0)}), zoned(0, 0, KorTest::SGZonedStream({SGZone{0, zone}})),
          KorTest::SGZonedStream({SGZone{0, zone}, SGZone{4, broken}})})
        EXPECT_FALSE(counted(bad));
}

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

TEST(SGCompressorHostile, ManyPassesOnNarrowRowsAreQuick) {
    // 2 x 3 x 10922 cells with 255 passes against the same tokens with one
    // pass: a hostile stream must cost a few times an ordinary one of its
    // size, not a few hundred times (thread CPU time, best of three).
    const int32_t nx = 2, ny = 3, nz = 10922;
    const size_t n = static_cast<size_t>(nx) * ny * nz;
    std::vector<int32_t> values(n);
    for (size_t i = 0; i < n; ++i) values[i] = static_cast<int32_t>((i * 2654435761u) >> 29);
    const std::vector<uint8_t> block = KorTest::EncodeEntropyBlock(KorTest::Tokenize(values.data(), n));
    auto best = [&](uint8_t passes) {
        const std::vector<uint8_t> stream = Bytes(
            {{0x01, 0xfc, 0x02}, Le(nx), Le(ny), Le(nz), Le(1.0f), Le(0.0f), Le<int32_t>(-3), {passes}, block});
        std::vector<float> out(n);
        SGCompressor<3> decoder;
        double seconds = 1e9;
        for (int k = 0; k < 3; ++k) {
            const double t0 = ThreadSeconds();
            EXPECT_TRUE(decoder.Decompress(stream.data(), stream.size(), out.data(), n));
            seconds = std::min(seconds, ThreadSeconds() - t0);
        }
        // Every pass leaves the first value alone: the first token plus the base.
        EXPECT_EQ(out[0], static_cast<float>(values[0] - 3));
        return seconds;
    };
    const double one = best(1), many = best(255);
    EXPECT_LT(many, 40 * one + 0.002) << many << " s against " << one << " s";
}

TEST(SGCompressorHostile, RandomAndMutatedStreamsStayInBounds) {
    std::mt19937 rng(2024);
    SGQuantised p;
    p.dims = {8, 8, 8};
    p.passes = 2;
    std::vector<int32_t> q(512);
    for (int32_t& v : q) v = static_cast<int32_t>(rng() % 50);
    const std::vector<uint8_t> single = Quantised(p, q);
    const std::vector<uint8_t> zoned = KorTest::SGZonedStream({SGZone{0, single}, SGZone{512, single}});
    std::vector<float> out;
    for (int trial = 0; trial < 2000; ++trial) {
        std::vector<uint8_t> s = trial % 2 ? single : zoned;
        const int flips = 1 + static_cast<int>(rng() % 4);
        for (int k = 0; k < flips; ++k) {
            // Favour the headers, where sizes and offsets live.
            const size_t at = rng() % 2 ? rng() % std::min<size_t>(s.size(), 40) : rng() % s.size();
            s[at] = static_cast<uint8_t>(rng());
        }
        s.resize(s.size() - rng() % 16);
        Decode<3>(s, out, 1024);
    }
}

TEST(SGCompressorHostile, MutatedStreamsOnBothGridDecoders) {
    // Wide rows with few passes (streamed) and narrow rows with many
    // passes (axis by axis), with bytes of the header or block changed.
    std::mt19937 rng(4048);
    std::vector<std::vector<uint8_t>> streams;
    for (const auto& [dims, passes] : {std::pair<std::vector<int32_t>, int>{{64, 4, 4}, 2},
                                       std::pair<std::vector<int32_t>, int>{{2, 3, 170}, 255}}) {
        SGQuantised p;
        p.dims = dims;
        p.passes = passes;
        streams.push_back(Quantised(p, SmallDifferences(dims, passes, rng)));
    }
    std::vector<float> out;
    for (int trial = 0; trial < 1000; ++trial) {
        std::vector<uint8_t> s = streams[trial % 2];
        const int flips = 1 + static_cast<int>(rng() % 3);
        for (int k = 0; k < flips; ++k) {
            const size_t at = rng() % 2 ? rng() % 28 : rng() % s.size();
            s[at] = static_cast<uint8_t>(rng());
        }
        s.resize(s.size() - rng() % 8);
        Decode<3>(s, out, 1024 + 64);
    }
}

TEST(SGCompressorMessages, LongRunIsLoggedAndTheStreamStillDecodes) {
    // Tokens: 2, then a run of 9 where only 3 values remain.
    std::vector<uint8_t> stream = Bytes({{0x01, 0xfc, 0x02}, Le<int32_t>(4), Le(1.0f), Le(0.0f), Le<int32_t>(0), {0},
                                         KorTest::EncodeEntropyBlock({2, -9}, EntropyForm::Direct)});
    LogCapture capture;
    std::vector<float> out;
    ASSERT_TRUE(Decode<1>(stream, out, 4));
    EXPECT_EQ(out, std::vector<float>(4, 2.0f));
    EXPECT_EQ(capture.Log(), std::vector<std::string>{"DecodeAndExpand - constant sequence longer than expected\n"});
}

TEST(SGCompressorMessages, WorkBufferAllocationFailure) {
    // Rows of 64 cells with one pass: streamed, with a work buffer.
    SGQuantised p;
    p.dims = {64, 2, 2};
    p.passes = 1;
    const std::vector<int32_t> q(256, 1);
    const std::vector<uint8_t> stream = Quantised(p, q);
    std::vector<float> out(256);
    SGCompressor<3> decoder;
    // Count the decode's allocations; the work buffer is the last of them.
    ZUtils::FailAllocationAt(1000000);
    ASSERT_TRUE(decoder.Decompress(stream.data(), stream.size(), out.data(), 256));
    const int64_t made = ZUtils::AllocationsCounted();
    LogCapture capture;
    ZUtils::FailAllocationAt(made);
    const bool ok = decoder.Decompress(stream.data(), stream.size(), out.data(), 256);
    ZUtils::FailAllocationAt(0);
    EXPECT_FALSE(ok);
    EXPECT_EQ(capture.Log(), std::vector<std::string>{"Can't allocate 0 MB for decompression"});

    // Grids decoded axis by axis allocate no more than a flat array of as
    // many values does.
    auto allocations = [](const std::vector<int32_t>& dims, int passes) {
        SGQuantised n;
        n.dims = dims;
        n.passes = passes;
        const std::vector<uint8_t> s = Quantised(n, std::vector<int32_t>(256, 1));
        std::vector<float> values(256);
        SGCompressor<3> d;
        ZUtils::FailAllocationAt(1000000);
        EXPECT_TRUE(d.Decompress(s.data(), s.size(), values.data(), 256));
        const int64_t count = ZUtils::AllocationsCounted();
        ZUtils::FailAllocationAt(0);
        return count;
    };
    const int64_t flat = allocations({256, 1, 1}, 200);
    EXPECT_EQ(allocations({64, 2, 2}, 1), flat + 1);
    EXPECT_EQ(allocations({4, 8, 8}, 1), flat);
    EXPECT_EQ(allocations({64, 2, 2}, 200), flat);
}

TEST(SGCompressorOutput, AppendAndReadBytes) {
    SGCompressor<1> c;
    EXPECT_EQ(c.Output().Count(), 0);
    ASSERT_TRUE(c.AppendOutput("abc", 3));
    ASSERT_TRUE(c.AppendOutput("de", 2));
    EXPECT_EQ(c.Output().Count(), 5);
    EXPECT_EQ(std::memcmp(c.Output().Data(), "abcde", 5), 0);
    EXPECT_FALSE(c.AppendOutput("x", -1));
}

}  // namespace
