// Particle groups as a host reads them: through the shared library and the
// public header only, from files written by the test encoders.
#include <gtest/gtest.h>

#include <korloader/korloader.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/kor_writer.h"
#include "support/particle_writer.h"
#include "support/temp_dir.h"

using KorTest::KorWriter;
using KorTest::Words;

namespace {

constexpr int kWords[15] = {3, 3, 1, 1, 3, 1, 0, 0, 0, 1, 2, 1, 1, 1, 1};
int WordsOf(int id) { return id >= 0 && id <= 14 ? kWords[id] : 1; }

Words Sequence(size_t n, uint32_t start) {
    Words w(n);
    std::iota(w.begin(), w.end(), start);
    return w;
}

Words ReadChannel(IOstrelPrtGroup* g, int channel, int count) {
    const int words = WordsOf(channel);
    Words out(static_cast<size_t>(count) * words);
    for (int i = 0; i < count; ++i)
        if (g->GetParticleChannel(i, channel, out.data() + static_cast<size_t>(i) * words) != 1) return {};
    return out;
}

class HostParticles : public ::testing::Test {
protected:
    IKor* Open(const std::string& name, const KorWriter& writer) {
        const std::string path = dir.File(name);
        EXPECT_TRUE(writer.WriteFile(path));
        IKor* frame = newIKor(path.c_str());
        if (frame != nullptr) opened.push_back(frame);
        return frame;
    }
    void TearDown() override {
        for (IKor* frame : opened) deleteIKor(frame);
    }
    KorTest::TempDir dir;
    std::vector<IKor*> opened;
};

}  // namespace

TEST_F(HostParticles, EveryGroupChannelAndIdOfACompressedFrame) {
    const int32_t n = 300;
    std::vector<int64_t> ids(n);
    std::iota(ids.begin(), ids.end(), 1LL << 33);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(3));
    KorTest::CompressedGroup a{"water", 0, n, 42, {}};
    const int channels[] = {0, 1, 2, 3, 4, 10, 12, 20};
    for (int c : channels) {
        const Words e = c == 10 ? KorTest::Int64Words(ids) : Sequence(static_cast<size_t>(n) * WordsOf(c), 1000u * c);
        a.channels.push_back({c, static_cast<uint32_t>(c % 5), KorTest::EncodeParticleChannel(c % 5, e, n, WordsOf(c))});
    }
    KorTest::CompressedGroup b{"no positions", 0, 5, 0, {{2, 0, KorTest::EncodePlain(Sequence(5, 0))}}};
    IKor* frame = Open("groups.kor", KorWriter()
                                         .Chunk(1000, KorTest::GroupDirectoryChunk({{"water", n, 0, 0}}, {0, 0, 0, 1, 1, 1}))
                                         .AfterChunk(KorTest::Int32Bytes(100000))
                                         .Chunk(1002, KorTest::CompressedParticlesChunk({b, a})));
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->GetNumParticleGroups(), 1);
    IOstrelPrtGroup* g = frame->GetParticleGroup(0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g, frame->GetParticleGroupByName("water"));
    EXPECT_NE(frame->GetParticleGroupByName("no positions"), nullptr);
    EXPECT_EQ(frame->GetParticleGroup(1), nullptr);
    EXPECT_STREQ(g->GetName(), "water");
    EXPECT_EQ(g->GetNumParticles(), n);
    for (int c : channels) {
        EXPECT_EQ(g->HasChannel(c), 1) << c;
        EXPECT_EQ(g->GetChannelSize(c), 4 * WordsOf(c)) << c;
        const Words expected =
            c == 10 ? KorTest::Int64Words(ids) : Sequence(static_cast<size_t>(n) * WordsOf(c), 1000u * c);
        EXPECT_EQ(ReadChannel(g, c, n), expected) << c;
    }
    EXPECT_EQ(g->HasChannel(5), 0);
    EXPECT_EQ(g->GetChannelType(10), 7);
    EXPECT_EQ(g->GetChannelComponents(0), 3);
    for (int i = 0; i < n; ++i) ASSERT_EQ(g->FindParticleByID(ids[i]), i);
    EXPECT_EQ(g->FindParticleByID(0), -1);
}

TEST_F(HostParticles, OlderFramesWithPlainAndCompressedSections) {
    KorTest::SectionGroup plain;
    plain.name = "sparks";
    plain.count = 3;
    plain.channels = {{0, KorTest::FloatWords({1, 2, 3, 4, 5, 6, 7, 8, 9})}, {3, KorTest::FloatWords({0.5f, 1, 2})}};
    plain.records = {KorTest::IdRecord({30, 10, 20}), KorTest::ValueRecord(7)};
    KorTest::SectionGroup packed;
    packed.name = "smoke";
    packed.count = 2;
    packed.channels = {{0, KorTest::FloatWords({-1, -2, -3, 1, 2, 3})}, {4, KorTest::FloatWords({1, 0, 0, 0, 1, 0})}};
    IKor* old = Open("old.kor", KorWriter().NoTrailer().Record(7, KorTest::ParticleSection({plain}, false)));
    ASSERT_NE(old, nullptr);
    IOstrelPrtGroup* g = old->GetParticleGroupByName("sparks");
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(ReadChannel(g, 0, 3), KorTest::FloatWords({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    EXPECT_EQ(g->FindParticleByID(10), 1);
    EXPECT_EQ(g->FindParticleByID(30), 0);
    EXPECT_EQ(g->FindParticleByID(40), -1);

    IKor* newer = Open("packed.kor", KorWriter().NoTrailer().Record(13, KorTest::ParticleSection({packed}, true)));
    ASSERT_NE(newer, nullptr);
    g = newer->GetParticleGroup(0);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(ReadChannel(g, 4, 2), KorTest::FloatWords({1, 0, 0, 0, 1, 0}));
    EXPECT_EQ(g->FindParticleByID(1), -1);  // no ID channel
}

TEST_F(HostParticles, VelocityFromTheGrid) {
    // A 2 x 2 x 2 grid whose velocity x is the cell's i, y its j, z its k.
    Words vx(8), vy(8), vz(8);
    for (int k = 0; k < 2; ++k)
        for (int j = 0; j < 2; ++j)
            for (int i = 0; i < 2; ++i) {
                const int n = i + 2 * j + 4 * k;
                const float v[3] = {static_cast<float>(i), static_cast<float>(j), static_cast<float>(k)};
                std::memcpy(&vx[n], &v[0], 4);
                std::memcpy(&vy[n], &v[1], 4);
                std::memcpy(&vz[n], &v[2], 4);
            }
    KorTest::CompressedGroup g{"grid", 0x30000, 2, 0, {{0, 0, KorTest::EncodePlain(KorTest::FloatWords({0.25f, 0.5f, 0.75f, 5, -1, 1}))}}};
    IKor* frame = Open("grid.kor", KorWriter()
                                       .Grid(2, 2, 2)
                                       .Channel(4, KorTest::RawSparseStream(vx))
                                       .Channel(5, KorTest::RawSparseStream(vy))
                                       .Channel(6, KorTest::RawSparseStream(vz))
                                       .Chunk(1002, KorTest::CompressedParticlesChunk({g})));
    ASSERT_NE(frame, nullptr);
    IOstrelPrtGroup* group = frame->GetParticleGroup(0);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->HasChannel(1), 1);
    float v[3];
    ASSERT_EQ(group->GetParticleChannel(0, 1, v), 1);
    EXPECT_FLOAT_EQ(v[0], 0.25f);
    EXPECT_FLOAT_EQ(v[1], 0.5f);
    EXPECT_FLOAT_EQ(v[2], 0.75f);
    ASSERT_EQ(group->GetParticleChannel(1, 1, v), 1);  // outside: clamped to the border cells
    EXPECT_FLOAT_EQ(v[0], 1.0f);
    EXPECT_FLOAT_EQ(v[1], 0.0f);
    EXPECT_FLOAT_EQ(v[2], 1.0f);
}

TEST_F(HostParticles, DamagedParticleDataFailsTheFileOrTheChannelNeverTheHost) {
    KorTest::CompressedGroup broken{"g", 0, 4, 0, {}};
    KorTest::Bytes zip = KorTest::EncodeZip(Sequence(12, 1));
    zip[zip.size() / 2] ^= 0x5A;
    broken.channels = {{0, 0, KorTest::EncodePlain(Sequence(12, 1))}, {1, 1, zip}, {2, 7, KorTest::EncodePlain(Sequence(4, 1))}};
    IKor* frame = Open("broken.kor", KorWriter().Chunk(1002, KorTest::CompressedParticlesChunk({broken})));
    ASSERT_NE(frame, nullptr);
    IOstrelPrtGroup* g = frame->GetParticleGroup(0);
    ASSERT_NE(g, nullptr);
    float out[3];
    EXPECT_EQ(g->GetParticleChannel(0, 1, out), 0);
    EXPECT_EQ(g->HasChannel(1), 0);
    EXPECT_EQ(g->GetParticleChannel(0, 2, out), 0);  // unknown method
    EXPECT_EQ(g->GetParticleChannel(0, 0, out), 1);

    KorTest::SectionGroup hostile;
    hostile.name = "h";
    hostile.count = 2;
    hostile.offsetOverrides[0] = 1 << 30;
    EXPECT_EQ(Open("hostile.kor", KorWriter().Record(7, KorTest::ParticleSection({hostile}, false))), nullptr);
}

TEST_F(HostParticles, ConcurrentHostThreadsReadOneGroup) {
    const int32_t n = 5000;
    std::vector<int64_t> ids(n);
    std::iota(ids.begin(), ids.end(), -2500);
    std::shuffle(ids.begin(), ids.end(), std::mt19937(9));
    KorTest::CompressedGroup a{"crowd", 0, n, 0, {}};
    for (int c : {0, 1, 3, 4})
        a.channels.push_back({c, static_cast<uint32_t>(c % 5), KorTest::EncodeParticleChannel(c % 5, Sequence(static_cast<size_t>(n) * WordsOf(c), c * 7u), n, WordsOf(c))});
    a.channels.push_back({10, 4, KorTest::EncodeParticleChannel(4, KorTest::Int64Words(ids), n, 2)});
    IKor* frame = Open("crowd.kor", KorWriter().Chunk(1002, KorTest::CompressedParticlesChunk({a})));
    ASSERT_NE(frame, nullptr);
    IOstrelPrtGroup* g = frame->GetParticleGroup(0);
    ASSERT_NE(g, nullptr);
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&, t] {
            for (int i = t * 13; i < n; i += 211) {
                for (int c : {0, 1, 3, 4}) {
                    uint32_t w[3];
                    if (g->GetParticleChannel(i, c, w) != 1 || w[0] != static_cast<uint32_t>(c * 7 + i * WordsOf(c))) ++wrong;
                }
                if (g->FindParticleByID(ids[i]) != i) ++wrong;
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}
