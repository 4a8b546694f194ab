// Sparse-grid streams: single streams and their forms, zoned streams and
// their zone table, and the SGCompressor job set that decodes the zones.
// Quantised grids are decoded by sg_grid_streamed.cpp or sg_grid_axes.cpp.
#include "codecs/sg_compressor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "codecs/entropy_coder.h"
#include "codecs/sg_quantised.h"
#include "util/nothrow_new.h"

using KorSparseGrid::DecodeGridAxisByAxis;
using KorSparseGrid::DecodeGridStreamed;
using KorSparseGrid::Reconstruct;
using KorSparseGrid::SingleHeader;

namespace {

constexpr size_t kMaxValues = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max()) / 8;

// Reads and checks the header of a single stream: a known tag and form,
// non-negative sizes, and (raw form) all values present.
template <int D>
bool ParseSingle(const uint8_t* stream, size_t size, SingleHeader& h) noexcept {
    ZUtils::ByteReader reader(stream, size);
    uint16_t tag = 0;
    if (!reader.ReadValue(tag) || tag != SGCompressor<D>::kSingleTag || !reader.ReadValue(h.form)) return false;

    if (h.form == SGCompressor<D>::kRaw || h.form == SGCompressor<D>::kConstant) {
        int32_t n = 0;
        if (!reader.ReadValue(n) || n < 0) return false;
        h.count = static_cast<size_t>(n);
        if (h.form == SGCompressor<D>::kConstant) return reader.ReadValue(h.value);
        if (h.count > reader.Remaining() / 4) return false;
        h.payload = reader.Current();
        h.payloadSize = h.count * 4;
        return true;
    }
    if (h.form != SGCompressor<D>::kQuantised) return false;

    bool anyZero = false;
    bool overflow = false;
    uint64_t count = 1;
    for (int a = 0; a < D; ++a) {
        int32_t dim = 0;
        if (!reader.ReadValue(dim) || dim < 0) return false;
        h.dims[a] = static_cast<size_t>(dim);
        if (dim == 0) anyZero = true;
        if (__builtin_mul_overflow(count, static_cast<uint64_t>(dim), &count)) overflow = true;
    }
    if (anyZero) count = 0;
    if (overflow || count > kMaxValues) return false;
    h.count = static_cast<size_t>(count);
    uint8_t passes = 0;
    if (!reader.ReadValue(h.scale) || !reader.ReadValue(h.offset) || !reader.ReadValue(h.base) ||
        !reader.ReadValue(passes))
        return false;
    h.passes = passes;
    h.payload = reader.Current();
    h.payloadSize = reader.Remaining();
    return true;
}

// The table of a zoned stream, after its tag: Z, then Z output offsets and Z
// input offsets (int32 each; input offsets count from the end of the
// tables), then the zone streams.
struct ZoneTable {
    size_t count = 0;
    const uint8_t* outputOffsets = nullptr;
    const uint8_t* inputOffsets = nullptr;
    const uint8_t* streams = nullptr;
    size_t streamsSize = 0;  // up to the end of the record

    // False when the tables run past the record.
    bool Read(ZUtils::ByteReader& reader) noexcept {
        uint16_t zoneCount = 0;
        if (!reader.ReadValue(zoneCount)) return false;
        count = zoneCount;
        outputOffsets = reader.Current();
        if (!reader.Skip(count * 4)) return false;
        inputOffsets = reader.Current();
        if (!reader.Skip(count * 4)) return false;
        streams = reader.Current();
        streamsSize = reader.Remaining();
        return true;
    }

    // Zone z: a single stream (zones do not nest) that starts inside the
    // record, with offsets that are not negative. False otherwise.
    template <int D>
    bool Entry(size_t z, typename SGCompressor<D>::ZoneEntry& e) const noexcept {
        int32_t outputOffset = 0, inputOffset = 0;
        std::memcpy(&outputOffset, outputOffsets + 4 * z, 4);
        std::memcpy(&inputOffset, inputOffsets + 4 * z, 4);
        if (outputOffset < 0 || inputOffset < 0 || static_cast<size_t>(inputOffset) > streamsSize) return false;
        e.outputOffset = static_cast<size_t>(outputOffset);
        e.input = streams + inputOffset;
        e.inputSize = streamsSize - static_cast<size_t>(inputOffset);
        return SGSingleValueCount<D>(e.input, e.inputSize, e.valueCount);
    }
};

// Grids with rows this long or longer and this many passes at most are
// streamed; the others are decoded axis by axis. Streaming writes the
// destination once and wins for long rows (256^3 smoke with 1 to 4 passes:
// about a tenth faster), but its cost per row and pass outweighs that on
// rows of 32 cells or fewer, and its work memory grows with the passes.
constexpr size_t kStreamedPasses = 4;
constexpr size_t kStreamedWidth = 64;

template <int D>
bool DecodeQuantised(const SingleHeader& h, float* out, size_t destinationValues) noexcept {
    if (h.count == 0) return true;
    EntropyCoder coder;
    if (!coder.InitDecoder(h.payload, h.payloadSize, h.count)) return false;

    Reconstruct rec;
    // A tiny positive offset is noise of the encoder: it stands for 0.
    rec.offset = h.offset > 0.0f && static_cast<double>(h.offset) < 1e-20 ? 0.0f : h.offset;
    // IEEE division: 1 / 0 is an infinity of the zero's sign.
    rec.r = h.scale != 0.0f ? 1.0f / h.scale : std::copysign(std::numeric_limits<float>::infinity(), h.scale);

    // Every pass starts at index 1 or later, so it leaves an axis one cell
    // long alone: such axes are dropped, and a grid with one longer axis at
    // most is a flat array, one row long (hostile streams ask for 255 passes
    // over one-cell rows). The usual grids are streamed; flat arrays,
    // narrow rows and many passes go axis by axis.
    SingleHeader grid = h;
    size_t longAxes = 0;
    if (D == 3)
        for (size_t a = 0; a < 3; ++a)
            if (h.dims[a] > 1) grid.dims[longAxes++] = h.dims[a];
    if (longAxes < 2) {
        grid.dims[0] = h.count;
        longAxes = 1;
    }
    for (size_t a = longAxes; a < 3; ++a) grid.dims[a] = 1;
    if (longAxes >= 2 && grid.passes <= kStreamedPasses && grid.dims[0] >= kStreamedWidth)
        return DecodeGridStreamed(grid, coder, out, rec, destinationValues);
    return DecodeGridAxisByAxis(grid, coder, out, rec);
}

}  // namespace

template <int D>
bool SGSingleValueCount(const uint8_t* stream, size_t size, size_t& count) noexcept {
    SingleHeader h;
    if (!ParseSingle<D>(stream, size, h)) return false;
    count = h.count;
    return true;
}

template <int D>
bool SGStreamValueCount(const uint8_t* stream, size_t size, size_t& count) noexcept {
    ZUtils::ByteReader reader(stream, size);
    uint16_t tag = 0;
    if (!reader.ReadValue(tag)) return false;
    if (tag != SGCompressor<D>::kZonedTag) return SGSingleValueCount<D>(stream, size, count);
    ZoneTable table;
    if (!table.Read(reader)) return false;
    size_t end = 0;
    for (size_t z = 0; z < table.count; ++z) {
        typename SGCompressor<D>::ZoneEntry e;
        if (!table.Entry<D>(z, e)) return false;
        end = std::max(end, e.outputOffset + e.valueCount);
    }
    count = end;
    return true;
}

template <int D>
bool SGDecodeSingle(const uint8_t* stream, size_t size, float* out, size_t room, size_t& written,
                    size_t destinationValues) noexcept {
    SingleHeader h;
    written = 0;
    if (!ParseSingle<D>(stream, size, h) || h.count > room) return false;
    switch (h.form) {
        case SGCompressor<D>::kRaw:
            if (h.count != 0) std::memcpy(out, h.payload, h.count * 4);
            break;
        case SGCompressor<D>::kConstant:
            std::fill(out, out + h.count, h.value);
            break;
        default:
            if (!DecodeQuantised<D>(h, out, std::max(destinationValues, h.count))) return false;
            break;
    }
    written = h.count;
    return true;
}

// --- SGCompressor

template <int D>
SGCompressor<D>::~SGCompressor() = default;

template <int D>
Job* SGCompressor<D>::CreateJob() {
    return newObject<Zone>();
}

template <int D>
bool SGCompressor<D>::AppendOutput(const void* bytes, int64_t size) noexcept {
    if (size < 0 || (size > 0 && bytes == nullptr)) return false;
    const int64_t at = output_.Count();
    if (size > std::numeric_limits<int64_t>::max() - at || !output_.SetSize(at + size)) return false;
    if (size > 0) std::memcpy(output_.Data() + at, bytes, static_cast<size_t>(size));
    return true;
}

template <int D>
bool SGCompressor<D>::ReadBytes(void* to, int size) noexcept {
    return size >= 0 && cursor_.Read(to, static_cast<size_t>(size));
}

template <int D>
void SGCompressor<D>::ProcessJob(Job& job) {
    if (zones_ == nullptr) return;
    Zone& zone = static_cast<Zone&>(job);
    for (int64_t z = job.start; z < job.end && !zone.failed; ++z) {
        const ZoneEntry& entry = zones_[z];
        zone.destination = zoneOut_ + entry.outputOffset;
        zone.input = entry.input;
        zone.inputSize = entry.inputSize;
        zone.valueCount = entry.valueCount;
        size_t written = 0;
        if (!SGDecodeSingle<D>(zone.input, zone.inputSize, zone.destination, zone.valueCount, written, zoneOutCount_))
            zone.failed = true;
    }
}

template <int D>
bool SGCompressor<D>::Decompress(const uint8_t* source, size_t sourceSize, float* out, size_t outCount) noexcept {
    cursor_ = ZUtils::ByteReader(source, sourceSize);
    if (source == nullptr || (out == nullptr && outCount != 0)) return false;
    uint16_t tag = 0;
    if (!ReadBytes(&tag, 2)) return false;
    if (tag == kZonedTag) return DecompressZoned(out, outCount);
    if (tag != kSingleTag) return false;
    size_t written = 0;
    if (!SGDecodeSingle<D>(source, sourceSize, out, outCount, written)) return false;
    std::fill(out + written, out + outCount, 0.0f);
    return true;
}

// Zoned (ZoneTable). Every zone is checked before anything is decoded; the
// cells that no zone covers are cleared, the rest are left to the zones.
template <int D>
bool SGCompressor<D>::DecompressZoned(float* out, size_t outCount) noexcept {
    ZoneTable table;
    if (!table.Read(cursor_)) return false;
    const size_t count = table.count;

    ZoneEntry* zones = nullptr;
    uint32_t* order = nullptr;
    if (count != 0 && (!newArray(zones, count) || !newArray(order, count))) {
        deleteArray(zones);
        return false;
    }
    bool ok = true;
    for (size_t z = 0; z < count && ok; ++z) {
        // Each zone's values must fit the destination from its offset on.
        ZoneEntry& e = zones[z];
        ok = table.Entry<D>(z, e) && e.outputOffset <= outCount && e.valueCount <= outCount - e.outputOffset;
        order[z] = static_cast<uint32_t>(z);
    }

    if (ok) {
        // Clear the gaps between the zones' runs, in destination order.
        std::sort(order, order + count,
                  [zones](uint32_t a, uint32_t b) { return zones[a].outputOffset < zones[b].outputOffset; });
        size_t covered = 0;
        for (size_t k = 0; k < count; ++k) {
            const ZoneEntry& e = zones[order[k]];
            if (e.outputOffset > covered) std::fill(out + covered, out + e.outputOffset, 0.0f);
            covered = std::max(covered, e.outputOffset + e.valueCount);
        }
        std::fill(out + covered, out + outCount, 0.0f);

        // The zones run as this set's jobs (one job, on this thread).
        if (FirstJob() == nullptr || static_cast<size_t>(JobCount()) != count) {
            DestroyJobs();
            ok = InitJobs(static_cast<int>(count));
        }
    }
    if (ok && SetItemCount(static_cast<int64_t>(count))) {
        for (Job* job = FirstJob(); job != nullptr; job = job->next) static_cast<Zone*>(job)->failed = false;
        zones_ = zones;
        zoneOut_ = out;
        zoneOutCount_ = outCount;
        Run(0, nullptr);
        zones_ = nullptr;
        zoneOut_ = nullptr;
        zoneOutCount_ = 0;
        for (Job* job = FirstJob(); job != nullptr; job = job->next)
            if (static_cast<Zone*>(job)->failed) ok = false;
    } else {
        ok = false;
    }
    deleteArray(order);
    deleteArray(zones);
    return ok;
}

template class SGCompressor<1>;
template class SGCompressor<3>;
template bool SGDecodeSingle<1>(const uint8_t*, size_t, float*, size_t, size_t&, size_t) noexcept;
template bool SGDecodeSingle<3>(const uint8_t*, size_t, float*, size_t, size_t&, size_t) noexcept;
template bool SGSingleValueCount<1>(const uint8_t*, size_t, size_t&) noexcept;
template bool SGSingleValueCount<3>(const uint8_t*, size_t, size_t&) noexcept;
template bool SGStreamValueCount<1>(const uint8_t*, size_t, size_t&) noexcept;
template bool SGStreamValueCount<3>(const uint8_t*, size_t, size_t&) noexcept;
