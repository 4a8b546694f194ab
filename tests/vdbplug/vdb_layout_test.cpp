// The checked walk over a .vdb file's header and grid descriptors.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "vdb_codes.h"
#include "vdb_layout.h"
#include "vdb_test_writer.h"

namespace {

using VdbTest::GridSpec;
using VdbTest::ValueType;

std::vector<char> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}
void WriteAll(const std::string& path, const std::vector<char>& data) {
    std::ofstream(path, std::ios::binary | std::ios::trunc).write(data.data(), std::streamsize(data.size()));
}

class VdbLayout : public ::testing::Test {
protected:
    void SetUp() override { dir_ = VdbTest::MakeScratchDir("layout"); }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string dir_;
};

GridSpec Grid(const std::string& name, ValueType type) {
    GridSpec g;
    g.name = name;
    g.type = type;
    g.voxels.push_back({1, 2, 3, {1, 1, 1}});
    return g;
}

TEST_F(VdbLayout, DescribesEveryGridWithNameTypeAndPositions) {
    const std::string path = dir_ + "/grids.vdb";
    ASSERT_TRUE(VdbTest::WriteVdb(path, {Grid("density", ValueType::Float), Grid("density", ValueType::HalfFloat),
                                         Grid("vel", ValueType::Vec3f), Grid("on", ValueType::Bool)}));
    VdbPlug::FileLayout layout;
    ASSERT_EQ(VdbPlug::ReadLayout(path.c_str(), layout), VdbPlug::kOk);
    EXPECT_TRUE(layout.hasGridOffsets);
    ASSERT_EQ(layout.grids.size(), 4u);
    // Two grids of one name get distinct stored names; the listing keeps the name.
    EXPECT_EQ(layout.grids[0].name, "density");
    EXPECT_EQ(layout.grids[1].name, "density");
    EXPECT_NE(layout.grids[0].uniqueName, layout.grids[1].uniqueName);
    EXPECT_EQ(layout.grids[0].type, "Tree_float_5_4_3");
    EXPECT_FALSE(layout.grids[0].halfFloat);
    EXPECT_EQ(layout.grids[1].type, "Tree_float_5_4_3");
    EXPECT_TRUE(layout.grids[1].halfFloat);
    EXPECT_EQ(VdbPlug::ValueTypeOf(layout.grids[2].type), "vec3s");
    EXPECT_EQ(VdbPlug::ValueTypeOf(layout.grids[3].type), "bool");
    for (size_t i = 0; i < layout.grids.size(); ++i) {
        const VdbPlug::GridRecord& g = layout.grids[i];
        EXPECT_LT(g.gridPos, g.blockPos);
        EXPECT_LE(g.blockPos, g.endPos);
        if (i + 1 < layout.grids.size()) {
            EXPECT_LT(g.endPos, layout.grids[i + 1].gridPos);
        }
    }
    EXPECT_EQ(layout.grids.back().endPos, int64_t(std::filesystem::file_size(path)));
}

TEST_F(VdbLayout, ValueTypesAndTheScalarRule) {
    EXPECT_EQ(VdbPlug::ValueTypeOf("Tree_ptdataidx32_5_4_3"), "ptdataidx32");
    EXPECT_EQ(VdbPlug::ValueTypeOf("Tree_half"), "half");
    EXPECT_EQ(VdbPlug::ValueTypeOf("Grid_float"), "");
    for (const char* t : {"float", "double", "half", "int32", "int64"}) EXPECT_TRUE(VdbPlug::IsScalarValueType(t)) << t;
    for (const char* t : {"vec3s", "vec3d", "vec3i", "bool", "mask", "ptdataidx32", "string", ""})
        EXPECT_FALSE(VdbPlug::IsScalarValueType(t)) << t;
}

TEST_F(VdbLayout, EveryTruncationAndForeignFileIsRefused) {
    const std::string good = dir_ + "/good.vdb";
    ASSERT_TRUE(VdbTest::WriteVdb(good, {Grid("a", ValueType::Float), Grid("b", ValueType::Vec3d)}));
    const std::vector<char> bytes = ReadAll(good);
    const std::string bad = dir_ + "/bad.vdb";
    VdbPlug::FileLayout layout;
    for (size_t cut = 0; cut < bytes.size(); cut += (cut < 256 ? 1 : 61)) {
        WriteAll(bad, std::vector<char>(bytes.begin(), bytes.begin() + std::ptrdiff_t(cut)));
        ASSERT_EQ(VdbPlug::ReadLayout(bad.c_str(), layout), VdbPlug::kDamaged) << "cut at " << cut;
    }
    EXPECT_EQ(VdbPlug::ReadLayout((dir_ + "/absent.vdb").c_str(), layout), VdbPlug::kNoFile);
}

TEST_F(VdbLayout, HostileCountsAndPositionsAreRefusedWithoutAllocating) {
    const std::string good = dir_ + "/good.vdb";
    ASSERT_TRUE(VdbTest::WriteVdb(good, {Grid("a", ValueType::Float)}));
    const std::vector<char> bytes = ReadAll(good);
    VdbPlug::FileLayout layout;
    ASSERT_EQ(VdbPlug::ReadLayout(good.c_str(), layout), VdbPlug::kOk);
    const std::string bad = dir_ + "/bad.vdb";
    // Header: 8 magic, 4 version, 8 library version, 1 offsets flag, 36 UUID;
    // then the file metadata count.
    const size_t metaCount = 8 + 4 + 8 + 1 + 36;
    auto patched = [&](size_t at, uint32_t value) {
        std::vector<char> data = bytes;
        std::memcpy(data.data() + at, &value, sizeof value);
        WriteAll(bad, data);
        return VdbPlug::ReadLayout(bad.c_str(), layout);
    };
    EXPECT_EQ(patched(metaCount, 0xFFFFFFFFu), VdbPlug::kDamaged);
    // The first grid's name length, just after an empty file metadata block
    // and the grid count.
    uint32_t entries = 0;
    std::memcpy(&entries, bytes.data() + metaCount, 4);
    ASSERT_EQ(entries, 0u) << "the test writer adds no file metadata";
    EXPECT_EQ(patched(metaCount + 4, 0x7FFFFFFFu), VdbPlug::kDamaged);  // grid count
    EXPECT_EQ(patched(metaCount + 8, 0xFFFFFFF0u), VdbPlug::kDamaged);  // name length
    // End position of the grid beyond the file.
    const size_t endPos = metaCount + 8 + 4 + 1 + 4 + 16 + 4 + 16;
    EXPECT_EQ(patched(endPos, uint32_t(bytes.size() + 1)), VdbPlug::kDamaged);
    EXPECT_EQ(patched(endPos, uint32_t(bytes.size())), VdbPlug::kOk);
    EXPECT_EQ(patched(0, 0x12345678u), VdbPlug::kDamaged);  // magic
}

}  // namespace
