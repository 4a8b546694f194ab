// The import core: which layers go to which channels, the union grid, the
// transform, and the failures an import reports.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <vector>

#include "f3d_import.h"
#include "f3d_samples.h"
#include "ogawa_builder.h"
#include "support/temp_dir.h"

using namespace F3d;
using F3dSamples::Field;

namespace {

class TestSink final : public FrameSink {
public:
    float* NewChannel(int channel, size_t cells) override {
        auto& v = channels[channel];
        v.assign(cells, 0.0f);
        return v.data();
    }
    void SetGrid(const int32_t d[3], const float t[12]) override {
        for (int a = 0; a < 3; ++a) dims[a] = d[a];
        for (int n = 0; n < 12; ++n) transform[n] = t[n];
        gridSet = true;
    }
    float At(int channel, int i, int j, int k) const {
        return channels.at(channel)[size_t(i) + size_t(dims[0]) * (size_t(j) + size_t(dims[1]) * size_t(k))];
    }
    std::map<int, std::vector<float>> channels;
    int dims[3] = {0, 0, 0};
    float transform[12] = {};
    bool gridSet = false;
};

std::string WriteFile(const KorTest::TempDir& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = dir.File(name);
    std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

TEST(Import, VectorToVelocityFillsThreeChannelsAndScalarsTheirOwn) {
    for (bool hdf5 : {false, true}) {
        TestSink sink;
        const ChannelMapping m[] = {{"density", 2}, {"vel", 4}, {"fuel", 10}, {"nothing_here", 1}};
        ASSERT_EQ(ImportFile(F3dSamples::SamplePath(hdf5, "dense_smoke.f3d").c_str(), m, 4, sink), kOk);
        ASSERT_TRUE(sink.gridSet);
        EXPECT_EQ(sink.dims[0], 24);
        EXPECT_EQ(sink.dims[1], 20);
        EXPECT_EQ(sink.dims[2], 16);
        EXPECT_EQ(sink.channels.size(), 5u);  // 2, 4, 5, 6, 10: the missing layer is passed over
        for (int k = 0; k < 16; k += 3)
            for (int j = 0; j < 20; j += 3)
                for (int i = 0; i < 24; i += 5) {
                    EXPECT_EQ(sink.At(2, i, j, k), F3dSamples::Value(Field::D, i, j, k));
                    EXPECT_EQ(sink.At(4, i, j, k), F3dSamples::Value(Field::VX, i, j, k));
                    EXPECT_EQ(sink.At(5, i, j, k), F3dSamples::Value(Field::VY, i, j, k));
                    EXPECT_EQ(sink.At(6, i, j, k), F3dSamples::Value(Field::VZ, i, j, k));
                    EXPECT_EQ(sink.At(10, i, j, k), F3dSamples::Value(Field::F, i, j, k));
                }
        // Centre of voxel (0, 0, 0) at (1.05, 0.55, -0.2), steps of 0.1.
        EXPECT_NEAR(sink.transform[0], 0.1f, 1e-7);
        EXPECT_NEAR(sink.transform[4], 0.1f, 1e-7);
        EXPECT_NEAR(sink.transform[8], 0.1f, 1e-7);
        EXPECT_NEAR(sink.transform[9], 1.05f, 1e-6);
        EXPECT_NEAR(sink.transform[10], 0.55f, 1e-6);
        EXPECT_NEAR(sink.transform[11], -0.2f, 1e-6);
    }
}

TEST(Import, VectorElsewhereGivesItsLengthAndScaleMultiplies) {
    TestSink sink;
    const ChannelMapping m[] = {{"vel", 3, 2.0f}, {"density", 2, 0.5f}, {"temperature", 2}};
    ASSERT_EQ(ImportFile(F3dSamples::SamplePath(false, "dense_smoke.f3d").c_str(), m, 3, sink), kOk);
    EXPECT_EQ(sink.channels.size(), 2u);  // channel 2 once: the first mapping wins
    const float vx = F3dSamples::Value(Field::VX, 7, 7, 7), vy = F3dSamples::Value(Field::VY, 7, 7, 7),
                vz = F3dSamples::Value(Field::VZ, 7, 7, 7);
    EXPECT_FLOAT_EQ(sink.At(3, 7, 7, 7), 2.0f * std::sqrt(vx * vx + vy * vy + vz * vz));
    EXPECT_EQ(sink.At(2, 7, 7, 7), 0.375f);
}

TEST(Import, ChannelsOutsideTheGridAndPackedColourAreNotFilled) {
    TestSink sink;
    const ChannelMapping m[] = {{"density", -1}, {"density", 31}, {"density", 18}, {"density", 1000}};
    EXPECT_EQ(ImportFile(F3dSamples::SamplePath(false, "dense_smoke.f3d").c_str(), m, 4, sink), kNoMappedLayer);
    EXPECT_TRUE(sink.channels.empty());
}

TEST(Import, LayersMeetOnTheUnionOfTheirDataWindows) {
    // "a" covers (1,0,0)..(2,2,1), "b" covers (0,1,1)..(1,3,2): the grid is
    // (0,0,0)..(2,3,2), 0 where a layer has no data.
    KorTest::TempDir dir;
    OgawaTest::DenseSpec a;
    a.name = "a";
    a.dwMin[0] = 1;
    OgawaTest::DenseSpec b;
    b.name = "b";
    b.dwMin[1] = 1;
    b.dwMin[2] = 1;
    b.base = 100;
    const std::string path = WriteFile(dir, "ab.f3d", OgawaTest::DenseFileOf({a, b}));
    TestSink sink;
    const ChannelMapping m[] = {{"a", 2}, {"b", 1}};
    ASSERT_EQ(ImportFile(path.c_str(), m, 2, sink), kOk);
    EXPECT_EQ(sink.dims[0], 3);
    EXPECT_EQ(sink.dims[1], 4);
    EXPECT_EQ(sink.dims[2], 3);
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 3; ++i) {
                const bool inA = i >= 1 && j <= 2 && k <= 1;
                const bool inB = i <= 1 && j >= 1 && k >= 1;
                EXPECT_EQ(sink.At(2, i, j, k), inA ? float((i - 1) + 2 * (j + 3 * k)) : 0.0f);
                EXPECT_EQ(sink.At(1, i, j, k), inB ? 100 + float(i + 2 * ((j - 1) + 3 * (k - 1))) : 0.0f);
            }
    // The transform comes from "a" (extents from x = 1) and names the centre
    // of the grid's first cell, voxel (0, 0, 0): world x = 1.0 + 0.1 * (0.5 - 1).
    EXPECT_NEAR(sink.transform[9], 0.95f, 1e-6);
    EXPECT_NEAR(sink.transform[10], 0.55f, 1e-6);
    EXPECT_NEAR(sink.transform[11], -0.20f, 1e-6);
}

TEST(Import, DamagedMappedLayerFailsTheImportButAnUnmappedOneDoesNot) {
    KorTest::TempDir dir;
    auto bytes = OgawaTest::DenseFile();
    // Cut the layer's values short by one float: the layer is damaged.
    for (size_t at = 16; at + 8 <= bytes.size(); ++at) {
        uint64_t n;
        std::memcpy(&n, bytes.data() + at, 8);
        if (n == 48) {
            n = 44;
            std::memcpy(bytes.data() + at, &n, 8);
            break;
        }
    }
    const std::string path = WriteFile(dir, "cut.f3d", bytes);
    TestSink sink;
    const ChannelMapping density[] = {{"density", 2}};
    EXPECT_EQ(ImportFile(path.c_str(), density, 1, sink), kDamaged);
    const ChannelMapping other[] = {{"temperature", 1}};
    EXPECT_EQ(ImportFile(path.c_str(), other, 1, sink), kNoMappedLayer);
    EXPECT_EQ(ImportFile(path.c_str(), density, 0, sink), kBadArguments);
    EXPECT_EQ(ImportFile(nullptr, density, 1, sink), kBadArguments);
    EXPECT_EQ(ImportFile(dir.File("missing.f3d").c_str(), density, 1, sink), kCannotOpen);
}

}  // namespace
