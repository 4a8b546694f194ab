// A test-only writer of ".kor" cache files. It lays out the container the
// way the simulator does (header magic, tagged records, marker, chunk area,
// trailer) and lets tests place any record, including hostile ones.
//
//   KorTest::KorWriter w;
//   w.Grid(4, 4, 4).PackedColour(bgra).FrameNumber(12).InfoText("hello");
//   KorTest::WriteFileBytes(path, w.Build());
#pragma once
#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "support/byte_writer.h"
#include "support/sg_encoder.h"

namespace KorTest {

using Transform = std::array<float, 12>;
constexpr Transform kIdentity = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};

struct ChannelRange {
    int32_t channel;
    float minimum, maximum;
};

// The body of a packed-colour record: int64 byte count, then the zlib
// stream of the BGRA bytes (4 per cell), padded to whole words.
Bytes PackedColourBody(const Bytes& bgra);

class KorWriter {
public:
    // --- Tagged records (written in the order of the tag numbers).
    KorWriter& Mask(uint32_t mask);  // default: the bits of the stored channels
    KorWriter& GridTransform(const Transform& t);
    KorWriter& Grid(int32_t nx, int32_t ny, int32_t nz);
    // A channel record of the compressed block; the body is padded to words.
    KorWriter& Channel(int32_t id, const Bytes& body);
    KorWriter& PackedColour(const Bytes& bgra) { return Channel(18, PackedColourBody(bgra)); }
    // A grid channel of nx * ny * nz values (call Grid first), stored as a
    // quantised sparse-grid stream by the test encoder (support/sg_encoder.h).
    KorWriter& GridChannel(int32_t id, const std::vector<float>& values, const SGGridOptions& options = {});
    // Replaces the whole compressed block by raw words (for hostile blocks).
    KorWriter& RawChannelBlock(const std::vector<int32_t>& words);
    KorWriter& FrameNumber(int32_t frame);
    KorWriter& TimeStep(float seconds);
    KorWriter& AuxTransform(const Transform& t);                      // tag 6
    KorWriter& Time(float time);                                      // tag 8
    KorWriter& Tag9(int32_t value, float f);                          // tag 9
    KorWriter& Times(double first, double second);                    // tag 10
    KorWriter& AuxTransforms(const Transform& a, const Transform& b, const Transform& c, uint64_t extra);  // tag 11
    KorWriter& SimInfo(const Bytes& block);                           // tag 12
    // Any record (tag and payload), written after the known ones, in call order.
    KorWriter& Record(int32_t tag, const Bytes& payload);
    // Ends the tagged records with this tag instead of 0 (e.g. 14).
    KorWriter& EndTag(int32_t tag);

    // --- Chunk area and trailer.
    KorWriter& Version(int32_t version);  // 4 by default
    KorWriter& NoTrailer();               // old files: tagged records only
    KorWriter& InfoText(const std::string& text);
    KorWriter& ChannelRanges(const std::vector<ChannelRange>& ranges);
    // A chunk with its payload; `declaredSize` overrides the size field.
    KorWriter& Chunk(int32_t id, const Bytes& payload, std::optional<int64_t> declaredSize = std::nullopt);
    // Bytes written right after a chunk, outside its size (the 100000 behind chunk 1000).
    KorWriter& AfterChunk(const Bytes& bytes);
    KorWriter& NoEndOfChunks();                   // leave out the 9999999
    KorWriter& DataOffset(int64_t offset);        // override the trailer's offset

    Bytes Build() const;
    bool WriteFile(const std::string& path) const { return WriteFileBytes(path, Build()); }

private:
    struct Item {
        int32_t tag;
        Bytes payload;
    };
    struct ChunkItem {
        int32_t id;
        Bytes payload;
        std::optional<int64_t> declaredSize;
        Bytes after;
    };
    std::optional<uint32_t> mask_;
    std::optional<Transform> transform_;
    std::optional<std::array<int32_t, 3>> grid_;
    std::vector<std::pair<int32_t, Bytes>> channels_;
    std::optional<std::vector<int32_t>> rawBlock_;
    std::vector<Item> known_;  // tags 4..12 in call order, sorted at build
    std::vector<Item> extra_;
    int32_t endTag_ = 0;
    int32_t version_ = 4;
    bool trailer_ = true;
    bool endOfChunks_ = true;
    std::optional<int64_t> dataOffset_;
    std::vector<ChunkItem> chunks_;
};

}  // namespace KorTest
