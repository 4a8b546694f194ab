// The module's walk over a grid's stored tree, on hand-made grids: one root
// child, one internal node at each level and one fully active leaf, whose
// buffer is a single chunk.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_io/byte_source.h"
#include "support/byte_writer.h"
#include "vdb_walk.h"

namespace {

constexpr uint32_t kZip = 0x1, kActiveMask = 0x2, kBlosc = 0x4;
constexpr uint32_t kLeafBytes = 512 * 4;  // a float leaf's buffer
constexpr uint32_t kVersion = 224;

// Test bytes: the support writer plus runs of one byte.
class Bytes : public KorTest::ByteWriter {
public:
    template <class T>
    Bytes& Put(T v) {
        KorTest::ByteWriter::Put(v);
        return *this;
    }
    Bytes& Fill(size_t n, char c) {
        PutBytes(KorTest::Bytes(n, static_cast<uint8_t>(c)));
        return *this;
    }
    Bytes& String(const std::string& s) {
        PutString(s);
        return *this;
    }
};

// A float grid whose leaf chunk is `leafChunk` (size field and payload).
// No internal node has an active value: under active-mask compression its
// values take a zero-size chunk, otherwise all of them are stored raw.
KorTest::Bytes Grid(uint32_t compression, const Bytes& leafChunk) {
    Bytes b;
    b.Put(compression).Put(uint32_t(0));             // compression, no metadata
    b.String("TranslationMap").Fill(24, 0);          // transform
    b.Put(int32_t(1)).Put(0.0f).Put(uint32_t(0)).Put(uint32_t(1));  // buffers, background, 0 tiles, 1 child
    b.Put(int32_t(0)).Put(int32_t(0)).Put(int32_t(0));
    for (size_t maskBytes : {4096u, 512u}) {         // the two internal levels
        b.Put(uint64_t(1)).Fill(maskBytes - 8, 0);   // child mask: the first child
        b.Fill(maskBytes, 0);                        // value mask: nothing active
        b.Put(int8_t(0));                            // no inactive values stored
        const int64_t values = (compression & kActiveMask) ? 0 : int64_t(maskBytes) * 8 * 4;
        if (compression & (kZip | kBlosc)) b.Put(-values);
        b.Fill(size_t(values), 0);
    }
    b.Fill(64, char(0xff));                          // leaf topology: all active
    b.Fill(64, char(0xff)).Put(int8_t(6));           // leaf buffer: mask, all values
    b.PutBytes(leafChunk.Get());
    return b.Get();
}

bool Walks(const KorTest::Bytes& grid) {
    PluginIo::MemorySource source(grid.data(), grid.size());
    VdbPlug::Cursor c(source, 0, grid.size());
    return VdbPlug::WalkGrid(c, kVersion, {4, 2}, false, false);
}

Bytes RawChunk(int64_t sizeField, size_t payload) {
    Bytes b;
    b.Put(sizeField).Fill(payload, 1);
    return b;
}

TEST(VdbWalk, ARawChunkMustHoldExactlyTheLeafsBytes) {
    for (uint32_t compression : {kZip, kBlosc, kZip | kActiveMask, kBlosc | kActiveMask}) {
        SCOPED_TRACE(compression);
        EXPECT_TRUE(Walks(Grid(compression, RawChunk(-int64_t(kLeafBytes), kLeafBytes))));
        // One above, far above, the most negative size, and one below.
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(-int64_t(kLeafBytes) - 1, kLeafBytes + 1))));
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(-(int64_t(1) << 40), kLeafBytes))));
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(INT64_MIN, kLeafBytes))));
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(-int64_t(kLeafBytes) + 1, kLeafBytes - 1))));
        // Truncated mid-chunk.
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(-int64_t(kLeafBytes), kLeafBytes / 2))));
    }
    // Without zip or blosc the leaf's bytes follow directly.
    EXPECT_TRUE(Walks(Grid(0, Bytes().Fill(kLeafBytes, 1))));
    EXPECT_FALSE(Walks(Grid(0, Bytes().Fill(kLeafBytes - 1, 1))));
}

Bytes BloscChunk(int64_t sizeField, uint32_t nbytes, uint32_t cbytes, size_t payload) {
    Bytes b;
    b.Put(sizeField).Put(uint8_t(2)).Put(uint8_t(1)).Put(uint8_t(0)).Put(uint8_t(4));
    b.Put(nbytes).Put(uint32_t(kLeafBytes)).Put(cbytes).Fill(payload - 16, 0);
    return b;
}

TEST(VdbWalk, ACompressedChunkMustLieInsideTheGridAndMatchItsHeader) {
    EXPECT_TRUE(Walks(Grid(kBlosc, BloscChunk(100, kLeafBytes, 100, 100))));
    EXPECT_TRUE(Walks(Grid(kZip, RawChunk(100, 100))));
    for (uint32_t compression : {kZip, kBlosc}) {
        // Past the end of the grid, and truncated mid-chunk.
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(int64_t(1) << 40, 100))));
        EXPECT_FALSE(Walks(Grid(compression, RawChunk(101, 100))));
    }
    // blosc believes its header: the compressed size it names must be there,
    // and the bytes it expands to must be the leaf's.
    EXPECT_FALSE(Walks(Grid(kBlosc, BloscChunk(100, kLeafBytes, 101, 100))));
    EXPECT_FALSE(Walks(Grid(kBlosc, BloscChunk(100, kLeafBytes + 1, 100, 100))));
    EXPECT_FALSE(Walks(Grid(kBlosc, RawChunk(15, 15))));
}

}  // namespace
