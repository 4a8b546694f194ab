// SGCompressor<D>: decoder of sparse-grid streams, arrays of floats laid out
// on a D-dimensional box (D = 3 for grid channels, 1 for flat arrays).
//
// A single stream (tag 0xFC01) holds raw floats, one constant, or quantised
// integers that were differenced P times along every axis, shifted by a base
// and entropy coded; value = (float)q * (1 / scale) + offset. A zoned stream
// (tag 0xFC02) is a table of independent single streams, each filling one
// contiguous run of the destination; the zones run as jobs of this set.
//
// Decoding is bounded on both sides: nothing is read past the stream's
// record and nothing is written outside the destination. Cells that no
// stream or zone writes are set to 0.
//
// sg_compressor.cpp reads the streams and zones; quantised grids are decoded
// by sg_grid_streamed.cpp (rows at a time, with vector kernels) or
// sg_grid_axes.cpp (axis by axis, in place).
#pragma once
#include <cstddef>
#include <cstdint>

#include "jobs/mt_jobs.h"
#include "util/byte_reader.h"
#include "util/iarray.h"

template <int D>
class SGCompressor : public MTJobs {
    static_assert(D == 1 || D == 3, "sparse-grid streams are flat arrays or grids");

public:
    static constexpr uint16_t kSingleTag = 0xFC01;
    static constexpr uint16_t kZonedTag = 0xFC02;
    enum Form : uint8_t { kRaw = 0, kConstant = 1, kQuantised = 2 };

    // One zone stream of a zoned stream, as found in its table.
    struct ZoneEntry {
        size_t outputOffset;  // first destination value
        size_t valueCount;    // values the zone declares
        const uint8_t* input;
        size_t inputSize;  // up to the end of the record
    };

    // The job that decodes a range of zones: where the zone being decoded
    // goes and comes from, and whether one of its zones failed.
    class Zone : public Job {
    public:
        float* destination = nullptr;
        const uint8_t* input = nullptr;
        size_t inputSize = 0;
        size_t valueCount = 0;
        bool failed = false;
    };

    SGCompressor() noexcept = default;
    ~SGCompressor() override;

    void ProcessJob(Job& job) override;
    const char* GetName() override { return "SGCompressor"; }
    Job* CreateJob() override;
    // Appends bytes to the output (the encoder's side; decoding leaves it empty).
    virtual bool AppendOutput(const void* bytes, int64_t size) noexcept;

    // Decodes the stream at source (sourceSize bytes) into out, which holds
    // outCount floats. False when the stream is not valid, would read past
    // its end or would write outside out.
    bool Decompress(const uint8_t* source, size_t sourceSize, float* out, size_t outCount) noexcept;

    // Copies size bytes from the read cursor and advances it; false (nothing
    // copied) when fewer remain.
    bool ReadBytes(void* to, int size) noexcept;

    const iArray<uint8_t, int64_t>& Output() const noexcept { return output_; }

private:
    bool DecompressZoned(float* out, size_t outCount) noexcept;

    // Read cursor over the stream being decoded.
    ZUtils::ByteReader cursor_;
    iArray<uint8_t, int64_t> output_{4};
    // The zones of the current pass and their destination, for ProcessJob.
    const ZoneEntry* zones_ = nullptr;
    float* zoneOut_ = nullptr;
    size_t zoneOutCount_ = 0;
};

// Decodes one single (0xFC01) stream of `size` bytes at `stream` into out.
// The stream may declare at most `room` values; `written` receives how many
// it declared (all of them written on success). Cells beyond are untouched.
// `destinationValues` is the size of the whole destination when the stream
// is one zone of it: large destinations are written around the caches.
template <int D>
bool SGDecodeSingle(const uint8_t* stream, size_t size, float* out, size_t room, size_t& written,
                    size_t destinationValues = 0) noexcept;

// Reads the value count of the single stream at `stream` without decoding.
template <int D>
bool SGSingleValueCount(const uint8_t* stream, size_t size, size_t& count) noexcept;

// The number of values the stream at `stream` fills, of either tag, without
// decoding: a single stream's own count; for a zoned stream the end of its
// furthest zone. False for a stream whose header or zone table Decompress
// would refuse whatever the destination.
template <int D>
bool SGStreamValueCount(const uint8_t* stream, size_t size, size_t& count) noexcept;

// How the grid decoder writes, process-wide; tests change it to reach every
// kernel and store on small grids. It runs its passes with the widest
// vectors the processor has, up to `vectorBits` (512, 256 or 128), and
// writes the floats of grids of `streamedValues` values or more with
// streaming stores.
struct SGGridTuning {
    int vectorBits = 512;
    size_t streamedValues = size_t(1) << 22;  // 16 MiB
};
void SGSetGridTuning(const SGGridTuning& tuning) noexcept;

extern template class SGCompressor<1>;
extern template class SGCompressor<3>;
