// The particle channel table: words per element, components and type code of
// every channel id. The ids are stored in cache files and fixed.
#pragma once
#include <cstdint>

namespace KorParticles {

constexpr int kChannelCount = 32;  // a group has storage for ids 0..31
constexpr int kPosition = 0;
constexpr int kVelocity = 1;
constexpr int kSize = 2;
constexpr int kAge = 3;
constexpr int kColour = 4;
constexpr int kParticleId = 10;

// Attribute word that makes a group serve velocity from the frame's grid.
constexpr uint32_t kVelocityFromGrid = 0x30000;

// Type codes handed to hosts as they are.
constexpr int kTypeNone = 0;
constexpr int kTypeUInt32 = 6;
constexpr int kTypeInt64 = 7;
constexpr int kTypeFloat = 10;

struct ChannelLayout {
    int words;       // 32-bit words per element
    int components;  // components per element
    int type;        // type code
};

// Ids above 14 have the defaults; the id is compared unsigned, so negative ids
// count as above 14 too.
constexpr ChannelLayout LayoutOf(int channel) noexcept {
    constexpr ChannelLayout kTable[15] = {
        {3, 3, kTypeFloat},  // 0 position
        {3, 3, kTypeFloat},  // 1 velocity
        {1, 1, kTypeFloat},  // 2 size
        {1, 1, kTypeFloat},  // 3 age
        {3, 3, kTypeFloat},  // 4 colour
        {1, 1, kTypeFloat},  // 5
        {0, 0, kTypeNone},   // 6: no layout
        {0, 0, kTypeNone},   // 7: no layout
        {0, 0, kTypeNone},   // 8: no layout
        {1, 1, kTypeFloat},  // 9
        {2, 1, kTypeInt64},  // 10 particle ID
        {1, 1, kTypeFloat},  // 11
        {1, 1, kTypeUInt32},  // 12
        {1, 1, kTypeUInt32},  // 13
        {1, 1, kTypeUInt32},  // 14
    };
    return static_cast<uint32_t>(channel) <= 14u ? kTable[channel] : ChannelLayout{1, 1, kTypeNone};
}

constexpr int WordsOf(int channel) noexcept { return LayoutOf(channel).words; }
constexpr int ElementBytesOf(int channel) noexcept { return LayoutOf(channel).words * 4; }

static_assert(ElementBytesOf(10) == 8 && ElementBytesOf(6) == 0 && ElementBytesOf(20) == 4, "channel table");
static_assert(LayoutOf(-1).words == 1 && LayoutOf(-1).type == kTypeNone, "negative ids take the defaults");

constexpr bool IsStoredChannel(int channel) noexcept { return channel >= 0 && channel < kChannelCount; }

}  // namespace KorParticles
