#include "support/sample_frames.h"

#include <cstring>

#include "support/kor_writer.h"
#include "support/particle_writer.h"
#include "support/sg_encoder.h"

namespace KorTest {
namespace {

constexpr int kNx = 6, kNy = 5, kNz = 4;

Bytes Colour(int nx, int ny, int nz) {
    Bytes bgra(static_cast<size_t>(nx) * ny * nz * 4);
    for (size_t n = 0; n < bgra.size() / 4; ++n) {
        bgra[4 * n + 0] = static_cast<uint8_t>(n * 7);
        bgra[4 * n + 1] = static_cast<uint8_t>(n * 13 + 1);
        bgra[4 * n + 2] = static_cast<uint8_t>(255 - n);
        bgra[4 * n + 3] = 0;
    }
    return bgra;
}

Bytes Int32s(std::initializer_list<int32_t> values) {
    ByteWriter w;
    for (int32_t v : values) w.Put(v);
    return w.Get();
}

// Every tagged record and chunk the container knows, around the grid.
KorWriter& Dressed(KorWriter& w) {
    const Transform t = {0.5f, 0, 0, 0, 0.5f, 0, 0, 0, 0.5f, -1, -2, -3};
    Bytes sim(400);
    for (size_t i = 0; i < sim.size(); ++i) sim[i] = static_cast<uint8_t>(i * 3);
    w.GridTransform(t)
        .FrameNumber(42)
        .TimeStep(1.0f / 24)
        .AuxTransform(t)
        .Time(1.75f)
        .Tag9(7, 0.5f)
        .Times(2.0, 3.0)
        .AuxTransforms(t, kIdentity, t, 0x0102030405060708ull)
        .SimInfo(sim)
        .InfoText("hardening sample")
        .ChannelRanges({{1, 0.0f, 2.0f}, {18, 0.0f, 1.0f}, {40, 1.0f, 0.0f}})
        .Chunk(4242, Bytes(12, 0xAB));
    return w;
}

// Grid channels of every storage the codecs know: quantised (with and
// without differencing, direct and coded entropy forms), zoned, constant and
// raw; velocity without a stored speed, so speed is derived.
KorWriter& GridChannels(KorWriter& w, int nx, int ny, int nz) {
    const size_t cells = static_cast<size_t>(nx) * ny * nz;
    const std::vector<float> smoke = MakeSmokeField(nx, ny, nz, 7);
    std::vector<float> ramp(cells), wave(cells);
    for (size_t n = 0; n < cells; ++n) {
        ramp[n] = static_cast<float>(n) * 0.25f - 3.0f;
        wave[n] = static_cast<float>((n * 37) % 11) * 0.5f;
    }
    SGGridOptions coded;
    coded.form = EntropyForm::Coded;
    SGGridOptions direct;
    direct.form = EntropyForm::Direct;
    direct.passes = 2;
    SGGridOptions zoned;
    zoned.zoneSlices = 1;
    SGGridOptions flat;
    flat.passes = 0;
    w.GridChannel(2, smoke, coded).GridChannel(1, ramp, direct).GridChannel(4, wave, zoned);
    w.GridChannel(5, ramp, flat).GridChannel(6, smoke);
    w.Channel(10, SGConstantStream(static_cast<int32_t>(cells), 0.75f));
    w.Channel(14, SGRawStream(wave.data(), cells));
    return w;
}

}  // namespace

Bytes RichFrame() {
    KorWriter w;
    w.Grid(kNx, kNy, kNz).PackedColour(Colour(kNx, kNy, kNz));
    GridChannels(w, kNx, kNy, kNz);
    return Dressed(w).Build();
}


std::vector<SampleFile> ValidFrames() {
    std::vector<SampleFile> files;
    files.push_back({"rich.kor", RichFrame()});
    files.push_back({"empty.kor", Bytes{'K', 'O', 'R', 'A', 0, 0, 0, 0}});
    {
        KorWriter w;
        w.Grid(kNx, kNy, kNz).PackedColour(Colour(kNx, kNy, kNz)).NoTrailer();
        files.push_back({"no_trailer.kor", w.Build()});
    }
    for (int32_t version : {2, 3}) {
        KorWriter w;
        w.Version(version).Grid(2, 2, 2).PackedColour(Colour(2, 2, 2));
        Dressed(w);
        files.push_back({"version" + std::to_string(version) + ".kor", w.Build()});
    }
    {
        KorWriter w;
        w.Grid(3, 1, 1).PackedColour(Colour(3, 1, 1)).Mask(0x80040000u).EndTag(14).Record(1, Int32s({0}));
        files.push_back({"backup_end_tag_14.kor", w.Build()});
    }
    files.push_back({"particle_chunks.kor", ParticleChunksFrame()});
    files.push_back({"particle_sections.kor", ParticleSectionsFrame()});
    return files;
}

std::vector<SampleFile> HostileFrames() {
    std::vector<SampleFile> files;
    const Bytes rich = RichFrame();
    // Cut short at a spread of places, and with bytes missing at the front.
    for (size_t cut : {size_t{3}, size_t{7}, size_t{40}, rich.size() / 3, rich.size() / 2, rich.size() - 9,
                       rich.size() - 1}) {
        if (cut >= rich.size()) continue;
        files.push_back({"cut_" + std::to_string(cut) + ".kor", Bytes(rich.begin(), rich.begin() + cut)});
    }
    files.push_back({"front_missing.kor", Bytes(rich.begin() + 4, rich.end())});
    {
        // Every byte of the packed-colour record's zlib stream flipped in turn would be too many;
        // one flip in its middle breaks the stream or its checksum.
        KorWriter w;
        Bytes body = PackedColourBody(Colour(kNx, kNy, kNz));
        body[body.size() / 2] ^= 0x5A;
        w.Grid(kNx, kNy, kNz).Channel(18, body);
        files.push_back({"colour_corrupt.kor", w.Build()});
    }
    {
        // A grid of 2^31-1 cubed cells over a few bytes of colour.
        KorWriter w;
        w.Grid(0x7fffffff, 0x7fffffff, 0x7fffffff).PackedColour(Colour(2, 2, 2));
        files.push_back({"grid_huge.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Grid(-4, 4, 4).PackedColour(Colour(4, 4, 4));
        files.push_back({"grid_negative.kor", w.Build()});
    }
    {
        // Byte count of the colour stream far beyond its record.
        ByteWriter body;
        body.Put<int64_t>(0x7fffffffffffll).Put<int32_t>(0);
        KorWriter w;
        w.Grid(2, 2, 2).Channel(18, body.Get());
        files.push_back({"colour_count_huge.kor", w.Build()});
    }
    {
        // Channel records whose lengths run past the block, or are negative.
        KorWriter w;
        w.Grid(2, 2, 2).Mask(0x40006u).RawChannelBlock({1, 0x7fffffff, 0, 2, -5, 0, 18, 3, 1, 2});
        files.push_back({"directory_lengths.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Record(3, Int32s({2, 2, 2, -1}));
        files.push_back({"words_negative.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Record(3, Int32s({2, 2, 2, 0x40000000}));
        files.push_back({"words_huge.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Record(12, Int32s({-8}));
        files.push_back({"siminfo_negative.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Chunk(1001, Int32s({0x7ffffff0}));
        files.push_back({"string_huge.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Chunk(1003, Int32s({0x20000000, 1, 0}));
        files.push_back({"ranges_huge.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Chunk(77, Bytes(8), int64_t{-8});
        files.push_back({"chunk_size_negative.kor", w.Build()});
    }
    {
        KorWriter w;
        w.Chunk(1003, Int32s({1, 2, 0, 0}), int64_t{4});
        files.push_back({"chunk_overrun.kor", w.Build()});
    }
    {
        KorWriter w;
        w.NoEndOfChunks();
        files.push_back({"chunks_unended.kor", w.Build()});
    }
    {
        // A stream declaring more values than the grid holds, one declaring
        // fewer, and a zone table pointing outside its record.
        KorWriter w;
        w.Grid(2, 2, 2).Channel(1, SGConstantStream(9, 1.0f)).Channel(2, SGConstantStream(7, 1.0f));
        std::vector<SGZone> zones(2);
        zones[0].outputOffset = 6;
        zones[0].stream = SGConstantStream(4, 2.0f);
        zones[1].outputOffset = -1;
        zones[1].stream = SGConstantStream(1, 2.0f);
        w.Channel(4, SGZonedStream(zones));
        files.push_back({"grid_streams_misfit.kor", w.Build()});
    }
    {
        // A quantised stream cut inside its entropy block.
        KorWriter w;
        std::vector<float> values(64);
        for (size_t n = 0; n < values.size(); ++n) values[n] = static_cast<float>(n % 9);
        w.Grid(4, 4, 4);
        Bytes stream = SGGridStream(4, 4, 4, values.data(), SGGridOptions{});
        stream.resize(stream.size() / 2);
        w.Channel(2, stream);
        files.push_back({"grid_stream_cut.kor", w.Build()});
    }
    for (int64_t offset : {int64_t{-1}, int64_t{0x7fffffffffffffffll}, int64_t{1} << 40}) {
        KorWriter w;
        w.DataOffset(offset);
        files.push_back({"data_offset_" + std::to_string(offset) + ".kor", w.Build()});
    }
    {
        KorWriter w;
        w.Version(2).DataOffset(-1);
        files.push_back({"data_offset_negative_v2.kor", w.Build()});
    }
    return files;
}

}  // namespace KorTest
