#include "frame/ostrel_frame_data.h"

#include <cfloat>
#include <cmath>
#include <cstring>

#include "codecs/sg_compressor.h"
#include "codecs/zip_block.h"
#include "diag/log.h"
#include "frame/channel_directory.h"
#include "frame/channel_pool.h"
#include "frame/particle_bbox.h"
#include "util/nothrow_new.h"

using namespace KorFrame;

namespace {

// Channel pointers are published to other reading threads: they are read and
// written atomically, while decoding itself is serialised by the channel lock.
float* LoadPointer(float* const& slot) noexcept { return __atomic_load_n(&slot, __ATOMIC_ACQUIRE); }
void StorePointer(float*& slot, float* value) noexcept { __atomic_store_n(&slot, value, __ATOMIC_RELEASE); }

// The channels that packed colour expands into.
bool IsColour(int channel) noexcept {
    return channel == KOR_GRID_COLOUR_R || channel == KOR_GRID_COLOUR_G || channel == KOR_GRID_COLOUR_B;
}

}  // namespace

OstrelFrameData::OstrelFrameData() noexcept {
    for (int c = 0; c < KOR_GRID_CHANNEL_COUNT; ++c) {
        rangeMin[c] = FLT_MAX;
        rangeMax[c] = -FLT_MAX;
    }
}

OstrelFrameData::~OstrelFrameData() {
    FreeCompressedBlock();
    groups.Free();
    FreeChannelArrays();
    for (SGCompressor<3>*& decoder : decompressors) {
        delete decoder;
        decoder = nullptr;
    }
    delete bboxJob;
    bboxJob = nullptr;
}

int64_t OstrelFrameData::CellCount() const noexcept {
    if (nx <= 0 || ny <= 0 || nz <= 0) return 0;
    // Three 31-bit dimensions can overflow 64 bits. Such a grid can never be
    // allocated: the largest count makes every allocation for it fail.
    int64_t cells = 0;
    if (__builtin_mul_overflow(static_cast<int64_t>(nx) * ny, static_cast<int64_t>(nz), &cells)) return INT64_MAX;
    return cells;
}

void OstrelFrameData::ReleaseChannelArray(int channel, float* array) noexcept {
    if (array != nullptr && array == pooled_[channel]) {
        ChannelPool::Give(array, pooledValues_[channel]);
    } else {
        deleteArray(array);
    }
    pooled_[channel] = nullptr;
    pooledValues_[channel] = 0;
}

void OstrelFrameData::FreeChannelArrays() noexcept {
    for (int c = 0; c < KOR_GRID_CHANNEL_COUNT; ++c) {
        float* array = channels[c];
        channels[c] = nullptr;
        ReleaseChannelArray(c, array);
        rangeMin[c] = FLT_MAX;
        rangeMax[c] = -FLT_MAX;
    }
    colourExpanded_ = false;
}

void OstrelFrameData::FreeCompressedBlock() noexcept {
    deleteArray(compressedBlock);
    compressedLength = 0;
}

void OstrelFrameData::ResetFrame(int /*flag*/) noexcept {
    flags = 0;
    FreeChannelArrays();
    channelMask = 0;
    std::memset(auxTransforms, 0, sizeof auxTransforms);
    auxTransforms[2][0] = auxTransforms[2][4] = auxTransforms[2][8] = 1.0f;
    timeStep = 1.0f / 30.0f;
    std::memset(simInfo, 0, sizeof simInfo);
    tag9Value = 0.001f;
    particleBbox[0] = particleBbox[1] = particleBbox[2] = 1e20f;
    particleBbox[3] = particleBbox[4] = particleBbox[5] = -1e20f;
    FreeCompressedBlock();
    frameNumber = 0;
}

// --- IKor

int OstrelFrameData::HasChannel(int channel) {
    const uint32_t mask = channelMask & ~kBackupFrameBit;
    if (channel == KOR_GRID_PACKED_COLOUR) return 0;
    if (mask & (1u << (static_cast<uint32_t>(channel) & 31u))) return 1;
    if (IsColour(channel) && (mask & (1u << KOR_GRID_PACKED_COLOUR))) return 1;
    if (channel == KOR_GRID_SPEED)
        return HasChannel(KOR_GRID_VELOCITY_X) && HasChannel(KOR_GRID_VELOCITY_Y) && HasChannel(KOR_GRID_VELOCITY_Z) ? 1 : 0;
    return 0;
}

float* OstrelFrameData::DecodeStoredChannel(int channel) noexcept {
    ChannelRecord record;
    const RecordLookup lookup = FindChannelRecord(compressedBlock, compressedLength, channel, record);
    if (lookup == RecordLookup::Absent) return nullptr;

    const int64_t cells = CellCount();
    if (cells > INT64_MAX / 8) return nullptr;  // no such array can be made
    const size_t values = static_cast<size_t>(cells) + 4;
    float* array = ChannelPool::Take(values);
    if (array == nullptr) return nullptr;

    bool decoded = false;
    if (lookup == RecordLookup::Found && channel == KOR_GRID_PACKED_COLOUR) {
        // int64 byte count B, then B bytes of zlib data inflating to 4 bytes per cell.
        int64_t streamBytes = -1;
        if (record.bodyBytes >= 8) std::memcpy(&streamBytes, record.body, 8);
        const bool fits = streamBytes >= 0 && static_cast<uint64_t>(streamBytes) <= record.bodyBytes - 8 &&
                          streamBytes <= UINT32_MAX && cells <= UINT32_MAX / 4;
        decoded = fits && ZipDecompress(record.body + 8, static_cast<uint32_t>(streamBytes), array,
                                        static_cast<uint32_t>(cells * 4));
    } else if (lookup == RecordLookup::Found) {
        SGCompressor<3>*& decoder = decompressors[channel];
        if (decoder == nullptr) decoder = newObject<SGCompressor<3>>();
        decoded = decoder != nullptr &&
                  decoder->Decompress(record.body, record.bodyBytes, array, static_cast<size_t>(cells));
    }
    if (!decoded) {
        LogPrint("Invalid cache file!!!\n");
        ChannelPool::Give(array, values);
        return nullptr;
    }
    pooled_[channel] = array;
    pooledValues_[channel] = values;
    return array;
}

bool OstrelFrameData::ExpandPackedColour() noexcept {
    const uint8_t* packed = reinterpret_cast<const uint8_t*>(channels[KOR_GRID_PACKED_COLOUR]);
    const size_t cells = static_cast<size_t>(CellCount());
    float* made[3] = {};
    const int targets[3] = {KOR_GRID_COLOUR_R, KOR_GRID_COLOUR_G, KOR_GRID_COLOUR_B};
    for (int t = 0; t < 3; ++t) {
        made[t] = ChannelPool::MakeArray(cells);
        if (made[t] == nullptr) {
            for (float*& array : made) deleteArray(array);
            return false;
        }
    }
    // Bytes are stored blue, green, red, unused.
    for (size_t n = 0; n < cells; ++n) {
        made[0][n] = packed[4 * n + 2] / 255.0f;
        made[1][n] = packed[4 * n + 1] / 255.0f;
        made[2][n] = packed[4 * n + 0] / 255.0f;
    }
    // A colour channel that is already there (stored on its own, and maybe
    // being read) is never replaced.
    for (int t = 0; t < 3; ++t) {
        KorPlatform::ScopedLock lock(channelLocks[targets[t]]);
        if (LoadPointer(channels[targets[t]]) == nullptr)
            StorePointer(channels[targets[t]], made[t]);
        else
            deleteArray(made[t]);
    }
    float* bytes = channels[KOR_GRID_PACKED_COLOUR];
    StorePointer(channels[KOR_GRID_PACKED_COLOUR], nullptr);
    ReleaseChannelArray(KOR_GRID_PACKED_COLOUR, bytes);
    colourExpanded_ = true;
    return true;
}

float* OstrelFrameData::DeriveSpeed() noexcept {
    const float* vx = GetChannel(KOR_GRID_VELOCITY_X);
    const float* vy = GetChannel(KOR_GRID_VELOCITY_Y);
    const float* vz = GetChannel(KOR_GRID_VELOCITY_Z);
    if (vx == nullptr || vy == nullptr || vz == nullptr) return nullptr;
    const size_t cells = static_cast<size_t>(CellCount());
    float* speed = ChannelPool::MakeArray(cells);
    if (speed == nullptr) return nullptr;
    for (size_t n = 0; n < cells; ++n) speed[n] = std::sqrt(vx[n] * vx[n] + vy[n] * vy[n] + vz[n] * vz[n]);
    return speed;
}

float* OstrelFrameData::GetChannel(int channel) {
    if (channel < 0 || channel >= KOR_GRID_CHANNEL_COUNT) return nullptr;
    {
        KorPlatform::ScopedLock lock(channelLocks[channel]);
        if (channel == KOR_GRID_PACKED_COLOUR) {
            // Packed colour is never handed out: it only feeds 7, 8 and 9,
            // once per frame. After a failed expansion its bytes stay for a retry.
            if (colourExpanded_) return nullptr;
            float*& packed = channels[KOR_GRID_PACKED_COLOUR];
            if (packed == nullptr) StorePointer(packed, DecodeStoredChannel(channel));
            if (packed != nullptr) ExpandPackedColour();
            return nullptr;
        }
        if (LoadPointer(channels[channel]) == nullptr) {
            float* array = DecodeStoredChannel(channel);
            if (array == nullptr && channel == KOR_GRID_SPEED) array = DeriveSpeed();
            StorePointer(channels[channel], array);
        }
    }
    if (IsColour(channel) && LoadPointer(channels[channel]) == nullptr) GetChannel(KOR_GRID_PACKED_COLOUR);
    return LoadPointer(channels[channel]);
}

void OstrelFrameData::GetGridDim(int* dims) {
    if (dims == nullptr) return;
    dims[0] = nx;
    dims[1] = ny;
    dims[2] = nz;
}

void OstrelFrameData::GetTransform(float* out) {
    if (out != nullptr) std::memcpy(out, transform, sizeof transform);
}

int OstrelFrameData::GetNumParticleGroups() {
    int count = 0;
    for (PGroup& group : groups)
        if (group.HasChannel(KOR_PARTICLE_POSITION)) ++count;
    return count;
}

IOstrelPrtGroup* OstrelFrameData::GetParticleGroup(int index) {
    if (index < 0) return nullptr;
    for (PGroup& group : groups) {
        if (!group.HasChannel(KOR_PARTICLE_POSITION)) continue;
        if (index-- == 0) return &group;
    }
    return nullptr;
}

IOstrelPrtGroup* OstrelFrameData::GetParticleGroupByName(const char* name) {
    if (name == nullptr) return nullptr;
    for (PGroup& group : groups)
        if (group.name.Equals(name)) return &group;
    return nullptr;
}
