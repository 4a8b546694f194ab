// Particle data of a cache file:
//
//   chunk 1000  int32 G; G × {string name; int32 count; int32 mask;
//               int32 attributes}; 6 floats bounding box   (then int32 100000)
//   chunk 1002  int32 G; G × {string name; int32 attributes; int32 count;
//               int64 value; int32 C; C × {int32 channel; int32 method;
//               int32 m; m bytes}}
//   tag 7 / 13  int32 n; n data words; int32 G; G × {string name;
//               int32 count; 32 × int32 word offset (−1 absent);
//               sub-records ... sub-tag 0}
//
// Channels of chunk 1002 stay compressed until first use; the tagged sections
// are decoded here. Every count and offset is checked against the bytes or
// words really there before it is used.
#include "frame/particle_sections.h"

#include <cstring>

#include "codecs/entropy_coder.h"
#include "codecs/particle_methods.h"
#include "diag/log.h"
#include "frame/ostrel_frame_data.h"
#include "frame/particle_bbox.h"
#include "particles/pgroup.h"

using namespace KorParticles;

namespace KorFrame {

namespace {

using Words = iArray<uint32_t, int64_t>;

constexpr const char* kBadGroupCount = "OstrelFrameData::ImportKor bad particle group count!\n";
constexpr const char* kBadParticleCount = "OstrelFrameData::ImportKor bad particle count!\n";
constexpr const char* kBadChannel = "OstrelFrameData::ImportKor bad particle channel!\n";
constexpr const char* kCompressedBytesMark = "Failed to load compressed particle data!\n";

// The fewest bytes one group can take in each layout: the checks on G use
// them so that a count the file cannot hold is refused before the group list
// is sized from it.
constexpr int64_t kDirectoryGroupBytes = 4 + 4 + 4 + 4;
constexpr int64_t kCompressedGroupBytes = 4 + 4 + 4 + 8 + 4;
constexpr int64_t kChannelRecordBytes = 4 + 4 + 4;

void SizeGroupList(OstrelFrameData& frame, CacheReader& reader, int32_t groupCount, int64_t bytesPerGroup) {
    if (groupCount < 0 || groupCount > reader.Remaining() / bytesPerGroup) CacheReader::Fail(kBadGroupCount);
    if (!frame.groups.SetSize(groupCount)) CacheReader::Fail(nullptr);
}

int32_t ReadParticleCount(CacheReader& reader, const char* mark) {
    const int32_t count = reader.Read<int32_t>(mark);
    if (count < 0) CacheReader::Fail(kBadParticleCount);
    return count;
}

PGroup::Bytes ReadBytes(CacheReader& reader, int64_t count, const char* mark) {
    reader.RequireAvailable(count, mark);
    PGroup::Bytes bytes;
    if (count == 0) return bytes;
    if (!bytes.SetSize(count, nullptr, true)) CacheReader::Fail(nullptr);
    reader.Read(bytes.Data(), static_cast<size_t>(count), mark);
    return bytes;
}

// --- Tagged sections

// Channel c of a plain section: count × W(c) words at its offset.
void CopyPlainChannel(PGroup& group, int channel, const Words& words, int64_t offset) {
    const int64_t wordCount = static_cast<int64_t>(group.particleCount) * WordsOf(channel);
    if (offset + wordCount > words.Count()) CacheReader::Fail(kBadChannel);
    if (wordCount == 0) return;
    PGroup::Bytes elements;
    if (!elements.SetSize(wordCount * 4, nullptr, true)) CacheReader::Fail(nullptr);
    std::memcpy(elements.Data(), words.Data() + offset, static_cast<size_t>(wordCount) * 4);
    group.SetDecodedChannel(channel, std::move(elements));
}

// Channel c of a compressed section: an SGCompressor<1> stream at its offset,
// component-major. It is decoded while loading, so a stream that does not
// decode (or whose decoding runs out of memory) fails the file.
void DecodeSparseChannel(PGroup& group, int channel, const Words& words, int64_t offset) {
    const int64_t wordCount = static_cast<int64_t>(group.particleCount) * WordsOf(channel);
    if (wordCount == 0) return;
    const auto* stream = reinterpret_cast<const uint8_t*>(words.Data() + offset);
    const size_t streamBytes = static_cast<size_t>(words.Count() - offset) * 4;
    PGroup::Bytes elements;
    const bool fits = StoredBytesFit(kMethodSparseComponentMajor, stream, streamBytes, wordCount * 4);
    if (fits && !elements.SetSize(wordCount * 4, nullptr, true)) CacheReader::Fail(nullptr);
    if (!fits || !DecodeParticleChannel(kMethodSparseComponentMajor, stream, streamBytes, group.particleCount,
                                        WordsOf(channel), group.DecoderState(channel),
                                        reinterpret_cast<uint32_t*>(elements.Data()))) {
        LogPrint("Error decompressing particle channel %d with method %d\n", channel,
                 static_cast<int>(kMethodSparseComponentMajor));
        CacheReader::Fail(nullptr);
    }
    group.SetDecodedChannel(channel, std::move(elements));
}

// kSubTagIds: two entropy-coded tokens per particle (low word first) form
// signed 64-bit deltas, made cumulative into the IDs (channel 10).
void ReadParticleIds(PGroup& group, CacheReader& reader) {
    const int32_t byteCount = reader.Read<int32_t>("16\n");
    const PGroup::Bytes block = ReadBytes(reader, byteCount, "x161\n");
    const int32_t count = group.particleCount;
    PGroup::Bytes elements;
    if (!elements.SetSize(static_cast<int64_t>(count) * 8, nullptr, true)) CacheReader::Fail(nullptr);
    auto* ids = reinterpret_cast<int64_t*>(elements.Data());

    bool ascending = true;
    if (count > 0) {
        EntropyCoder coder;
        if (!coder.InitDecoder(block.Data(), static_cast<size_t>(block.Count()), static_cast<size_t>(count) * 2))
            CacheReader::Fail(nullptr);
        for (int32_t i = 0; i < count; ++i) {
            const uint32_t low = static_cast<uint32_t>(coder.DecodeOne());
            const uint32_t high = static_cast<uint32_t>(coder.DecodeOne());
            const uint64_t delta = (static_cast<uint64_t>(high) << 32) | low;
            if (i > 0 && static_cast<int64_t>(delta) < 0) ascending = false;
            // Wrap-around addition: the sum of two stored values may overflow.
            ids[i] = static_cast<int64_t>(i > 0 ? delta + static_cast<uint64_t>(ids[i - 1]) : delta);
        }
        // Fewer tokens than particles: the IDs are not all there.
        if (coder.Failed()) CacheReader::Fail("x161\n");
    }
    group.SetDecodedChannel(KOR_PARTICLE_ID, std::move(elements));
    if (!ascending && !group.EnsureIdOrder()) CacheReader::Fail(nullptr);
}

// The tags of a group's sub-records in a tagged section.
enum SubTag : int32_t {
    kSubTagEnd = 0,
    kSubTagAttributes = 1,  // uint32
    kSubTagIds = 2,         // int32 byte count, entropy-coded ID deltas
    kSubTagValue64 = 3,     // int64
};

void ReadSubRecords(PGroup& group, CacheReader& reader) {
    for (;;) {
        const int32_t subTag = reader.Read<int32_t>("14\n");
        switch (subTag) {
            case kSubTagEnd:
                return;
            case kSubTagAttributes:
                group.attributes = reader.Read<uint32_t>("15\n");
                break;
            case kSubTagIds:
                ReadParticleIds(group, reader);
                break;
            case kSubTagValue64:
                group.value64 = reader.Read<int64_t>("18\n");
                break;
            default:
                CacheReader::Fail("19\n");
        }
    }
}

void ReadSectionGroup(OstrelFrameData& frame, CacheReader& reader, PGroup& group, const Words& words,
                      bool compressed, bool directoryRead) {
    group.frame = &frame;
    group.name = reader.ReadString(nullptr);
    group.SetParticleCount(ReadParticleCount(reader, "12\n"));
    int32_t offsets[KOR_PARTICLE_CHANNEL_COUNT];
    reader.Read(offsets, sizeof offsets, "13\n");
    for (int c = 0; c < KOR_PARTICLE_CHANNEL_COUNT; ++c) {
        if (offsets[c] == -1) continue;
        if (offsets[c] < 0 || offsets[c] > words.Count()) CacheReader::Fail(kBadChannel);
        if (compressed)
            DecodeSparseChannel(group, c, words, offsets[c]);
        else
            CopyPlainChannel(group, c, words, offsets[c]);
    }
    if (!directoryRead && !ComputeParticlesBbox(frame, group)) CacheReader::Fail(nullptr);
    ReadSubRecords(group, reader);
}

}  // namespace

void ReadGroupDirectory(OstrelFrameData& frame, CacheReader& reader, int64_t /*chunkSize*/) {
    const int32_t groupCount = reader.Read<int32_t>(nullptr);
    SizeGroupList(frame, reader, groupCount, kDirectoryGroupBytes);
    for (PGroup& group : frame.groups) {
        group.name = reader.ReadString(nullptr);
        group.SetParticleCount(ReadParticleCount(reader, nullptr));
        group.channelMask = reader.Read<uint32_t>(nullptr);
        group.attributes = reader.Read<uint32_t>(nullptr);
        group.frame = &frame;
    }
    reader.Read(frame.particleBbox, sizeof frame.particleBbox, nullptr);
    reader.Read<int32_t>("Failed reading chunk id!\n");  // the 100000 behind the chunk
}

void ReadCompressedParticles(OstrelFrameData& frame, CacheReader& reader, int64_t /*chunkSize*/) {
    const int32_t groupCount = reader.Read<int32_t>(nullptr);
    frame.groups.Free();
    SizeGroupList(frame, reader, groupCount, kCompressedGroupBytes);
    for (PGroup& group : frame.groups) {
        group.frame = &frame;
        group.name = reader.ReadString(nullptr);
        group.attributes = reader.Read<uint32_t>(nullptr);
        group.SetParticleCount(ReadParticleCount(reader, nullptr));
        group.value64 = reader.Read<int64_t>(nullptr);
        group.channelMask = 0;
        const int32_t recordCount = reader.Read<int32_t>(nullptr);
        if (recordCount < 0 || recordCount > reader.Remaining() / kChannelRecordBytes) CacheReader::Fail(kBadChannel);
        for (int32_t r = 0; r < recordCount; ++r) {
            const int32_t channel = reader.Read<int32_t>(nullptr);
            const uint32_t method = reader.Read<uint32_t>(nullptr);
            const int32_t byteCount = reader.Read<int32_t>(nullptr);
            if (!IsStoredChannel(channel)) CacheReader::Fail(kBadChannel);
            group.SetCompressedChannel(channel, method, ReadBytes(reader, byteCount, kCompressedBytesMark));
            if (group.HasChannel(channel)) group.channelMask |= 1u << channel;
        }
    }
}

void ReadParticleSection(OstrelFrameData& frame, CacheReader& reader, bool compressed, bool directoryRead) {
    const char* wordsMark = compressed ? "13\n" : "x91\n";
    const int32_t wordCount = reader.Read<int32_t>("9\n");
    reader.RequireAvailable(static_cast<int64_t>(wordCount) * 4, wordsMark);
    Words words;
    if (!words.SetSize(wordCount, nullptr, true)) CacheReader::Fail(nullptr);
    if (wordCount > 0) reader.Read(words.Data(), static_cast<size_t>(wordCount) * 4, wordsMark);

    // The list is made to hold G groups. It grows group by group as they are
    // read, so that a cut file fails at the field that is missing, with its
    // mark, and never sizes the list from a count it cannot back.
    const int32_t groupCount = reader.Read<int32_t>("11\n");
    if (groupCount < 0) CacheReader::Fail(kBadGroupCount);
    if (groupCount < frame.groups.Count() && !frame.groups.SetSize(groupCount)) CacheReader::Fail(nullptr);
    for (int32_t g = 0; g < groupCount; ++g) {
        if (g >= frame.groups.Count() && !frame.groups.SetSize(g + 1)) CacheReader::Fail(nullptr);
        ReadSectionGroup(frame, reader, frame.groups[g], words, compressed, directoryRead);
    }
}

}  // namespace KorFrame
