// PGroup: one named particle group of a frame, served to hosts as
// IOstrelPrtGroup. Each of its 32 channels holds compressed bytes and a
// method number until first use, then the decoded element array.
//
// Threads: many host threads may read one group. A channel is decoded at
// most once, under its own lock; the decoded array is published with release
// semantics and never changes afterwards, so readers take no lock once it is
// there. The ID ordering is built under the group lock and published the
// same way.
#pragma once
#include <atomic>
#include <cstdint>

#include "korloader/korloader.h"
#include "particles/channel_table.h"
#include "particles/id_order.h"
#include "platform/platform.h"
#include "util/iarray.h"
#include "util/kor_string.h"

template <int D>
class SGCompressor;

class PGroup : public IOstrelPrtGroup {
public:
    using Bytes = iArray<uint8_t, int64_t>;

    struct ChannelRecord {
        ChannelRecord() noexcept = default;
        // Locks cannot move: the new record gets a fresh one. Records only
        // move while a frame loads, before any other thread sees them.
        ChannelRecord(ChannelRecord&& other) noexcept;

        KorPlatform::CriticalSection lock;  // serialises the decode
        uint32_t method = 0;
        Bytes compressed;  // until decoded
        Bytes decoded;     // count × element bytes, particle-major
        // What lock-free readers look at. `present`: compressed or decoded
        // data is there. `ready`: `decoded` is final.
        std::atomic<bool> present{false};
        std::atomic<bool> ready{false};
    };

    PGroup() noexcept = default;
    PGroup(PGroup&& other) noexcept;
    PGroup(const PGroup&) = delete;
    PGroup& operator=(const PGroup&) = delete;

    // IOstrelPrtGroup, in slot order.
    const char* GetName() override;
    int GetNumParticles() override;
    int GetParticleChannel(int index, int channel, void* out) override;
    int HasChannel(int channel) override;
    int GetChannelSize(int channel) override;
    int FindParticleByID(long long id) override;
    int GetChannelType(int channel) override;
    int GetChannelComponents(int channel) override;
    virtual ~PGroup();

    // Decodes the channel once (under its lock); true when its decoded array
    // is there. Every caller passes releaseCompressed = true.
    bool decompressChannel(int channel, bool releaseCompressed) noexcept;
    // Builds the ID ordering when the IDs do not ascend. False when the ID
    // channel cannot be decoded or memory runs out.
    bool EnsureIdOrder() noexcept;
    // Address of element `index` of a present channel, decoding it first;
    // null when the channel is absent, fails to decode, or index is outside
    // 0..count-1.
    const uint8_t* ElementPointer(int channel, int index) noexcept;
    // The decoded ID values (channel 10), or null.
    const int64_t* DecodedIds() noexcept;

    // --- Loading (one thread, before the frame is shared).
    // Replaces the channel's data by compressed bytes and their method.
    void SetCompressedChannel(int channel, uint32_t method, Bytes&& bytes) noexcept;
    // Replaces the channel's data by its decoded element array, which must
    // hold count × element bytes. An empty array leaves the channel absent.
    void SetDecodedChannel(int channel, Bytes&& elements) noexcept;
    // Sets the particle count. Decoded arrays made for another count are
    // dropped so that every decoded array matches the count.
    void SetParticleCount(int32_t count) noexcept;
    // The ordering as last built: empty when the IDs ascend or nothing was
    // asked yet (for tests and the reader).
    const IDORD& IdOrder() const noexcept { return idOrder_; }
    bool IdOrderBuilt() const noexcept { return idOrderState_.load(std::memory_order_acquire) == kOrderSorted; }
    int64_t CompressedSize(int channel) const noexcept;
    int64_t DecodedSize(int channel) const noexcept;
    uint32_t Method(int channel) const noexcept;
    // The channel's SGCompressor<1> state (ids 0..31), made by its first user
    // and deleted with the group.
    SGCompressor<1>*& DecoderState(int channel) noexcept { return decoders_[channel]; }

    // --- Fields.
private:
    IDORD idOrder_;
    KorPlatform::CriticalSection groupLock_;  // serialises building the ordering

public:
    ZUtils::String name;
    uint32_t channelMask = 0;  // bit c: channel c stored in the file
    uint32_t attributes = 0;   // kVelocityFromGrid serves velocity from the grid
    int32_t particleCount = 0;
    int64_t value64 = 0;  // stored with the group, carried through unchanged

private:
    ChannelRecord channels_[KOR_PARTICLE_CHANNEL_COUNT];
    SGCompressor<1>* decoders_[KOR_PARTICLE_CHANNEL_COUNT] = {};

public:
    IKor* frame = nullptr;  // the owning frame; not owned

private:
    enum : int { kOrderUnknown = 0, kOrderAscending = 1, kOrderSorted = 2 };
    std::atomic<int> idOrderState_{kOrderUnknown};

    ChannelRecord* Record(int channel) noexcept;
    const ChannelRecord* Record(int channel) const noexcept;
    void ResetIdOrder() noexcept;
    bool DecodeRecord(int channel, ChannelRecord& record) noexcept;
    int SampleGridVelocity(int index, float* out) noexcept;
};
