// Reads everything a host can read from a frame, through the public
// interfaces only, and sums it up in a digest. Used wherever a whole frame
// must be exercised: the fuzzers, the allocation-failure walk, the
// many-thread stress test (digests of concurrent reads are compared with a
// single-threaded one) and the leak cycles.
#pragma once
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>

#include "korloader/korloader.h"

namespace KorTest {

struct WalkLimits {
    // Particles read per group and channel (ID lookups likewise); the
    // fuzzers keep this small, the tests read everything.
    int64_t particlesPerGroup = INT64_MAX;
    // Also ask for ids outside the valid ranges (-1, 32, ...), as a careless
    // host might.
    bool outOfRangeIds = true;
};

struct FrameDigest {
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over everything read
    int channelsRead = 0;                     // grid channels that came back non-null
    int channelsMissing = 0;                  // HasChannel 1, but GetChannel null
    int groups = 0;                           // groups with positions
    int particleReadsFailed = 0;              // GetParticleChannel returned 0 for a present channel
    int idLookupsFailed = 0;                  // a stored ID not found again
    bool operator==(const FrameDigest& o) const {
        return hash == o.hash && channelsRead == o.channelsRead && channelsMissing == o.channelsMissing &&
               groups == o.groups && particleReadsFailed == o.particleReadsFailed &&
               idLookupsFailed == o.idLookupsFailed;
    }
    bool operator!=(const FrameDigest& o) const { return !(*this == o); }
};

// What each read gave, by item ("grid 4", "group 0 channel 1", "group 0
// ids", ...): a hash of the values, or kFailedItem when the read failed
// (null channel, GetParticleChannel 0, a stored ID not found). Lets a test
// check that every read either gave the right values or failed cleanly.
using ItemLog = std::map<std::string, uint64_t>;
constexpr uint64_t kFailedItem = 0;

// Grid channels in `channelOrder` order (all of 0..31 when null), then every
// group: names, per-channel metadata, every element of every channel, the
// grid-velocity fallback, and a lookup of every stored ID plus a few
// missing ones.
FrameDigest WalkFrame(IKor* frame, const WalkLimits& limits = {}, const int* channelOrder = nullptr,
                      ItemLog* items = nullptr);

// Cells of the frame's grid, 0 when a dimension is not positive or the
// product does not fit in 63 bits.
int64_t GridCells(IKor* frame);

}  // namespace KorTest
