// The Ogawa reader on containers made by hand: valid ones read exactly,
// damaged ones (truncated, flipped bytes, offsets outside the file, absurd
// counts and sizes, shared and cyclic groups) give a code, never a crash,
// a read outside the file or a huge allocation.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <vector>

#include "f3d_ogawa.h"
#include "ogawa_builder.h"

using namespace F3d;
using namespace OgawaTest;

namespace {

// Opens, lists and reads every layer of an in-memory file, like an import.
// Layers above 2^12 cells are not read here (the reader's own limit is
// tested on its own).
Code ReadEverything(const std::vector<uint8_t>& bytes, std::vector<std::vector<float>>* values = nullptr) {
    PluginIo::MemorySource source(bytes.data(), bytes.size());
    OgawaField3D file(source);
    if (Code c = file.Open(); c != kOk) return c;
    std::vector<Layer> layers;
    std::vector<Code> status;
    if (Code c = file.ListLayers(layers, status); c != kOk) return c;
    if (layers.empty()) return kNoMappedLayer;
    for (size_t i = 0; i < layers.size(); ++i) {
        if (status[i] != kOk) return status[i];
        const Layer& l = layers[i];
        if (l.dataWindow.Cells() > (int64_t{1} << 12)) return kGridTooLarge;
        const size_t cells = size_t(l.dataWindow.Cells());
        std::vector<std::vector<float>> comp(3, std::vector<float>(cells, std::nanf("")));
        DenseTarget t;
        t.nx = l.dataWindow.Size(0);
        t.ny = l.dataWindow.Size(1);
        for (int c = 0; c < 3; ++c) t.comp[c] = comp[c].data();
        if (Code c = file.ReadLayer(l, t); c != kOk) return c;
        if (values) values->push_back(comp[0]);
    }
    return kOk;
}

template <class T>
void Poke(std::vector<uint8_t>& bytes, size_t at, T v) {
    std::memcpy(bytes.data() + at, &v, sizeof v);
}

template <class T>
T Peek(const std::vector<uint8_t>& bytes, size_t at) {
    T v;
    std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

// Offset of the first occurrence of `text` in the file.
size_t Find(const std::vector<uint8_t>& bytes, const std::string& text) {
    for (size_t i = 0; i + text.size() <= bytes.size(); ++i)
        if (std::memcmp(bytes.data() + i, text.data(), text.size()) == 0) return i;
    ADD_FAILURE() << text << " not in file";
    return 0;
}

TEST(OgawaHandMade, DenseLayerReadsInPlace) {
    std::vector<std::vector<float>> values;
    ASSERT_EQ(ReadEverything(DenseFile(), &values), kOk);
    ASSERT_EQ(values.size(), 1u);
    for (size_t n = 0; n < values[0].size(); ++n) EXPECT_EQ(values[0][n], float(n));
}

TEST(OgawaHandMade, SparseLayerReadsBlocksAndEmptyValues) {
    for (bool compressed : {true, false}) {
        SparseSpec desc;
        desc.compressed = compressed;
        std::vector<std::vector<float>> values;
        ASSERT_EQ(ReadEverything(SparseFile(desc), &values), kOk);
        // 3^3 voxels in 2x2x2 blocks of 2^3; blocks 0, 3 and 7 allocated.
        for (int k = 0; k < 3; ++k)
            for (int j = 0; j < 3; ++j)
                for (int i = 0; i < 3; ++i) {
                    const int b = i / 2 + 2 * (j / 2) + 4 * (k / 2);
                    const float expected = desc.allocated[b] ? SparseValue(i, j, k) : desc.emptyValue;
                    EXPECT_EQ(values[0][i + 3 * (j + 3 * k)], expected) << i << j << k;
                }
    }
}

TEST(OgawaHeader, ForeignOrUnfinishedHeadersAreNotField3D) {
    const std::vector<uint8_t> good = DenseFile();
    auto bad = good;
    bad[0] = 'o';
    EXPECT_EQ(ReadEverything(bad), kNotField3D);
    bad = good;
    bad[5] = 0;  // the writer never closed the file
    EXPECT_EQ(ReadEverything(bad), kNotField3D);
    bad = good;
    bad[7] = 2;
    EXPECT_EQ(ReadEverything(bad), kNotField3D);
    for (uint64_t root : {uint64_t{0}, uint64_t{8}, uint64_t(good.size()), uint64_t(good.size() - 4),
                          ~uint64_t{0}, kData | 16}) {
        bad = good;
        Poke(bad, 8, root);
        EXPECT_NE(ReadEverything(bad), kOk) << root;
    }
    EXPECT_EQ(ReadEverything({}), kNotField3D);
}

TEST(OgawaTruncation, EveryPrefixIsRefused) {
    for (const auto& file : {DenseFile(), SparseFile()}) {
        for (size_t n = 0; n < file.size(); ++n) {
            std::vector<uint8_t> prefix(file.begin(), file.begin() + long(n));
            EXPECT_NE(ReadEverything(prefix), kOk) << n;
        }
    }
}

TEST(OgawaDamage, EveryByteChangedStillEndsWithAResult) {
    // No expectation on the code: a changed name or value may still read.
    // The sanitizers watch for reads outside the file.
    for (const auto& file : {DenseFile(), SparseFile()}) {
        for (size_t at = 0; at < file.size(); ++at) {
            for (uint8_t x : {uint8_t{0xFF}, uint8_t{0x80}, uint8_t{0x01}}) {
                auto bad = file;
                bad[at] ^= x;
                (void)ReadEverything(bad);
            }
        }
    }
}

TEST(OgawaDamage, OffsetsOutsideTheFileAreRefused) {
    const std::vector<uint8_t> good = DenseFile();
    const uint64_t root = Peek<uint64_t>(good, 8);
    // Root group: count 4, then name, kind, version attribute, partition.
    const size_t partitionSlot = root + 8 + 3 * 8;
    for (uint64_t ref : {uint64_t(good.size()), uint64_t(good.size() - 7), uint64_t{1} << 62, uint64_t{3}}) {
        auto bad = good;
        Poke(bad, partitionSlot, ref);
        EXPECT_EQ(ReadEverything(bad), kDamaged) << ref;
    }
    // The dense data claims more bytes than the file holds.
    const size_t data = Find(good, "data") + 4;  // after the name: its kind, type, then the values' data
    auto bad = good;
    const size_t valuesAt = good.size();  // past every block: find the values by their size instead
    (void)valuesAt;
    (void)data;
    const uint64_t valueBytes = 2 * 3 * 2 * 4;
    for (size_t at = 16; at + 8 <= good.size(); ++at) {
        if (Peek<uint64_t>(good, at) == valueBytes && Peek<float>(good, at + 8) == 0.0f &&
            Peek<float>(good, at + 12) == 1.0f) {
            for (uint64_t size : {uint64_t(good.size()), ~uint64_t{0} >> 1, valueBytes + 4, valueBytes - 4}) {
                bad = good;
                Poke(bad, at, size);
                EXPECT_EQ(ReadEverything(bad), kDamaged) << size;
            }
            return;
        }
    }
    FAIL() << "values not found";
}

TEST(OgawaDamage, AbsurdChildCountsAreRefusedWithoutAllocating) {
    const std::vector<uint8_t> good = DenseFile();
    const uint64_t root = Peek<uint64_t>(good, 8);
    for (uint64_t count : {~uint64_t{0}, uint64_t{1} << 60, uint64_t{1} << 25, uint64_t(good.size())}) {
        auto bad = good;
        Poke(bad, root, count);
        EXPECT_EQ(ReadEverything(bad), kDamaged) << count;
    }
}

TEST(OgawaDamage, SharedGroupsCannotMakeASmallFileCostUnboundedWork) {
    // A partition whose 3000 members are one layer group, whose 3000 members
    // are one attribute group: a quadratic walk unless the reader stops.
    Builder b;
    const uint64_t attribute = b.StringAttribute("class_type", "field3d_layer");
    const uint64_t layer = b.F3dGroup("density", std::vector<uint64_t>(3000, attribute));
    std::vector<uint64_t> members(3000, layer);
    members.push_back(b.StringAttribute("is_field3d_partition", "1"));
    const uint64_t partition = b.F3dGroup("smoke.0", members);
    const auto bytes = b.Finish(b.F3dGroup("f3droot", {partition}));
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadEverything(bytes), kDamaged);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
}

TEST(OgawaDamage, GroupsThatContainThemselvesEnd) {
    Builder b;
    // The partition lists itself as a member; the layer lists itself too.
    const uint64_t partitionAt = b.Bytes().size() + 8 * 0;  // filled in below
    (void)partitionAt;
    const uint64_t name = b.Data(std::string("smoke.0"));
    const uint64_t kind = b.Value<int32_t>(0);
    const uint64_t flag = b.StringAttribute("is_field3d_partition", "1");
    const uint64_t self = b.Bytes().size();
    b.Group({name, kind, flag, self, self});
    const auto bytes = b.Finish(b.F3dGroup("f3droot", {self}));
    // The partition's members are itself: not a layer (no class_type).
    EXPECT_EQ(ReadEverything(bytes), kNoMappedLayer);
}

TEST(OgawaLimits, HugeDataWindowIsTooLargeBeforeAnyAllocation) {
    DenseSpec desc;
    auto bytes = DenseFile(desc);
    const size_t max = Find(bytes, "data_window_max");
    // The attribute group follows its children: name, kind, type, value.
    // Find the value (2-1, 3-1, 2-1) after the name and overwrite it.
    for (size_t at = max; at + 12 <= bytes.size(); ++at) {
        if (Peek<int32_t>(bytes, at) == 1 && Peek<int32_t>(bytes, at + 4) == 2 && Peek<int32_t>(bytes, at + 8) == 1) {
            Poke<int32_t>(bytes, at, 2000000000);
            Poke<int32_t>(bytes, at + 4, 2000000000);
            break;
        }
    }
    PluginIo::MemorySource source(bytes.data(), bytes.size());
    OgawaField3D file(source);
    ASSERT_EQ(file.Open(), kOk);
    std::vector<Layer> layers;
    std::vector<Code> status;
    ASSERT_EQ(file.ListLayers(layers, status), kOk);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].dataWindow.max[0], 2000000000);
    EXPECT_EQ(file.ReadLayer(layers[0], DenseTarget()), kGridTooLarge);
}

TEST(OgawaSparseDamage, InconsistentBlockTablesAreRefused) {
    SparseSpec desc;
    const auto good = SparseFile(desc);
    // block_order 30: refused as unsupported, before any size is used.
    {
        SparseSpec s = desc;
        s.order = 1;
        auto bad = SparseFile(s);
        // The value follows the attribute's name, kind and type.
        const size_t at = Find(bad, "block_order") + 11 + 12 + 12;
        ASSERT_EQ(Peek<uint64_t>(bad, at), 1u);
        ASSERT_EQ(bad[at + 8], 1);
        bad[at + 8] = 30;
        EXPECT_EQ(ReadEverything(bad), kUnsupportedLayer);
    }
    // One allocated block too many in the table.
    {
        SparseSpec s = desc;
        auto bad = SparseFile(s);
        const uint8_t table[8] = {1, 0, 0, 1, 0, 0, 0, 1};
        bool found = false;
        for (size_t p = 16; p + 16 <= bad.size() && !found; ++p)
            if (Peek<uint64_t>(bad, p) == 8 && std::memcmp(bad.data() + p + 8, table, 8) == 0) {
                bad[p + 9] = 1;
                found = true;
            }
        EXPECT_TRUE(found);
        EXPECT_EQ(ReadEverything(bad), kDamaged);
    }
    // A compressed block that inflates to the wrong size or not at all.
    {
        SparseSpec s = desc;
        auto bad = SparseFile(s);
        bool found = false;
        for (size_t p = 16; p + 10 <= bad.size() && !found; ++p) {
            const uint64_t n = Peek<uint64_t>(bad, p);
            if (n >= 8 && n <= 200 && p + 8 + n <= bad.size() && bad[p + 8] == 0x78 && bad[p + 9] == 0x01) {
                bad[p + 8 + n - 1] ^= 0x55;  // the first block's checksum
                found = true;
            }
        }
        EXPECT_TRUE(found);
        EXPECT_EQ(ReadEverything(bad), kDamaged);
    }
    EXPECT_EQ(ReadEverything(good), kOk);
}

TEST(OgawaLayers, UnknownClassIsListedButNotRead) {
    auto bytes = DenseFile();
    const size_t at = Find(bytes, "DenseField");
    std::memcpy(bytes.data() + at, "MACFieldxx", 10);
    PluginIo::MemorySource source(bytes.data(), bytes.size());
    OgawaField3D file(source);
    ASSERT_EQ(file.Open(), kOk);
    std::vector<Layer> layers;
    std::vector<Code> status;
    ASSERT_EQ(file.ListLayers(layers, status), kOk);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(layers[0].name, "density");
    EXPECT_EQ(status[0], kUnsupportedLayer);
}

}  // namespace
