// The HDF5 reader on files written here with HDF5: data read in chunk-sized
// runs whatever the chunking, and inconsistent descriptions refused.
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <vector>

#include "f3d_file.h"
#include "hdf5_builder.h"
#include "support/temp_dir.h"

using namespace F3d;

namespace {

Code ReadDensity(const std::string& path, std::vector<float>& out, Layer* described = nullptr) {
    Field3DFile file;
    if (Code c = file.Open(path.c_str()); c != kOk) return c;
    std::vector<Layer> layers;
    std::vector<Code> status;
    if (Code c = file.ListLayers(layers, status); c != kOk) return c;
    if (layers.size() != 1) return kNoMappedLayer;
    if (described) *described = layers[0];
    if (status[0] != kOk) return status[0];
    const Layer& l = layers[0];
    const size_t cells = size_t(l.dataWindow.Cells());
    std::vector<float> comp[3];
    DenseTarget t;
    t.nx = l.dataWindow.Size(0);
    t.ny = l.dataWindow.Size(1);
    for (int c = 0; c < l.components; ++c) {
        comp[c].assign(cells, -1.0f);
        t.comp[c] = comp[c].data();
    }
    if (Code c = file.ReadLayer(l, t); c != kOk) return c;
    out.clear();
    for (size_t n = 0; n < cells; ++n)
        for (int c = 0; c < l.components; ++c) out.push_back(comp[c][n]);
    return kOk;
}

TEST(Hdf5Dense, EveryChunkingReadsTheSameValues) {
    KorTest::TempDir dir;
    // A little over 2^20 values in three components: more than one read run
    // (runs are whole chunks of about 2^20 values).
    Hdf5Test::DenseSpec s;
    s.size[0] = 104;
    s.size[1] = 100;
    s.size[2] = 34;
    s.components = 3;
    for (hsize_t chunk : {hsize_t{0}, hsize_t{1000}, hsize_t{1} << 19, hsize_t{700000}}) {
        SCOPED_TRACE(chunk);
        s.chunk = chunk;
        const std::string path = dir.File("c" + std::to_string(chunk) + ".f3d");
        ASSERT_TRUE(Hdf5Test::WriteDense(path, s));
        std::vector<float> values;
        ASSERT_EQ(ReadDensity(path, values), kOk);
        ASSERT_EQ(values.size(), size_t(104) * 100 * 34 * 3);
        size_t wrong = 0;
        for (size_t n = 0; n < values.size(); ++n) wrong += values[n] != float(n % 4093);
        EXPECT_EQ(wrong, 0u);
    }
}

TEST(Hdf5Dense, DescriptionsThatDoNotMatchTheDataAreRefused) {
    KorTest::TempDir dir;
    std::vector<float> values;
    Hdf5Test::DenseSpec s;
    s.storedValues = 23;  // the data window holds 24
    ASSERT_TRUE(Hdf5Test::WriteDense(dir.File("short.f3d"), s));
    EXPECT_EQ(ReadDensity(dir.File("short.f3d"), values), kDamaged);
    s = Hdf5Test::DenseSpec();
    s.bits = 16;  // float data called half
    ASSERT_TRUE(Hdf5Test::WriteDense(dir.File("bits.f3d"), s));
    EXPECT_EQ(ReadDensity(dir.File("bits.f3d"), values), kUnsupportedLayer);
    s = Hdf5Test::DenseSpec();
    s.components = 2;
    ASSERT_TRUE(Hdf5Test::WriteDense(dir.File("two.f3d"), s));
    EXPECT_EQ(ReadDensity(dir.File("two.f3d"), values), kUnsupportedLayer);
    s = Hdf5Test::DenseSpec();
    s.className = "MACField";
    Layer layer;
    ASSERT_TRUE(Hdf5Test::WriteDense(dir.File("mac.f3d"), s));
    EXPECT_EQ(ReadDensity(dir.File("mac.f3d"), values, &layer), kUnsupportedLayer);
    EXPECT_EQ(layer.name, "density");
}

TEST(Hdf5Dense, HugeDataWindowIsTooLargeBeforeAnyAllocation) {
    KorTest::TempDir dir;
    Hdf5Test::DenseSpec s;
    s.size[0] = 2000000;
    s.size[1] = 2000000;
    s.storedValues = 8;
    ASSERT_TRUE(Hdf5Test::WriteDense(dir.File("huge.f3d"), s));
    Field3DFile file;
    ASSERT_EQ(file.Open(dir.File("huge.f3d").c_str()), kOk);
    std::vector<Layer> layers;
    std::vector<Code> status;
    ASSERT_EQ(file.ListLayers(layers, status), kOk);
    ASSERT_EQ(layers.size(), 1u);
    EXPECT_EQ(file.ReadLayer(layers[0], DenseTarget()), kGridTooLarge);
}

// libhdf5 believes the storage fields of a damaged file: it reads a
// contiguous data set whose layout message names more bytes than its
// dataspace holds without a word. The module compares the two through
// metadata before a byte of data is read.
TEST(Hdf5Dense, StorageThatDisagreesWithTheDataSetIsRefused) {
    KorTest::TempDir dir;
    Hdf5Test::DenseSpec s;  // contiguous, 24 floats
    const std::string path = dir.File("layout.f3d");
    ASSERT_TRUE(Hdf5Test::WriteDense(path, s));
    std::vector<float> values;
    ASSERT_EQ(ReadDensity(path, values), kOk);
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Layout message, version 3, class 1 (contiguous): an 8-byte address,
    // then the size in bytes.
    const auto size = [&](size_t at) {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | uint8_t(bytes[at + size_t(i)]);
        return v;
    };
    size_t found = 0;
    for (size_t at = 0; at + 18 <= bytes.size() && found == 0; ++at)
        if (bytes[at] == 3 && bytes[at + 1] == 1 && size(at + 10) == 24 * 4) found = at + 10;
    ASSERT_NE(found, 0u);
    for (uint64_t damaged : {uint64_t{24 * 4 + 1}, uint64_t{24 * 4 * 2}, uint64_t{1} << 40}) {
        for (int i = 0; i < 8; ++i) bytes[found + size_t(i)] = char(damaged >> (8 * i));
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(bytes.size()));
        EXPECT_EQ(ReadDensity(path, values), kDamaged) << damaged;
    }
}

TEST(Hdf5Files, TruncatedFilesAreRefused) {
    KorTest::TempDir dir;
    Hdf5Test::DenseSpec s;
    s.chunk = 8;
    ASSERT_TRUE(Hdf5Test::WriteDense(dir.File("whole.f3d"), s));
    std::ifstream in(dir.File("whole.f3d"), std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (size_t cut = 0; cut < bytes.size(); cut += 97) {
        const std::string path = dir.File("cut.f3d");
        std::ofstream(path, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(cut));
        std::vector<float> values;
        EXPECT_NE(ReadDensity(path, values), kOk) << cut;
    }
}

}  // namespace
