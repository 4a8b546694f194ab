// The native cache container:
//
//   "KORA" | tagged records ... tag 0 | int32 13 (marker) | chunks ... |
//   int32 9999999 | data offset | int32 version | "KORA2OST"
//
// The trailer and chunk area (newer files only) are read first, then the
// tagged records from the start. Grid channels stay compressed: the channel
// block is read in one bulk read and decoded later, channel by channel.
#include "frame/import_kor.h"

#include <cstring>

#include "diag/log.h"
#include "frame/cache_reader.h"
#include "frame/load_status.h"
#include "frame/ostrel_frame_data.h"
#include "frame/particle_sections.h"
#include "util/nothrow_new.h"

using namespace KorFrame;

namespace {

constexpr int32_t kCurrentVersion = 4;

// The ids of the chunks behind the header records.
enum ChunkId : int32_t {
    kChunkGroupDirectory = 1000,       // then the int32 100000, outside its size
    kChunkInfoText = 1001,             // string
    kChunkCompressedParticles = 1002,  // particle groups, channels compressed
    kChunkChannelRanges = 1003,        // int32 N; N × {int32 channel; float minimum, maximum}
    kEndOfChunks = 9999999,
};

// The tags of the header records.
enum HeaderTag : int32_t {
    kTagEnd = 0,
    kTagChannelMask = 1,          // uint32
    kTagTransform = 2,            // 12 floats
    kTagGridAndChannels = 3,      // 3 int32 dims, int32 n, n words of channel records
    kTagFrameNumber = 4,          // int32
    kTagTimeStep = 5,             // float
    kTagAuxTransform = 6,         // 12 floats: the first auxiliary transform
    kTagPlainParticles = 7,       // particle section
    kTagFrameTime = 8,            // float, kept as a double
    kTagSettingsWord = 9,         // int32 into the settings block, then the float kept as tag9Value
    kTagTimes = 10,               // 2 doubles
    kTagAuxTransforms = 11,       // 3 transforms, 8 bytes
    kTagSimInfo = 12,             // int32 size, the settings block
    kTagCompressedParticles = 13, // particle section, compressed
    kHighestTag = kTagCompressedParticles,
};

// kNoUsableFile without a log line: the trailer's 32-bit data offset is negative.
struct NegativeDataOffset {};

struct Trailer {
    bool present = false;
    int32_t version = 0;
    int64_t dataOffset = 0;
};

Trailer ReadTrailer(CacheReader& reader) {
    Trailer trailer;
    reader.MeasureSize("Failed to seek to EOF!\n");
    const int64_t end = reader.Size();
    reader.SeekTo(end - 8, "Failed while seeking to kora2 magic!\n");
    char magic[8];
    reader.Read(magic, sizeof magic, "Failed reading kora2 magic!\n");
    if (std::memcmp(magic, "KORA2OST", 8) != 0) return trailer;

    trailer.present = true;
    reader.SeekTo(end - 12, "Failed to seek to kora2 version!\n");
    trailer.version = reader.Read<int32_t>("Failed reading kora2 version!\n");
    if (trailer.version >= kCurrentVersion) {
        // Version 4 and later: 64-bit data offset and chunk sizes.
        reader.SeekTo(end - 20, "Failed seeking to marker chunk!\n");
        trailer.dataOffset = reader.Read<int64_t>("Failed reading kora2 data offset!\n");
    } else {
        reader.SeekTo(end - 16, "Failed seeking to marker chunk!\n");
        trailer.dataOffset = reader.Read<int32_t>("Failed reading kora2 data offset!\n");
        if (trailer.dataOffset < 0) throw NegativeDataOffset{};
    }
    return trailer;
}

void ReadChannelRanges(OstrelFrameData& frame, CacheReader& reader) {
    const int32_t count = reader.Read<int32_t>(nullptr);
    reader.RequireAvailable(static_cast<int64_t>(count) * 12, "OstrelFrameData::ImportKor bad channel range count!\n");
    for (int32_t i = 0; i < count; ++i) {
        struct {
            int32_t channel;
            float minimum, maximum;
        } entry;
        reader.Read(&entry, sizeof entry, nullptr);
        if (entry.channel >= 0 && entry.channel < KOR_GRID_CHANNEL_COUNT) {
            frame.rangeMin[entry.channel] = entry.minimum;
            frame.rangeMax[entry.channel] = entry.maximum;
        }
    }
}

// Returns whether the group directory (chunk 1000) was read.
bool WalkChunks(OstrelFrameData& frame, CacheReader& reader, const Trailer& trailer) {
    bool directoryRead = false;
    const bool wideSizes = trailer.version >= kCurrentVersion;
    // Just behind the marker int32 13 that the data offset points at.
    if (trailer.dataOffset > INT64_MAX - 4) CacheReader::Fail(nullptr);
    reader.SeekTo(trailer.dataOffset + 4, nullptr);
    for (;;) {
        const int32_t id = reader.Read<int32_t>("Failed reading chunk id!\n");
        if (id == kEndOfChunks) break;
        const int64_t size = wideSizes ? reader.Read<int64_t>("Failed reading chunk size!\n")
                                       : reader.Read<int32_t>("Failed reading chunk size!\n");
        const int64_t payloadStart = reader.Tell();
        switch (id) {
            case kChunkGroupDirectory:
                ReadGroupDirectory(frame, reader, size);
                directoryRead = true;
                if (trailer.version < 3) return directoryRead;
                continue;  // the int32 behind chunk 1000 lies outside its size
            case kChunkInfoText:
                frame.infoText = reader.ReadString(nullptr);
                break;
            case kChunkCompressedParticles:
                ReadCompressedParticles(frame, reader, size);
                break;
            case kChunkChannelRanges:
                ReadChannelRanges(frame, reader);
                break;
            default:
                reader.Skip(size, "Failed reading chunk size!\n");
                continue;
        }
        // A chunk's fields must lie within the size it declares.
        if (size < 0 || reader.Tell() - payloadStart > size) CacheReader::Fail("Chunk reaches beyond its size!\n");
    }
    return directoryRead;
}

void ReadTransform(CacheReader& reader, float* transform, const char* mark) {
    reader.Read(transform, 12 * sizeof(float), mark);
}

void ReadGridAndChannelBlock(OstrelFrameData& frame, CacheReader& reader) {
    int32_t dims[3];
    reader.Read(dims, sizeof dims, "3\n");
    frame.nx = dims[0];
    frame.ny = dims[1];
    frame.nz = dims[2];
    const int32_t words = reader.Read<int32_t>("4\n");
    if (words < 0) {
        LogPrint("OstrelFrameData::ImportKor bad comprDataSzInts!");
        CacheReader::Fail(nullptr);
    }
    frame.FreeCompressedBlock();
    reader.RequireAvailable(static_cast<int64_t>(words) * 4, "x41\n");
    int32_t* block = nullptr;
    if (!newArray(block, static_cast<size_t>(words))) CacheReader::Fail(nullptr);
    frame.compressedBlock = block;
    frame.compressedLength = words;
    reader.Read(block, static_cast<size_t>(words) * 4, "x41\n");  // one bulk read
}

void ReadSimInfoBlock(OstrelFrameData& frame, CacheReader& reader) {
    const int32_t size = reader.Read<int32_t>("12\n");
    if (size < 0) CacheReader::Fail("12\n");
    const int32_t kept = size < kSimInfoBytes ? size : kSimInfoBytes;
    reader.Read(frame.simInfo, static_cast<size_t>(kept), "12\n");
    if (size > kept) {
        reader.RequireAvailable(size - kept, "x121\n");
        reader.Skip(size - kept, "x121\n");
    }
}

void ReadTaggedRecords(OstrelFrameData& frame, CacheReader& reader, bool directoryRead) {
    for (;;) {
        const int32_t tag = reader.Read<int32_t>("0\n");
        // 0, and any tag this reader does not know, ends the records.
        if (tag <= kTagEnd || tag > kHighestTag) return;
        switch (static_cast<HeaderTag>(tag)) {
            case kTagEnd:
                return;
            case kTagChannelMask:
                frame.channelMask = reader.Read<uint32_t>("1\n");
                frame.flags = static_cast<uint8_t>((frame.flags & ~1u) | (frame.channelMask >> 31));
                break;
            case kTagTransform:
                ReadTransform(reader, frame.transform, "2\n");
                break;
            case kTagGridAndChannels:
                ReadGridAndChannelBlock(frame, reader);
                break;
            case kTagFrameNumber:
                frame.frameNumber = reader.Read<int32_t>("4\n");
                break;
            case kTagTimeStep:
                frame.timeStep = reader.Read<float>("7\n");
                break;
            case kTagAuxTransform:
                ReadTransform(reader, frame.auxTransforms[0], "6\n");
                break;
            case kTagPlainParticles:
                ReadParticleSection(frame, reader, false, directoryRead);
                break;
            case kTagFrameTime: {
                const double time = reader.Read<float>("20\n");
                std::memcpy(frame.simInfo + kSimInfoFrameTime, &time, sizeof time);
                break;
            }
            case kTagSettingsWord: {
                const int32_t value = reader.Read<int32_t>("21\n");
                std::memcpy(frame.simInfo + kSimInfoSettingsWord, &value, sizeof value);
                frame.tag9Value = reader.Read<float>("22\n");
                break;
            }
            case kTagTimes: {
                const double first = reader.Read<double>("24\n");
                std::memcpy(frame.simInfo + kSimInfoFrameTime, &first, sizeof first);
                const double second = reader.Read<double>("25\n");
                std::memcpy(frame.simInfo + kSimInfoSecondDouble, &second, sizeof second);
                break;
            }
            case kTagAuxTransforms:
                for (float* transform : frame.auxTransforms) ReadTransform(reader, transform, "11\n");
                reader.Read(frame.simInfo + kSimInfoAuxTransformsValue, 8, "x111\n");
                break;
            case kTagSimInfo:
                ReadSimInfoBlock(frame, reader);
                break;
            case kTagCompressedParticles:
                ReadParticleSection(frame, reader, true, directoryRead);
                break;
        }
    }
}

}  // namespace

int ImportKorFrom(OstrelFrameData& frame, ByteSource& source, const char* displayName) noexcept {
    CacheReader reader(source);
    try {
        const Trailer trailer = ReadTrailer(reader);
        frame.formatVersion = trailer.present ? trailer.version : 0;
        const bool directoryRead = trailer.present && WalkChunks(frame, reader, trailer);
        reader.SeekTo(0, nullptr);
        char magic[4] = {};
        if (source.Read(magic, 4) != 4 || std::memcmp(magic, "KORA", 4) != 0) {
            LogPrint("no hdr\n");
            CacheReader::Fail(nullptr);
        }
        ReadTaggedRecords(frame, reader, directoryRead);
        return kLoaded;
    } catch (const NegativeDataOffset&) {
        return kNoUsableFile;
    } catch (...) {
        // IOErrException, or anything unexpected: the file is damaged.
        LogPrint("OstrelFrameData::ImportKor broken or bad memory allocation. File is: %s\n",
                 displayName ? displayName : "");
        frame.FreeCompressedBlock();
        return kDamagedFile;
    }
}

int ImportKor(OstrelFrameData& frame, const char* path) noexcept {
    frame.ResetFrame(0);
    if (path == nullptr || path[0] == '\0') return kNoUsableFile;
    FileSource file(path);
    if (!file.IsOpen()) {
        LogNotARegularFile(path);
        return kNoUsableFile;
    }
    return ImportKorFrom(frame, file, path);
}
