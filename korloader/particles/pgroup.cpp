#include "particles/pgroup.h"

#include <cstring>
#include <utility>

#include "codecs/particle_methods.h"
#include "codecs/sg_compressor.h"
#include "diag/log.h"
#include "particles/grid_velocity.h"

using namespace KorParticles;

PGroup::ChannelRecord::ChannelRecord(ChannelRecord&& other) noexcept
    : method(other.method),
      compressed(std::move(other.compressed)),
      decoded(std::move(other.decoded)),
      present(other.present.load(std::memory_order_relaxed)),
      ready(other.ready.load(std::memory_order_relaxed)) {
    other.present.store(false, std::memory_order_relaxed);
    other.ready.store(false, std::memory_order_relaxed);
}

PGroup::PGroup(PGroup&& other) noexcept
    : idOrder_(std::move(other.idOrder_)),
      name(std::move(other.name)),
      channelMask(other.channelMask),
      attributes(other.attributes),
      particleCount(other.particleCount),
      value64(other.value64),
      frame(other.frame),
      idOrderState_(other.idOrderState_.load(std::memory_order_relaxed)) {
    for (int c = 0; c < KOR_PARTICLE_CHANNEL_COUNT; ++c) {
        ChannelRecord& from = other.channels_[c];
        ChannelRecord& to = channels_[c];
        to.method = from.method;
        to.compressed = std::move(from.compressed);
        to.decoded = std::move(from.decoded);
        to.present.store(from.present.exchange(false, std::memory_order_relaxed), std::memory_order_relaxed);
        to.ready.store(from.ready.exchange(false, std::memory_order_relaxed), std::memory_order_relaxed);
        decoders_[c] = other.decoders_[c];
        other.decoders_[c] = nullptr;
    }
    other.idOrderState_.store(kOrderUnknown, std::memory_order_relaxed);
}

PGroup::~PGroup() {
    for (SGCompressor<1>*& decoder : decoders_) {
        delete decoder;
        decoder = nullptr;
    }
}

PGroup::ChannelRecord* PGroup::Record(int channel) noexcept {
    return IsStoredChannel(channel) ? &channels_[channel] : nullptr;
}

const PGroup::ChannelRecord* PGroup::Record(int channel) const noexcept {
    return IsStoredChannel(channel) ? &channels_[channel] : nullptr;
}

// --- IOstrelPrtGroup

const char* PGroup::GetName() { return name.c_str(); }

int PGroup::GetNumParticles() { return HasChannel(KOR_PARTICLE_POSITION) ? particleCount : 0; }

int PGroup::HasChannel(int channel) {
    if (channel == KOR_PARTICLE_VELOCITY && frame != nullptr && attributes == kVelocityFromGrid)
        return frame->HasChannel(KOR_GRID_VELOCITY_X) ? 1 : 0;
    const ChannelRecord* record = Record(channel);
    return record != nullptr && record->present.load(std::memory_order_acquire) ? 1 : 0;
}

int PGroup::GetChannelSize(int channel) { return ElementBytesOf(channel); }
int PGroup::GetChannelType(int channel) { return LayoutOf(channel).type; }
int PGroup::GetChannelComponents(int channel) { return LayoutOf(channel).components; }

int PGroup::GetParticleChannel(int index, int channel, void* out) {
    ChannelRecord* record = Record(channel);
    if (record != nullptr && record->present.load(std::memory_order_acquire)) {
        if (!decompressChannel(channel, true)) return 0;
        if (index < 0 || index >= particleCount || out == nullptr) return 0;
        const int bytes = ElementBytesOf(channel);
        if (bytes > 0) std::memcpy(out, record->decoded.Data() + static_cast<int64_t>(index) * bytes, bytes);
        return 1;
    }
    if (channel == KOR_PARTICLE_VELOCITY && frame != nullptr && HasChannel(KOR_PARTICLE_VELOCITY) && out != nullptr)
        return SampleGridVelocity(index, static_cast<float*>(out));
    return 0;
}

int PGroup::SampleGridVelocity(int index, float* out) noexcept {
    float position[3];
    if (GetParticleChannel(index, KOR_PARTICLE_POSITION, position) == 0) return 0;
    int32_t dims[3];
    frame->GetGridDim(dims);
    const float* const grid[3] = {frame->GetChannel(KOR_GRID_VELOCITY_X), frame->GetChannel(KOR_GRID_VELOCITY_Y),
                                   frame->GetChannel(KOR_GRID_VELOCITY_Z)};
    if (grid[0] == nullptr || dims[0] < 1 || dims[1] < 1 || dims[2] < 1) {
        out[0] = out[1] = out[2] = 0.0f;
        return 0;
    }
    if (grid[1] == nullptr || grid[2] == nullptr) return 0;
    SampleTrilinear(grid, dims, position, out);
    return 1;
}

int PGroup::FindParticleByID(long long id) {
    if (!HasChannel(KOR_PARTICLE_ID)) return -1;
    if (!EnsureIdOrder()) return -1;
    const int64_t* ids = DecodedIds();
    const int32_t n = particleCount;
    if (ids == nullptr || n <= 0) return -1;
    const int* order = idOrderState_.load(std::memory_order_acquire) == kOrderSorted ? idOrder_.Data() : nullptr;
    // Without an ordering the IDs ascend and are searched directly.
    auto at = [&](int32_t i) { return order != nullptr ? order[i] : i; };
    int32_t lo = 0, hi = n;
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        const int64_t value = ids[at(mid)];
        if (id < value)
            hi = mid;
        else if (id == value)
            return at(mid);
        else
            lo = mid;
    }
    return ids[at(lo)] == id ? at(lo) : -1;
}

// --- Decoding

bool PGroup::decompressChannel(int channel, bool releaseCompressed) noexcept {
    ChannelRecord* record = Record(channel);
    if (record == nullptr) return false;
    if (record->ready.load(std::memory_order_acquire)) return true;
    KorPlatform::ScopedLock lock(record->lock);
    if (record->ready.load(std::memory_order_relaxed)) return true;  // another thread was first

    if (record->compressed.Count() == 0) {
        LogPrint("PGroup::decompressChannel failed: no compression data!");
        return false;
    }
    // An unknown method fails quietly and keeps its bytes; nothing is sized,
    // so the channel never passes for decoded.
    if (record->method > kHighestMethod) return false;

    const int64_t elementBytes = static_cast<int64_t>(particleCount) * ElementBytesOf(channel);
    const bool fits = StoredBytesFit(record->method, record->compressed.Data(),
                                     static_cast<size_t>(record->compressed.Count()), elementBytes);
    if (fits && elementBytes > 0 && !record->decoded.SetSize(elementBytes, nullptr, true)) return false;  // zeros
    const bool decoded = fits && DecodeParticleChannel(record->method, record->compressed.Data(),
                                               static_cast<size_t>(record->compressed.Count()), particleCount,
                                               WordsOf(channel), decoders_[channel],
                                               reinterpret_cast<uint32_t*>(record->decoded.Data()));
    if (!decoded) {
        LogPrint("Error decompressing particle channel %d with method %d\n", channel, static_cast<int>(record->method));
        record->compressed.Free();
        record->decoded.Free();
    }
    if (releaseCompressed) record->compressed.Free();
    if (decoded) record->ready.store(true, std::memory_order_release);
    // A decoded channel stays present even when it has no element bytes.
    record->present.store(decoded || record->compressed.Count() > 0, std::memory_order_release);
    return decoded;
}

const uint8_t* PGroup::ElementPointer(int channel, int index) noexcept {
    ChannelRecord* record = Record(channel);
    if (record == nullptr || !record->present.load(std::memory_order_acquire)) return nullptr;
    if (!decompressChannel(channel, true)) return nullptr;
    if (index < 0 || index >= particleCount || ElementBytesOf(channel) == 0) return nullptr;
    return record->decoded.Data() + static_cast<int64_t>(index) * ElementBytesOf(channel);
}

const int64_t* PGroup::DecodedIds() noexcept {
    return reinterpret_cast<const int64_t*>(ElementPointer(KOR_PARTICLE_ID, 0));
}

// --- ID ordering

bool PGroup::EnsureIdOrder() noexcept {
    KorPlatform::ScopedLock lock(groupLock_);
    const int64_t* ids = DecodedIds();
    if (ids == nullptr) return false;
    if (idOrderState_.load(std::memory_order_relaxed) != kOrderUnknown) return true;

    // The IDs are compared with the one before, the first with 0: a negative
    // first ID counts as out of order. The IDs never change once decoded, so
    // the answer is kept and the check is not repeated.
    const int32_t n = particleCount;
    bool ascending = true;
    int64_t previous = 0;
    for (int32_t i = 0; i < n && ascending; ++i) {
        ascending = ids[i] >= previous;
        previous = ids[i];
    }
    if (ascending) {
        idOrder_.Free();
        idOrderState_.store(kOrderAscending, std::memory_order_release);
        return true;
    }
    if (!idOrder_.SetSize(n, nullptr, true)) return false;
    for (int32_t i = 0; i < n; ++i) idOrder_[i] = i;
    idOrder_.ids = ids;
    if (!idOrder_.Sort()) {
        idOrder_.Free();
        return false;
    }
    idOrderState_.store(kOrderSorted, std::memory_order_release);
    return true;
}

void PGroup::ResetIdOrder() noexcept {
    idOrder_.Free();
    idOrder_.ids = nullptr;
    idOrderState_.store(kOrderUnknown, std::memory_order_relaxed);
}

// --- Loading

void PGroup::SetCompressedChannel(int channel, uint32_t method, Bytes&& bytes) noexcept {
    ChannelRecord* record = Record(channel);
    if (record == nullptr) return;
    if (channel == KOR_PARTICLE_ID) ResetIdOrder();
    record->method = method;
    record->compressed = std::move(bytes);
    record->decoded.Free();
    record->ready.store(false, std::memory_order_relaxed);
    record->present.store(record->compressed.Count() > 0, std::memory_order_relaxed);
}

void PGroup::SetDecodedChannel(int channel, Bytes&& elements) noexcept {
    ChannelRecord* record = Record(channel);
    if (record == nullptr) return;
    if (channel == KOR_PARTICLE_ID) ResetIdOrder();
    record->compressed.Free();
    record->decoded = std::move(elements);
    if (record->decoded.Count() != static_cast<int64_t>(particleCount) * ElementBytesOf(channel))
        record->decoded.Free();  // never keep an array that does not match the count
    const bool present = record->decoded.Count() > 0;
    record->ready.store(present, std::memory_order_relaxed);
    record->present.store(present, std::memory_order_relaxed);
}

void PGroup::SetParticleCount(int32_t count) noexcept {
    if (count == particleCount) return;
    particleCount = count;
    ResetIdOrder();
    for (int c = 0; c < KOR_PARTICLE_CHANNEL_COUNT; ++c) {
        ChannelRecord& record = channels_[c];
        if (!record.ready.load(std::memory_order_relaxed)) continue;
        record.decoded.Free();
        record.ready.store(false, std::memory_order_relaxed);
        record.present.store(record.compressed.Count() > 0, std::memory_order_relaxed);
    }
}

int64_t PGroup::CompressedSize(int channel) const noexcept {
    const ChannelRecord* record = Record(channel);
    return record != nullptr ? record->compressed.Count() : 0;
}

int64_t PGroup::DecodedSize(int channel) const noexcept {
    const ChannelRecord* record = Record(channel);
    return record != nullptr && record->ready.load(std::memory_order_acquire) ? record->decoded.Count() : 0;
}

uint32_t PGroup::Method(int channel) const noexcept {
    const ChannelRecord* record = Record(channel);
    return record != nullptr ? record->method : 0;
}
