// The layout of every particle channel id (KorParticleChannel): words per
// element, components and type code. The ids are stored in cache files and
// fixed.
#pragma once
#include <cstdint>

#include "korloader/korloader.h"

namespace KorParticles {

// Attribute word that makes a group serve velocity from the frame's grid.
constexpr uint32_t kVelocityFromGrid = 0x30000;

struct ChannelLayout {
    int words;       // 32-bit words per element
    int components;  // components per element
    int type;        // type code
};

// Ids above 14 have the defaults; the id is compared unsigned, so negative ids
// count as above 14 too.
constexpr ChannelLayout LayoutOf(int channel) noexcept {
    constexpr ChannelLayout kTable[15] = {
        {3, 3, KOR_TYPE_FLOAT},  // 0 position
        {3, 3, KOR_TYPE_FLOAT},  // 1 velocity
        {1, 1, KOR_TYPE_FLOAT},  // 2 size
        {1, 1, KOR_TYPE_FLOAT},  // 3 age
        {3, 3, KOR_TYPE_FLOAT},  // 4 colour
        {1, 1, KOR_TYPE_FLOAT},  // 5
        {0, 0, KOR_TYPE_NONE},   // 6: no layout
        {0, 0, KOR_TYPE_NONE},   // 7: no layout
        {0, 0, KOR_TYPE_NONE},   // 8: no layout
        {1, 1, KOR_TYPE_FLOAT},  // 9
        {2, 1, KOR_TYPE_INT64},  // 10 particle ID
        {1, 1, KOR_TYPE_FLOAT},  // 11
        {1, 1, KOR_TYPE_UINT32},  // 12
        {1, 1, KOR_TYPE_UINT32},  // 13
        {1, 1, KOR_TYPE_UINT32},  // 14
    };
    return static_cast<uint32_t>(channel) <= 14u ? kTable[channel] : ChannelLayout{1, 1, KOR_TYPE_NONE};
}

constexpr int WordsOf(int channel) noexcept { return LayoutOf(channel).words; }
constexpr int ElementBytesOf(int channel) noexcept { return LayoutOf(channel).words * 4; }

static_assert(ElementBytesOf(KOR_PARTICLE_ID) == 8 && ElementBytesOf(6) == 0 && ElementBytesOf(20) == 4,
              "channel table");
static_assert(LayoutOf(-1).words == 1 && LayoutOf(-1).type == KOR_TYPE_NONE, "negative ids take the defaults");

constexpr bool IsStoredChannel(int channel) noexcept { return channel >= 0 && channel < KOR_PARTICLE_CHANNEL_COUNT; }

}  // namespace KorParticles
