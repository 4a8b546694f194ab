// The module's OpenVDB side on files written by OpenVDB itself.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "plugin_io/byte_source.h"
#include "vdb_layout.h"
#include "vdb_reader.h"
#include "vdb_test_writer.h"

namespace {

using VdbPlug::DenseFrame;
using VdbPlug::Request;
using VdbTest::Fill;
using VdbTest::GridSpec;
using VdbTest::ValueType;
using VdbTest::Voxel;

int g_live = 0;  // arrays made and not yet released
int g_failAfter = -1;  // allocations that succeed before one fails (-1: never)

float* TestAllocate(size_t cells) {
    if (g_failAfter == 0) return nullptr;
    if (g_failAfter > 0) --g_failAfter;
    ++g_live;
    return static_cast<float*>(std::malloc(cells * sizeof(float)));
}
void TestRelease(float* a) {
    --g_live;
    std::free(a);
}
const VdbPlug::ChannelAllocator kAllocator{TestAllocate, TestRelease};

class VdbReader : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = VdbTest::MakeScratchDir("reader");
        g_live = 0;
        g_failAfter = -1;
    }
    void TearDown() override {
        Release();
        EXPECT_EQ(g_live, 0) << "every array made is given back";
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string Write(const std::string& name, const std::vector<GridSpec>& grids,
                      int compression = VdbTest::kDefaultCompression) {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(VdbTest::WriteVdb(path, grids, compression));
        return path;
    }
    int Import(const std::string& path, const std::vector<Request>& requests) {
        Release();
        frame_ = DenseFrame();
        return VdbPlug::ImportGrids(path.c_str(), requests.data(), int(requests.size()), kAllocator, frame_);
    }
    void Release() {
        for (float*& a : frame_.channels)
            if (a) {
                TestRelease(a);
                a = nullptr;
            }
    }
    float At(int channel, int i, int j, int k) const {
        return frame_.channels[channel][i + int64_t(frame_.nx) * (j + int64_t(frame_.ny) * k)];
    }

    std::string dir_;
    DenseFrame frame_;
};

GridSpec Scalar(const std::string& name, ValueType type, double background, std::vector<Voxel> voxels) {
    GridSpec g;
    g.name = name;
    g.type = type;
    g.background[0] = background;
    g.voxels = std::move(voxels);
    return g;
}

TEST_F(VdbReader, ListsEveryGridInFileOrderWithTheNotScalarFlag) {
    GridSpec vel = Scalar("vel", ValueType::Vec3f, 0, {{1, 1, 1, {1, 2, 3}}});
    const std::string path = Write("list.vdb", {Scalar("temperature", ValueType::Float, 0, {{0, 0, 0, {1}}}), vel,
                                                Scalar("heat", ValueType::Double, 0, {}),
                                                Scalar("mask", ValueType::Bool, 0, {{0, 0, 0, {1}}}),
                                                Scalar("ids", ValueType::Int32, 0, {{0, 0, 0, {7}}}),
                                                Scalar("half", ValueType::HalfFloat, 0, {})});
    std::vector<VdbPlug::GridEntry> grids;
    ASSERT_EQ(VdbPlug::ListGrids(path.c_str(), grids), VdbPlug::kOk);
    ASSERT_EQ(grids.size(), 6u);
    const char* names[] = {"temperature", "vel", "heat", "mask", "ids", "half"};
    const bool notScalar[] = {false, true, false, true, false, false};
    for (size_t i = 0; i < grids.size(); ++i) {
        EXPECT_EQ(grids[i].name, names[i]);
        EXPECT_EQ(grids[i].notScalar, notScalar[i]) << names[i];
    }
}

TEST_F(VdbReader, MissingEmptyAndForeignFilesAreRefusedWithTheirCodes) {
    std::vector<VdbPlug::GridEntry> grids;
    EXPECT_EQ(VdbPlug::ListGrids((dir_ + "/absent.vdb").c_str(), grids), VdbPlug::kNoFile);
    EXPECT_EQ(VdbPlug::ListGrids("", grids), VdbPlug::kNoFile);
    EXPECT_EQ(VdbPlug::ListGrids(nullptr, grids), VdbPlug::kNoFile);
    const std::string text = dir_ + "/text.vdb";
    std::ofstream(text) << "this is not a volume file at all, just some words";
    EXPECT_EQ(VdbPlug::ListGrids(text.c_str(), grids), VdbPlug::kDamaged);
    EXPECT_TRUE(grids.empty());

    const Request r{"density", 2, 1.0f};
    EXPECT_EQ(VdbPlug::ImportGrids((dir_ + "/absent.vdb").c_str(), &r, 1, kAllocator, frame_), VdbPlug::kNoFile);
    EXPECT_EQ(VdbPlug::ImportGrids(text.c_str(), &r, 1, kAllocator, frame_), VdbPlug::kDamaged);
    EXPECT_EQ(VdbPlug::ImportGrids(text.c_str(), &r, -1, kAllocator, frame_), VdbPlug::kBadArguments);
    EXPECT_EQ(VdbPlug::ImportGrids(text.c_str(), nullptr, 1, kAllocator, frame_), VdbPlug::kBadArguments);
    // Not regular files: a directory, and a FIFO, which would block a reader.
    const std::string fifo = dir_ + "/x.vdb";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& path : {dir_, fifo}) {
        EXPECT_EQ(VdbPlug::ImportGrids(path.c_str(), &r, 1, kAllocator, frame_), VdbPlug::kNoFile) << path;
        EXPECT_EQ(VdbPlug::ListGrids(path.c_str(), grids), VdbPlug::kNoFile) << path;
    }
    EXPECT_EQ(frame_.channelMask, 0u);
}

TEST_F(VdbReader, DensifiesOneGridOntoItsActiveBoxWithBackgroundElsewhere) {
    GridSpec g = Scalar("density", ValueType::Float, 0.25, {{-2, 3, 10, {1.5}}, {4, 5, 12, {-7}}, {0, 4, 11, {9}}});
    g.voxelSize[0] = 0.5;
    g.voxelSize[1] = 0.25;
    g.voxelSize[2] = 2.0;
    g.translation[0] = 10;
    g.translation[1] = -1;
    g.translation[2] = 3;
    const std::string path = Write("one.vdb", {g});
    ASSERT_EQ(Import(path, {{"density", 2, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(frame_.nx, 7);
    EXPECT_EQ(frame_.ny, 3);
    EXPECT_EQ(frame_.nz, 3);
    EXPECT_EQ(frame_.channelMask, 1u << 2);
    // Cell (i,j,k) is index (-2+i, 3+j, 10+k).
    EXPECT_EQ(At(2, 0, 0, 0), 1.5f);
    EXPECT_EQ(At(2, 6, 2, 2), -7.0f);
    EXPECT_EQ(At(2, 2, 1, 1), 9.0f);
    int background = 0;
    for (int k = 0; k < 3; ++k)
        for (int j = 0; j < 3; ++j)
            for (int i = 0; i < 7; ++i) background += At(2, i, j, k) == 0.25f;
    EXPECT_EQ(background, 7 * 3 * 3 - 3);
    // Axes are the voxel sizes; the offset is the world position of index (-2, 3, 10).
    const float expected[12] = {0.5f, 0, 0, 0, 0.25f, 0, 0, 0, 2.0f, 10 - 1.0f, -1 + 0.75f, 3 + 20.0f};
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(frame_.transform[i], expected[i]) << i;
}

TEST_F(VdbReader, SeveralGridsShareTheUnionOfTheirActiveBoxes) {
    const std::string path =
        Write("several.vdb", {Scalar("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {3, 0, 0, {2}}}),
                              Scalar("temperature", ValueType::Double, 300, {{1, 5, 2, {310.5}}}),
                              Scalar("fuel", ValueType::HalfFloat, 0, {{2, 2, 2, {0.5}}}),
                              Scalar("unmapped", ValueType::Float, 0, {{100, 100, 100, {1}}})});
    ASSERT_EQ(Import(path, {{"density", 2, 1.0f}, {"temperature", 1, 1.0f}, {"fuel", 10, 1.0f}}), VdbPlug::kOk);
    // The unmapped grid does not widen the box.
    EXPECT_EQ(frame_.nx, 4);
    EXPECT_EQ(frame_.ny, 6);
    EXPECT_EQ(frame_.nz, 3);
    EXPECT_EQ(frame_.channelMask, (1u << 1) | (1u << 2) | (1u << 10));
    EXPECT_EQ(At(2, 3, 0, 0), 2.0f);
    EXPECT_EQ(At(2, 1, 5, 2), 0.0f);
    EXPECT_EQ(At(1, 1, 5, 2), 310.5f);
    EXPECT_EQ(At(1, 0, 0, 0), 300.0f);
    EXPECT_EQ(At(10, 2, 2, 2), 0.5f);  // exact in half precision
    EXPECT_EQ(At(10, 3, 0, 0), 0.0f);
}

TEST_F(VdbReader, VectorGridsFillThreeChannelsOnlyAtVelocityAndColour) {
    GridSpec vel = Scalar("vel", ValueType::Vec3f, 0, {{0, 0, 0, {1, 2, 3}}, {1, 1, 1, {-4, 5, -6}}});
    vel.background[1] = 0.5;
    GridSpec rgb = Scalar("Cd", ValueType::Vec3d, 0, {{1, 0, 1, {0.25, 0.5, 0.75}}});
    GridSpec uv = Scalar("uv", ValueType::Vec3f, 0, {{0, 1, 0, {9, 9, 9}}});
    const std::string path = Write("vectors.vdb", {vel, rgb, uv});
    ASSERT_EQ(Import(path, {{"vel", 4, 1.0f}, {"Cd", 7, 1.0f}, {"uv", 19, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(frame_.channelMask, 0x7u << 4 | 0x7u << 7);
    EXPECT_EQ(frame_.nx * frame_.ny * frame_.nz, 8);
    EXPECT_EQ(At(4, 1, 1, 1), -4.0f);
    EXPECT_EQ(At(5, 1, 1, 1), 5.0f);
    EXPECT_EQ(At(6, 1, 1, 1), -6.0f);
    EXPECT_EQ(At(6, 0, 0, 0), 3.0f);
    EXPECT_EQ(At(5, 1, 0, 0), 0.5f);  // background component
    EXPECT_EQ(At(7, 1, 0, 1), 0.25f);
    EXPECT_EQ(At(9, 1, 0, 1), 0.75f);

    // A vector on a single channel and the types that are only listed are skipped.
    const std::string other = Write("skipped.vdb", {Scalar("mask", ValueType::Bool, 0, {{0, 0, 0, {1}}}),
                                                    Scalar("ids", ValueType::Int32, 0, {{0, 0, 0, {7}}}), vel});
    EXPECT_EQ(Import(other, {{"vel", 2, 1.0f}, {"mask", 2, 1.0f}, {"ids", 1, 1.0f}, {"nothing", 2, 1.0f}}),
              VdbPlug::kNoGrid);
    EXPECT_EQ(frame_.channelMask, 0u);
}

TEST_F(VdbReader, MappingRulesFirstWinsScaleAndForbiddenChannels) {
    const std::string path = Write("rules.vdb", {Scalar("a", ValueType::Float, 1, {{0, 0, 0, {2}}}),
                                                 Scalar("b", ValueType::Float, 0, {{1, 0, 0, {3}}})});
    ASSERT_EQ(Import(path, {{"a", 2, 1.0f},
                            {"b", 2, 1.0f},
                            {"a", 1, 10.0f},
                            {"b", 18, 1.0f},
                            {"b", 31, 1.0f},
                            {"b", -1, 1.0f},
                            {nullptr, 3, 1.0f},
                            {"b", 10, 1.0f}}),
              VdbPlug::kOk);
    EXPECT_EQ(frame_.channelMask, (1u << 1) | (1u << 2) | (1u << 10));
    ASSERT_EQ(frame_.nx, 2);
    EXPECT_EQ(At(10, 1, 0, 0), 3.0f);
    EXPECT_EQ(At(2, 0, 0, 0), 2.0f);
    EXPECT_EQ(At(2, 1, 0, 0), 1.0f);   // "a" won channel 2; its background
    EXPECT_EQ(At(1, 0, 0, 0), 20.0f);  // one grid on two channels, scaled
    EXPECT_EQ(At(1, 1, 0, 0), 10.0f);
}

TEST_F(VdbReader, ActiveTilesAreDensifiedLikeVoxels) {
    GridSpec g = Scalar("density", ValueType::Float, 0, {{40, 0, 0, {5}}});
    g.fills.push_back(Fill{{0, 0, 0}, {31, 15, 7}, {0.75}});  // whole leaves: stored as tiles
    g.fills.push_back(Fill{{-3, 0, 0}, {-1, 1, 1}, {2}});     // partial: stored as voxels
    const std::string path = Write("tiles.vdb", {g});
    ASSERT_EQ(Import(path, {{"density", 2, 1.0f}}), VdbPlug::kOk);
    ASSERT_EQ(frame_.nx, 44);
    ASSERT_EQ(frame_.ny, 16);
    ASSERT_EQ(frame_.nz, 8);
    int tileCells = 0, other = 0;
    for (int k = 0; k < 8; ++k)
        for (int j = 0; j < 16; ++j)
            for (int i = 0; i < 44; ++i) {
                const float v = At(2, i, j, k);
                if (i >= 3 && i <= 34) {
                    tileCells += v == 0.75f;
                } else if (i < 3 && j < 2 && k < 2) {
                    EXPECT_EQ(v, 2.0f);
                } else if (i == 43 && j == 0 && k == 0) {
                    EXPECT_EQ(v, 5.0f);
                } else {
                    other += v != 0.0f;
                }
            }
    EXPECT_EQ(tileCells, 32 * 16 * 8);
    EXPECT_EQ(other, 0);
}

// Densifying runs in slabs one leaf deep: a tile of the upper internal level
// spans sixteen of them, and a box that starts off the leaf grid makes the
// first slab partial.
TEST_F(VdbReader, TilesOfBothInternalLevelsAreDensifiedWhole) {
    GridSpec g = Scalar("density", ValueType::Float, 0.25, {{-3, -5, -9, {7}}});
    g.fills.push_back(Fill{{0, 0, 0}, {127, 127, 127}, {1.5}});  // one tile of the upper level
    g.fills.push_back(Fill{{128, 0, 120}, {135, 7, 127}, {2.5}});  // one of the lower level
    const std::string path = Write("big_tiles.vdb", {g});
    ASSERT_EQ(Import(path, {{"density", 2, 2.0f}}), VdbPlug::kOk);
    ASSERT_EQ(frame_.nx, 139);
    ASSERT_EQ(frame_.ny, 133);
    ASSERT_EQ(frame_.nz, 137);
    int upper = 0, lower = 0, background = 0, other = 0;
    for (int k = 0; k < frame_.nz; ++k)
        for (int j = 0; j < frame_.ny; ++j)
            for (int i = 0; i < frame_.nx; ++i) {
                const float v = At(2, i, j, k);
                const bool inUpper = i >= 3 && i < 131 && j >= 5 && j < 133 && k >= 9 && k < 137;
                const bool inLower = i >= 131 && j >= 5 && j < 13 && k >= 129;
                if (inUpper)
                    upper += v == 3.0f;
                else if (inLower)
                    lower += v == 5.0f;
                else if (i == 0 && j == 0 && k == 0)
                    EXPECT_EQ(v, 14.0f);
                else if (v == 0.5f)
                    ++background;
                else
                    ++other;
            }
    EXPECT_EQ(upper, 128 * 128 * 128);
    EXPECT_EQ(lower, 8 * 8 * 8);
    EXPECT_EQ(background, 139 * 133 * 137 - 128 * 128 * 128 - 8 * 8 * 8 - 1);
    EXPECT_EQ(other, 0);
}

TEST_F(VdbReader, GridsWithAnotherTransformAreResampledOntoTheFirst) {
    GridSpec fine = Scalar("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {7, 7, 7, {1}}});
    // Twice the voxel size, same origin: index (1,1,1) of coarse covers world 2..
    GridSpec coarse = Scalar("temperature", ValueType::Float, -1, {});
    coarse.voxelSize[0] = coarse.voxelSize[1] = coarse.voxelSize[2] = 2.0;
    coarse.fills.push_back(Fill{{1, 1, 1}, {2, 2, 2}, {4}});
    const std::string path = Write("resample.vdb", {fine, coarse});
    ASSERT_EQ(Import(path, {{"density", 2, 1.0f}, {"temperature", 1, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(frame_.nx, 8);
    EXPECT_EQ(frame_.channelMask, (1u << 1) | (1u << 2));
    // Fine cells 2..4 sample coarse indices 1..2 only: the value itself.
    for (int i = 2; i <= 4; ++i) EXPECT_FLOAT_EQ(At(1, i, i, i), 4.0f) << i;
    // Fine cell 1 is coarse index 0.5: halfway to the background in x, y and z.
    EXPECT_FLOAT_EQ(At(1, 1, 2, 2), 0.5f * 4 + 0.5f * -1);
    // Far from any active voxel: the background exactly.
    EXPECT_EQ(At(1, 0, 7, 0), -1.0f);
    EXPECT_EQ(At(1, 7, 0, 0), -1.0f);
}

TEST_F(VdbReader, ARotatedGridWidensTheBoxToItsWorldExtent) {
    GridSpec base = Scalar("density", ValueType::Float, 0, {{0, 0, 0, {1}}});
    GridSpec turned = Scalar("fuel", ValueType::Float, 0, {});
    turned.rotateZDegrees = 90;  // index x runs along world y
    turned.fills.push_back(Fill{{0, 0, 0}, {9, 0, 0}, {3}});
    const std::string path = Write("rotated.vdb", {base, turned});
    ASSERT_EQ(Import(path, {{"density", 2, 1.0f}, {"fuel", 10, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(frame_.nx, 1);
    EXPECT_EQ(frame_.ny, 10);
    EXPECT_EQ(frame_.nz, 1);
    for (int j = 0; j < 10; ++j) EXPECT_NEAR(At(10, 0, j, 0), 3.0f, 1e-5f) << j;
    EXPECT_EQ(At(2, 0, 0, 0), 1.0f);
    EXPECT_EQ(At(2, 0, 1, 0), 0.0f);
}

TEST_F(VdbReader, NonLinearFirstGridIsRefusedButResampledLater) {
    GridSpec frustum = Scalar("frustum", ValueType::Float, 0, {{1, 1, 1, {1}}});
    frustum.frustum = true;
    const std::string path = Write("frustum.vdb", {frustum, Scalar("density", ValueType::Float, 0, {{0, 0, 0, {1}}})});
    EXPECT_EQ(Import(path, {{"frustum", 2, 1.0f}}), VdbPlug::kNonLinear);
    EXPECT_EQ(Import(path, {{"density", 2, 1.0f}, {"frustum", 1, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(frame_.channelMask, (1u << 1) | (1u << 2));
}

TEST_F(VdbReader, EmptyGridsGiveOneBackgroundCell) {
    const std::string path = Write("empty.vdb", {Scalar("density", ValueType::Float, 0.5, {})});
    ASSERT_EQ(Import(path, {{"density", 2, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(frame_.nx * frame_.ny * frame_.nz, 1);
    EXPECT_EQ(At(2, 0, 0, 0), 0.5f);
    EXPECT_FLOAT_EQ(frame_.transform[9], 0.0f);
}

TEST_F(VdbReader, ABoxTooLargeFailsWithItsOwnCodeAndLeaksNothing) {
    const std::string huge =
        Write("huge.vdb", {Scalar("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {1500, 1500, 1500, {1}}})});
    EXPECT_EQ(Import(huge, {{"density", 2, 1.0f}}), VdbPlug::kTooLarge);
    EXPECT_EQ(g_live, 0);

    // Memory running out on the third channel gives the first two back.
    const std::string path = Write("three.vdb", {Scalar("a", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                                                 Scalar("b", ValueType::Float, 0, {{1, 0, 0, {1}}}),
                                                 Scalar("c", ValueType::Float, 0, {{2, 0, 0, {1}}})});
    g_failAfter = 2;
    EXPECT_EQ(Import(path, {{"a", 1, 1.0f}, {"b", 2, 1.0f}, {"c", 10, 1.0f}}), VdbPlug::kTooLarge);
    EXPECT_EQ(g_live, 0);
    EXPECT_EQ(frame_.channelMask, 0u);
    for (float* a : frame_.channels) EXPECT_EQ(a, nullptr);
}

// The module walks every grid before OpenVDB reads it; the walk must accept
// whatever OpenVDB writes: each imported value type, full or half floats,
// and every compression, with tiles, partly active leaves and inactive values.
TEST_F(VdbReader, EveryCompressionAndValueTypeIsWalkedAndRead) {
    // None, zip, zip + active mask, blosc, blosc + active mask.
    for (int compression : {0, 1, 3, 4, 6}) {
        for (ValueType type : {ValueType::Float, ValueType::HalfFloat, ValueType::Double, ValueType::Vec3f,
                               ValueType::Vec3d}) {
            SCOPED_TRACE(testing::Message() << "compression " << compression << " type " << int(type));
            GridSpec g = Scalar("g", type, 0.5, {});
            g.fills.push_back(Fill{{0, 0, 0}, {15, 15, 15}, {2, 2, 2}});
            for (int i = 0; i < 40; ++i) g.voxels.push_back(Voxel{20 + i % 9, i % 5, i % 7, {i * 0.25, 1, 2}});
            const std::string path = Write("c.vdb", {g}, compression);
            ASSERT_EQ(Import(path, {{"g", 4, 1.0f}}), VdbPlug::kOk);
            EXPECT_EQ(At(4, 3, 3, 3), 2.0f);
            EXPECT_EQ(At(4, 20 + 6 % 9, 6 % 5, 6 % 7), 1.5f);
            EXPECT_EQ(At(4, 19, 6, 0), 0.5f);  // inactive: the background
        }
    }
}

// OpenVDB pads blosc inputs under 128 bytes: a grid of a dozen like leaves
// stores its delayed-load sizes as one padded block, which must be accepted.
TEST_F(VdbReader, APaddedBloscDelayedLoadRecordIsAccepted) {
    GridSpec g = Scalar("g", ValueType::Float, 0, {});
    for (int i = 0; i < 12; ++i) g.voxels.push_back(Voxel{8 * i, 0, 0, {3, 0, 0}});  // one per leaf
    const std::string path = Write("padded.vdb", {g}, 6);
    ASSERT_EQ(Import(path, {{"g", 2, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(At(2, 88, 0, 0), 3.0f);
}

// A chunk size stored in a leaf's buffer that disagrees with the buffer made
// OpenVDB 10 overflow the heap: the file is refused before OpenVDB reads it.
TEST_F(VdbReader, ALeafChunkSizeThatDisagreesWithItsBufferIsRefused) {
    GridSpec g = Scalar("density", ValueType::Float, 0, {});
    std::mt19937 random(7);
    for (int i = 0; i < 512; ++i) {
        // Random finite floats: zlib cannot shrink them, so they are stored raw.
        const uint32_t bits = static_cast<uint32_t>(random()) & 0xbf7fffffu;
        float v;
        std::memcpy(&v, &bits, 4);
        g.voxels.push_back(Voxel{i / 64, (i / 8) % 8, i % 8, {double(v)}});
    }
    const std::string path = Write("raw.vdb", {g}, 1);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int64_t raw = -2048;  // 512 floats, uncompressed
    size_t at = 0;
    for (size_t i = 0; i + 8 <= bytes.size() && at == 0; ++i)
        if (std::memcmp(&bytes[i], &raw, 8) == 0) at = i;
    ASSERT_NE(at, 0u);
    ASSERT_EQ(Import(path, {{"density", 1, 1.0f}}), VdbPlug::kOk);
    for (int64_t size : {int64_t(-2049), int64_t(-1) << 40, INT64_MIN, int64_t(1) << 40}) {
        std::memcpy(&bytes[at], &size, 8);
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
        EXPECT_EQ(Import(path, {{"density", 1, 1.0f}}), VdbPlug::kDamaged) << size;
    }
}

// OpenVDB reads a tree as half floats when the grid's metadata says so, not
// its descriptor's type name: with the flag cleared it read halves as full
// floats, and a chunk size taken from inside the data asked for 17 GB.
TEST_F(VdbReader, AHalfFloatFlagThatDisagreesWithTheDescriptorIsRefused) {
    for (int compression : {3, 6}) {  // zip and blosc, with active-mask compression
        GridSpec g = Scalar("density", ValueType::HalfFloat, 0.25, {});
        g.fills.push_back(Fill{{0, 0, 0}, {7, 7, 15}, {1}});
        for (int i = 0; i < 24; ++i) g.voxels.push_back(Voxel{9 + i % 5, i % 3, i % 7, {i * 0.5}});
        const std::string path = Write("half.vdb", {g}, compression);
        ASSERT_EQ(Import(path, {{"density", 1, 1.0f}}), VdbPlug::kOk);
        std::ifstream in(path, std::ios::binary);
        std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const std::string key = "is_saved_as_half_float";
        const size_t at = std::string(bytes.begin(), bytes.end()).find(key);
        ASSERT_NE(at, std::string::npos);
        const size_t value = at + key.size() + 4 + 4 + 4;  // type name "bool", byte count, then the value
        ASSERT_EQ(bytes[value], 1);
        bytes[value] = 0;
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
        // Refused by the walk, before OpenVDB reads the grid.
        PluginIo::MemorySource source(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        VdbPlug::FileLayout layout;
        ASSERT_EQ(VdbPlug::ReadLayout(source, layout), VdbPlug::kOk);
        EXPECT_EQ(VdbPlug::CheckGrid(source, layout, layout.grids.at(0)), VdbPlug::kDamaged) << compression;
        EXPECT_EQ(Import(path, {{"density", 1, 1.0f}}), VdbPlug::kDamaged) << compression;
    }
}

// A damaged root child origin moves that child's voxels far away: the box
// would grow to billions of cells, all allocated and filled. OpenVDB stores
// the active box and voxel count with each grid; a tree that disagrees with
// them is refused.
TEST_F(VdbReader, ATreeWhoseActiveBoxDisagreesWithItsStatisticsIsRefused) {
    const std::string path =
        Write("far.vdb", {Scalar("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {4100, 0, 0, {2}}})});
    ASSERT_EQ(Import(path, {{"density", 1, 1.0f}}), VdbPlug::kOk);
    EXPECT_EQ(int64_t(frame_.nx) * frame_.ny * frame_.nz, 4101);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int32_t origin[3] = {4096, 0, 0};  // the second root child
    const auto at = std::search(bytes.begin(), bytes.end(), reinterpret_cast<const char*>(origin),
                                reinterpret_cast<const char*>(origin) + sizeof(origin));
    ASSERT_NE(at, bytes.end());
    const int32_t moved[3] = {4096, 0, 4096};  // one bit: 4101 x 1 x 4097 cells
    std::memcpy(&*at, moved, sizeof(moved));
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
    EXPECT_EQ(Import(path, {{"density", 1, 1.0f}}), VdbPlug::kDamaged);
}

TEST_F(VdbReader, DamagedFilesNeverCrashAndNeverLeak) {
    GridSpec g = Scalar("density", ValueType::Float, 0, {});
    g.fills.push_back(Fill{{0, 0, 0}, {20, 20, 20}, {1}});
    for (int i = 0; i < 50; ++i) g.voxels.push_back(Voxel{i * 3 % 41, i * 7 % 37, i, {double(i)}});
    const std::string good = Write("good.vdb", {g, Scalar("vel", ValueType::Vec3f, 0, {{1, 2, 3, {1, 1, 1}}})});
    std::ifstream in(good, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes.size(), 200u);
    const std::string bad = dir_ + "/bad.vdb";
    auto writeBad = [&](const std::vector<char>& data) {
        std::ofstream(bad, std::ios::binary | std::ios::trunc).write(data.data(), std::streamsize(data.size()));
    };
    // Every truncation: refused, or (when only trailing bytes went) read.
    for (size_t cut = 0; cut < bytes.size(); cut += (cut < 400 ? 7 : 97)) {
        writeBad(std::vector<char>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)));
        const int rc = Import(bad, {{"density", 2, 1.0f}, {"vel", 4, 1.0f}});
        EXPECT_NE(rc, VdbPlug::kOk) << "cut at " << cut;
        std::vector<VdbPlug::GridEntry> grids;
        VdbPlug::ListGrids(bad.c_str(), grids);
        EXPECT_EQ(g_live, 0);
    }
    // Flipped bytes and huge 64-bit fields anywhere: any code, but no crash
    // and no leak (the sanitizer builds check the rest).
    unsigned seed = 12345;
    for (int round = 0; round < 400; ++round) {
        std::vector<char> data = bytes;
        seed = seed * 1103515245u + 12345u;
        const size_t at = (seed >> 8) % (bytes.size() - 8);
        if (round % 4 == 0) {
            const int64_t huge = (round % 8 == 0) ? INT64_MAX - round : -(int64_t(1) << (20 + round % 40));
            std::memcpy(&data[at], &huge, 8);
        } else {
            data[at] ^= char(1 + (seed >> 3) % 255);
        }
        writeBad(data);
        Import(bad, {{"density", 2, 1.0f}, {"vel", 4, 1.0f}});
        std::vector<VdbPlug::GridEntry> grids;
        VdbPlug::ListGrids(bad.c_str(), grids);
        Release();
        EXPECT_EQ(g_live, 0);
    }
}

}  // namespace
