// The five particle channel methods: round trips through the test encoders,
// the fixed layouts of methods 3 and 4, and damaged streams.
#include <gtest/gtest.h>

#include <cstring>

#include "codecs/particle_methods.h"
#include "codecs/sg_compressor.h"
#include "log_capture.h"
#include "particles_test_util.h"
#include "support/particle_writer.h"

using namespace KorParticles;
using KorTest::Bytes;
using KorTest::Words;
using ParticleTest::Pattern;

namespace {

struct Decoded {
    bool ok = false;
    Words elements;
};

Decoded Decode(uint32_t method, const Bytes& stored, int32_t count, int words, uint32_t fill = 0) {
    Decoded d;
    d.elements.assign(static_cast<size_t>(count) * words, fill);
    SGCompressor<1>* state = nullptr;
    d.ok = DecodeParticleChannel(method, stored.data(), stored.size(), count, words, state, d.elements.data());
    delete state;
    return d;
}

Words NaiveRebuild(const Words& planes, int32_t count, int words) {
    const size_t p = (static_cast<size_t>(count) + 31) / 32;
    Words e(static_cast<size_t>(count) * words, 0);
    for (int32_t i = 0; i < count; ++i)
        for (int j = 0; j < words; ++j)
            for (int b = 0; b < 32; ++b)
                if ((planes[(32 * j + b) * p + i / 32] >> (i % 32)) & 1u) e[static_cast<size_t>(i) * words + j] |= 1u << b;
    return e;
}

}  // namespace

TEST(ParticleMethods, EveryMethodRoundTripsEveryWidth) {
    for (uint32_t method = 0; method <= 4; ++method)
        for (int words : {1, 2, 3})
            for (int32_t count : {1, 31, 32, 33, 100, 1000}) {
                const Words e = Pattern(static_cast<size_t>(count) * words, method * 100 + count + words);
                const Decoded d = Decode(method, KorTest::EncodeParticleChannel(method, e, count, words), count, words);
                ASSERT_TRUE(d.ok) << "method " << method << " words " << words << " count " << count;
                EXPECT_EQ(d.elements, e) << "method " << method << " words " << words << " count " << count;
            }
}

TEST(ParticleMethods, Method3ComponentMajorStreamComesOutParticleMajor) {
    // All x, then all y, then all z: x y z per particle.
    const Words t = KorTest::FloatWords({1, 2, 3, 10, 20, 30, 100, 200, 300});
    const Decoded d = Decode(kMethodSparseComponentMajor, KorTest::RawSparseStream(t), 3, 3);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.elements, KorTest::FloatWords({1, 10, 100, 2, 20, 200, 3, 30, 300}));
}

TEST(ParticleMethods, Method4WithThirtyThreeParticlesReadsTheSecondPlaneWord) {
    // n = 33, W = 1: P = 2; particle 32's bit b is bit 0 of plane word b·2 + 1.
    Words planes(2 * 32, 0);
    planes[5 * 2 + 1] = 1u;            // particle 32, bit 5
    planes[7 * 2 + 1] = 1u | 0xF0u;    // particle 32, bit 7; bits of particles 36..39 do not exist
    planes[0 * 2 + 0] = 1u << 31;      // particle 31, bit 0
    const Bytes stored = KorTest::ZlibCompress(planes.data(), planes.size() * 4);
    const Decoded d = Decode(kMethodBitPlanes, stored, 33, 1);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.elements[32], (1u << 5) | (1u << 7));
    EXPECT_EQ(d.elements[31], 1u);
    for (int i = 0; i < 31; ++i) EXPECT_EQ(d.elements[i], 0u);
}

TEST(ParticleMethods, Method4IgnoresBitsBeyondTheLastParticle) {
    const Words e = Pattern(3 * 40, 7);
    const Words planes = KorTest::BitPlanes(e, 40, 3, /*padding=*/true);
    const Decoded d = Decode(kMethodBitPlanes, KorTest::ZlibCompress(planes.data(), planes.size() * 4), 40, 3);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(d.elements, e);
}

TEST(ParticleMethods, BitTransposeMatchesTheBitByBitRebuild) {
    for (int32_t count : {1, 5, 32, 33, 63, 64, 65, 96, 777}) {
        const Words planes = Pattern(((count + 31) / 32) * 32 * 2, count);
        Words e(static_cast<size_t>(count) * 2, 0xDEADBEEF);
        RebuildFromBitPlanes(planes.data(), count, 2, 0, count, e.data());
        EXPECT_EQ(e, NaiveRebuild(planes, count, 2)) << count;
    }
}

TEST(ParticleMethods, BitPlaneRebuildOfASubrangeWritesOnlyThatRange) {
    const int32_t count = 100;
    const Words planes = Pattern(4 * 32, 3);
    const Words expected = NaiveRebuild(planes, count, 1);
    Words e(count, 0xABABABAB);
    RebuildFromBitPlanes(planes.data(), count, 1, 10, 70, e.data());
    for (int i = 0; i < count; ++i) EXPECT_EQ(e[i], i >= 10 && i < 70 ? expected[i] : 0xABABABABu) << i;
}

TEST(ParticleMethods, VectorBitTransposesMatchTheScalarOneAtEveryTailLength) {
    // Counts up to 1100 leave every tail of 512-bit groups (16 plane words)
    // and of partial plane words; subranges start and end inside groups.
    // Each word count has its own way out of the vectors (4 is no channel's,
    // but the rebuild takes any).
    for (int words : {1, 2, 3, 4}) {
        const Words planes = Pattern(35 * 32 * words, 11 + words);
        for (int bits : {128, 256, 512})
            for (int32_t count = 1; count <= 1100; ++count) {
                const int32_t begin = count > 600 ? count % 97 : 0;
                const int32_t end = count > 600 ? count - count % 61 : count;
                Words scalar(static_cast<size_t>(count) * words, 0x5A5A5A5A), vector = scalar;
                RebuildFromBitPlanes(planes.data(), count, words, begin, end, scalar.data(), 0);
                RebuildFromBitPlanes(planes.data(), count, words, begin, end, vector.data(), bits);
                ASSERT_EQ(vector, scalar) << bits << " bits, " << words << " words, count " << count;
            }
    }
}

TEST(ParticleMethods, ZipBlockLongerThanTheElementsFails) {
    LogCapture log;
    const Words e = Pattern(12, 1);
    const Decoded d = Decode(kMethodZip, KorTest::EncodeZip(e), 3, 3);  // 9 words expected, 12 stored
    EXPECT_FALSE(d.ok);
    EXPECT_TRUE(log.Logged("Error decompressing Zip (0)\n"));
}

TEST(ParticleMethods, ZipBlockShorterThanTheElementsSucceedsAndLeavesTheRest) {
    const Words e = Pattern(6, 2);
    const Decoded d = Decode(kMethodZip, KorTest::EncodeZip(e), 3, 3, 0x77777777u);
    ASSERT_TRUE(d.ok);
    EXPECT_EQ(Words(d.elements.begin(), d.elements.begin() + 6), e);
    for (size_t i = 6; i < 9; ++i) EXPECT_EQ(d.elements[i], 0x77777777u);
}

TEST(ParticleMethods, PlainBytesFewerThanTheElementsFail) {
    const Words e = Pattern(8, 3);
    EXPECT_FALSE(Decode(kMethodPlain, KorTest::EncodePlain(e), 3, 3).ok);
    const Words ten = Pattern(10, 3);
    const Decoded longer = Decode(kMethodPlain, KorTest::EncodePlain(ten), 3, 3);
    ASSERT_TRUE(longer.ok);
    EXPECT_EQ(longer.elements, Words(ten.begin(), ten.begin() + 9));
}

TEST(ParticleMethods, SparseStreamsWithAnotherValueCountAreRefusedBeforeWriting) {
    for (uint32_t method : {kMethodSparse, kMethodSparseComponentMajor})
        for (size_t values : {8u, 10u}) {
            const Decoded d = Decode(method, KorTest::RawSparseStream(Pattern(values, 4)), 3, 3, 0x55555555u);
            EXPECT_FALSE(d.ok) << method << " " << values;
            for (uint32_t w : d.elements) EXPECT_EQ(w, 0x55555555u);
        }
    // The constant form declares its count too.
    EXPECT_FALSE(Decode(kMethodSparse, KorTest::ConstantSparseStream(4, 1.0f), 3, 1).ok);
    const Decoded constant = Decode(kMethodSparse, KorTest::ConstantSparseStream(3, 1.5f), 3, 1);
    ASSERT_TRUE(constant.ok);
    EXPECT_EQ(constant.elements, KorTest::FloatWords({1.5f, 1.5f, 1.5f}));
}

TEST(ParticleMethods, SparseDecoderStateIsMadeOnceAndReused) {
    const Words e = Pattern(9, 5);
    const Bytes stored = KorTest::RawSparseStream(e);
    SGCompressor<1>* state = nullptr;
    Words out(9);
    ASSERT_TRUE(DecodeParticleChannel(kMethodSparse, stored.data(), stored.size(), 3, 3, state, out.data()));
    SGCompressor<1>* first = state;
    ASSERT_NE(first, nullptr);
    ASSERT_TRUE(DecodeParticleChannel(kMethodSparseComponentMajor, stored.data(), stored.size(), 3, 3, state, out.data()));
    EXPECT_EQ(state, first);
    delete state;
}

TEST(ParticleMethods, ChannelsWithoutElementWordsAreEmptyUnderEveryMethod) {
    const Bytes junk = {1, 2, 3};
    for (uint32_t method = 0; method <= 4; ++method) {
        SGCompressor<1>* state = nullptr;
        EXPECT_TRUE(DecodeParticleChannel(method, junk.data(), junk.size(), 50, 0, state, nullptr)) << method;
        EXPECT_EQ(state, nullptr);
    }
}

TEST(ParticleMethods, UnknownMethodsAndDamagedStreamsFail) {
    LogCapture log;
    const Words e = Pattern(6, 6);
    EXPECT_FALSE(Decode(5, KorTest::EncodePlain(e), 2, 3).ok);
    EXPECT_TRUE(log.Log().empty());
    Bytes zip = KorTest::EncodeZip(e);
    zip.resize(zip.size() / 2);
    EXPECT_FALSE(Decode(kMethodZip, zip, 2, 3).ok);
    Bytes planes = KorTest::EncodeParticleChannel(kMethodBitPlanes, e, 2, 3);
    planes[planes.size() - 1] ^= 0xFF;  // the Adler-32 trailer
    EXPECT_FALSE(Decode(kMethodBitPlanes, planes, 2, 3).ok);
    Bytes sparse = KorTest::RawSparseStream(e);
    sparse[0] = 0x77;  // unknown tag
    EXPECT_FALSE(Decode(kMethodSparse, sparse, 2, 3).ok);
    EXPECT_FALSE(Decode(kMethodSparse, Bytes{}, 2, 3).ok);
    sparse = KorTest::RawSparseStream(e);
    sparse.resize(sparse.size() - 1);  // cut values
    EXPECT_FALSE(Decode(kMethodSparse, sparse, 2, 3).ok);
}

// --- Quantised and zoned sparse-grid streams (the codec's own test encoder)

#include "support/sg_encoder.h"

TEST(ParticleMethods, QuantisedStreamsDecodeUnderMethods2And3) {
    const int32_t count = 257;
    std::vector<float> values(static_cast<size_t>(count) * 3);
    for (size_t i = 0; i < values.size(); ++i) values[i] = 0.01f * static_cast<float>(i % 97) - 0.3f;
    KorTest::SGQuantised params;
    params.dims = {count * 3};
    params.scale = 512.0f;
    params.passes = 1;
    const std::vector<int32_t> q = KorTest::Quantise(values.data(), values.size(), params.scale, params.offset);
    Bytes stream;
    ASSERT_TRUE(KorTest::SGQuantisedStream(params, q.data(), stream));
    Words expected(values.size());
    for (size_t i = 0; i < q.size(); ++i) {
        const float v = KorTest::Dequantise(q[i], params.scale, params.offset);
        std::memcpy(&expected[i], &v, 4);
    }
    const Decoded two = Decode(kMethodSparse, stream, count, 3);
    ASSERT_TRUE(two.ok);
    EXPECT_EQ(two.elements, expected);
    // The same stream read as component-major words comes out reordered.
    const Decoded three = Decode(kMethodSparseComponentMajor, stream, count, 3);
    ASSERT_TRUE(three.ok);
    for (int32_t i = 0; i < count; ++i)
        for (int j = 0; j < 3; ++j) ASSERT_EQ(three.elements[i * 3 + j], expected[j * count + i]);
}

TEST(ParticleMethods, ZonedStreamsMustFillExactlyTheElements) {
    // One zone per component of 10 particles.
    std::vector<KorTest::SGZone> zones;
    for (int j = 0; j < 3; ++j) zones.push_back({10 * j, KorTest::SGConstantStream(10, static_cast<float>(j + 1))});
    const Decoded d = Decode(kMethodSparseComponentMajor, KorTest::SGZonedStream(zones), 10, 3);
    ASSERT_TRUE(d.ok);
    for (int i = 0; i < 10; ++i) EXPECT_EQ(d.elements[3 * i + 2], KorTest::FloatWords({3.0f})[0]);
    // Zones that stop short of the elements, or reach past them, are refused.
    zones.pop_back();
    EXPECT_FALSE(Decode(kMethodSparseComponentMajor, KorTest::SGZonedStream(zones), 10, 3).ok);
    zones.push_back({25, KorTest::SGConstantStream(10, 3.0f)});
    EXPECT_FALSE(Decode(kMethodSparse, KorTest::SGZonedStream(zones), 10, 3).ok);
}
