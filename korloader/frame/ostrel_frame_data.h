// OstrelFrameData: one simulation frame in memory, the library's only IKor.
//
// The member layout below is also what an import plug-in module fills
// directly (grid dimensions, transform, channel mask and channel arrays), so
// it is kept stable.
#pragma once
#include <cstdint>

#include "korloader/korloader.h"
#include "particles/pgroup.h"
#include "platform/platform.h"
#include "util/iarray.h"
#include "util/kor_string.h"

template <int D>
class SGCompressor;
class MTComputeParticlesBbox;

namespace KorFrame {
constexpr uint32_t kBackupFrameBit = 0x80000000u;
constexpr int kSimInfoBytes = 392;
// Known positions in the SimInfoBlock, which the library keeps and never
// interprets: the frame's time (a double; header tags 8 and 10), a second
// double (tag 10), a 32-bit value (tag 9) and an 8-byte value (tag 11).
constexpr int kSimInfoFrameTime = 8;
constexpr int kSimInfoSecondDouble = 16;
constexpr int kSimInfoSettingsWord = 348;
constexpr int kSimInfoAuxTransformsValue = 384;
constexpr int32_t kNeverLoaded = INT32_MIN;
}  // namespace KorFrame

class OstrelFrameData : public IKor {
public:
    OstrelFrameData() noexcept;
    OstrelFrameData(const OstrelFrameData&) = delete;
    OstrelFrameData& operator=(const OstrelFrameData&) = delete;

    // IKor, in slot order.
    float* GetChannel(int channel) override;
    int HasChannel(int channel) override;
    void GetGridDim(int* dims) override;
    void GetTransform(float* transform) override;
    int GetNumParticleGroups() override;
    IOstrelPrtGroup* GetParticleGroup(int index) override;
    IOstrelPrtGroup* GetParticleGroupByName(const char* name) override;
    virtual ~OstrelFrameData();

    // Header fields back to their defaults before a load.
    void ResetFrame(int flag) noexcept;
    // Frees every decoded channel array; every range becomes unknown.
    void FreeChannelArrays() noexcept;
    void FreeCompressedBlock() noexcept;
    // nx * ny * nz in 64 bits; 0 when any dimension is not positive, INT64_MAX
    // when the product does not fit.
    int64_t CellCount() const noexcept;

    // --- Members, in order.
    uint8_t flags = 0;  // bit 0: backup frame
    int32_t* compressedBlock = nullptr;
    int32_t compressedLength = 0;  // words
    uint32_t channelMask = 0;
    iArray<PGroup> groups;
    int32_t nx = 0, ny = 0, nz = 0;
    int32_t frameNumber = KorFrame::kNeverLoaded;
    uint8_t simInfo[KorFrame::kSimInfoBytes] = {};
    float tag9Value = 0.001f;
    float transform[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    float timeStep = 1.0f / 30.0f;
    float auxTransforms[3][12] = {{}, {}, {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}};
    float* channels[KOR_GRID_CHANNEL_COUNT] = {};
    float rangeMin[KOR_GRID_CHANNEL_COUNT];
    float rangeMax[KOR_GRID_CHANNEL_COUNT];
    SGCompressor<3>* decompressors[KOR_GRID_CHANNEL_COUNT] = {};
    float particleBbox[6] = {1e20f, 1e20f, 1e20f, -1e20f, -1e20f, -1e20f};
    KorPlatform::CriticalSection channelLocks[KOR_GRID_CHANNEL_COUNT];
    ZUtils::String infoText;
    ZUtils::String path;
    ZUtils::String mapping;
    int32_t refCount = 0;
    MTComputeParticlesBbox* bboxJob = nullptr;
    // Trailer version of the native file it was read from (0: no trailer).
    // Kept for inspection tools only.
    int32_t formatVersion = 0;

private:
    // Decodes a stored channel under its lock into an array from the channel
    // pool, recorded in pooled_ so that it goes back there.
    float* DecodeStoredChannel(int channel) noexcept;
    // Frees channels[channel] the way it was made (pool or array delete).
    void ReleaseChannelArray(int channel, float* array) noexcept;
    // Expands the packed colour bytes of channels[KOR_GRID_PACKED_COLOUR] into
    // the three colour channels.
    bool ExpandPackedColour() noexcept;
    // Speed from the three velocity channels.
    float* DeriveSpeed() noexcept;
    // Set under lock 18 once channels 7, 8 and 9 were made from packed colour.
    bool colourExpanded_ = false;
    // The arrays of each channel that came from the channel pool, and their
    // float counts; any other array (an import module's, speed, colour) is
    // released with array delete.
    float* pooled_[KOR_GRID_CHANNEL_COUNT] = {};
    size_t pooledValues_[KOR_GRID_CHANNEL_COUNT] = {};
};
