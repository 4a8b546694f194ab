#include "codecs/sg_compressor.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>

#include "codecs/entropy_coder.h"
#include "diag/log.h"
#include "util/alloc.h"
#include "util/nothrow_new.h"

// Quantised values are decoded in place in the caller's float array: tokens
// are expanded into it as integers, the differencing is undone there with
// wrap-around (unsigned) additions, and each integer is finally replaced by
// its float. The array is seen as integers through this aliasing type.
using Word = uint32_t __attribute__((may_alias));

// Grid passes also come in 256- and 512-bit kernels, chosen at run time.
// Not on Windows: GCC cannot align the stack there for spills of vectors
// wider than 16 bytes.
#if defined(__x86_64__) && !defined(_WIN32)
#define KOR_SG_WIDE_KERNELS 1
#else
#define KOR_SG_WIDE_KERNELS 0
#endif

namespace {

constexpr size_t kMaxValues = static_cast<size_t>(std::numeric_limits<ptrdiff_t>::max()) / 8;

struct SingleHeader {
    uint8_t form = 0;
    size_t count = 0;
    size_t dims[3] = {0, 0, 0};
    float value = 0;  // constant form
    float scale = 0;
    float offset = 0;
    int32_t base = 0;
    unsigned passes = 0;
    const uint8_t* payload = nullptr;  // raw values, or the entropy block
    size_t payloadSize = 0;
};

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

// --- Undoing the differencing and converting.
//
// One differencing pass with start index s adds, along each axis in turn,
// every element at index >= s to its successor's running sum:
// w[i] += w[i - 1] for i = s .. dims[a] - 1. Integer additions wrap the same
// in any order, so the axes of a pass are undone together, row by row.

struct Reconstruct {
    float r;       // 1 / scale, single precision
    float offset;  // the value of q = 0
    // (float)q * r + offset, never fused (the library builds with -ffp-contract=off).
    uint32_t operator()(uint32_t q) const noexcept {
        const float v = static_cast<float>(static_cast<int32_t>(q)) * r + offset;
        return std::bit_cast<uint32_t>(v);
    }
};

// to may be from itself.
void Convert(const Word* from, Word* to, size_t n, Reconstruct rec) noexcept {
    for (size_t i = 0; i < n; ++i) to[i] = rec(from[i]);
}
void ConvertInPlace(Word* w, size_t n, Reconstruct rec) noexcept { Convert(w, w, n, rec); }

// --- Grids, streamed.
//
// Tokens are expanded a few rows at a time into a small staging buffer, as
// integers, and every pass then runs over each of those rows while they are
// in cache; the last pass writes the final floats to the destination. So
// the destination is written once and nothing as large as the grid is
// needed besides it.
//
// Pass p (start index p) is, per row: along axis 0 a running sum from index
// p - 1 on (earlier values pass through); along axis 1 the row plus the
// axis-1 sums of the rows above, from row p on; along axis 2 that plus the
// same pass's result for the same row of the previous slice, from slice p
// on. So each pass keeps a row of axis-1 sums and the slice it finished
// last; a pass that never reaches a row (slice) p keeps no row (slice).
// Those are always less than the grid, and staging is at most the grid and
// 32 values: a 256^3 grid with one pass needs 257 KiB, and 64 KiB of
// staging.

// Where one pass over one row reads and writes. `source` is the row as the
// pass before left it (the expanded tokens for the first pass) and is only
// read. `result` is the pass's row of its kept slice, which holds the
// previous slice's values until this row overwrites them, or else the
// staged row itself. `rowSums` holds the axis-1 sums, `out` receives the
// final floats. Rows may coincide: every value is read before its own index
// is written.
struct PassRow {
    const Word* source;
    Word* result;
    uint32_t* rowSums;
    float* out;
    size_t nx;
    size_t start;
};

// Vectors of L 32-bit lanes.
template <size_t L>
struct VectorTypes;
template <>
struct VectorTypes<4> {
    using Unsigned = uint32_t __attribute__((vector_size(16)));
    using Signed = int32_t __attribute__((vector_size(16)));
    using Float = float __attribute__((vector_size(16)));
};
template <>
struct VectorTypes<8> {
    using Unsigned = uint32_t __attribute__((vector_size(32)));
    using Signed = int32_t __attribute__((vector_size(32)));
    using Float = float __attribute__((vector_size(32)));
};
template <>
struct VectorTypes<16> {
    using Unsigned = uint32_t __attribute__((vector_size(64)));
    using Signed = int32_t __attribute__((vector_size(64)));
    using Float = float __attribute__((vector_size(64)));
};

// What a pass does with its results besides keeping them: nothing (a pass
// before the last), or write the final floats, with ordinary stores or with
// streaming stores, which go to memory without first reading each line into
// the cache. For a grid much larger than the caches that saves a read of
// the whole destination: 9.1 ms instead of 11.4 for a 256^3 grid.
enum Output { kKeepOnly, kFloats, kStreamedFloats };

// Streaming stores need a whole aligned vector; elsewhere they are plain ones.
#if defined(__x86_64__)
constexpr bool kHasStreamingStores = true;
#else
constexpr bool kHasStreamingStores = false;
#endif

// Grids of 16 MiB or more (SGGridTuning) have their floats written with
// streaming stores: a grid that size does not stay in the last-level cache
// of most machines, so ordinary stores would only evict the rest.
std::atomic<size_t> gStreamedValues{SGGridTuning{}.streamedValues};

// Streaming stores are weakly ordered: they must be fenced before the
// channel is handed to other threads.
inline void StreamingStoresDone() noexcept {
#if defined(__x86_64__)
    asm volatile("sfence" ::: "memory");
#endif
}

// `to` is aligned to the vector. Clang has a builtin for any vector type;
// GCC, whose x86 builtins exist only in functions compiled for their
// instruction set, gets the instruction itself (its operand constraints
// are checked only once the body is inlined into such a function).
template <size_t L, class F>
[[gnu::always_inline]] inline void StoreStreaming(float* to, const F& f) noexcept {
#if defined(__clang__)
    __builtin_nontemporal_store(f, reinterpret_cast<F*>(to));
#elif defined(__x86_64__)
    if constexpr (L == 4)
        asm("movntps %1, %0" : "=m"(*reinterpret_cast<F*>(to)) : "x"(f));
    else if constexpr (L == 8)
        asm("vmovntps %1, %0" : "=m"(*reinterpret_cast<F*>(to)) : "x"(f));
    else
        asm("vmovntps %1, %0" : "=m"(*reinterpret_cast<F*>(to)) : "v"(f));
#else
    std::memcpy(to, &f, sizeof f);
#endif
}

// The vector helpers and row bodies below are always inlined into a function
// compiled for their vector width, and take vectors by reference only: a
// vector passed by value between functions of different targets would
// change the calling convention.

// In-register running sum of the L lanes of x: log2 L shifted adds.
template <size_t L, class U>
[[gnu::always_inline]] inline void ScanLanes(U& x) noexcept {
    const U zero = {};
    if constexpr (L == 4) {
        x += __builtin_shufflevector(zero, x, 0, 4, 5, 6);
        x += __builtin_shufflevector(zero, x, 0, 1, 4, 5);
    } else if constexpr (L == 8) {
        x += __builtin_shufflevector(zero, x, 0, 8, 9, 10, 11, 12, 13, 14);
        x += __builtin_shufflevector(zero, x, 0, 1, 8, 9, 10, 11, 12, 13);
        x += __builtin_shufflevector(zero, x, 0, 1, 2, 3, 8, 9, 10, 11);
    } else {
        x += __builtin_shufflevector(zero, x, 0, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30);
        x += __builtin_shufflevector(zero, x, 0, 1, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29);
        x += __builtin_shufflevector(zero, x, 0, 1, 2, 3, 16, 17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27);
        x += __builtin_shufflevector(zero, x, 0, 1, 2, 3, 4, 5, 6, 7, 16, 17, 18, 19, 20, 21, 22, 23);
    }
}

// The reconstruction in every lane, made once per row: built inside the
// loop, the compiler assembles it lane by lane on every turn.
template <size_t L>
struct ReconstructLanes {
    typename VectorTypes<L>::Float scale, offset;
    explicit ReconstructLanes(Reconstruct rec) noexcept {
        for (size_t l = 0; l < L; ++l) {
            scale[l] = rec.r;
            offset[l] = rec.offset;
        }
    }
};

// Converts the L integers of x and writes the floats at to.
template <size_t L, Output Out, class U>
[[gnu::always_inline]] inline void WriteFloats(float* to, const U& x, const ReconstructLanes<L>& rec) noexcept {
    using S = typename VectorTypes<L>::Signed;
    using F = typename VectorTypes<L>::Float;
    // (float)q * r + offset in single precision, never fused; (S)x reinterprets the lanes.
    const F f = __builtin_convertvector((S)x, F) * rec.scale + rec.offset;
    if (Out == kStreamedFloats)
        StoreStreaming<L>(to, f);
    else
        std::memcpy(to, &f, sizeof f);
}

// Adds a row of integers at `at` to x, lane by lane.
template <class U>
[[gnu::always_inline]] inline void AddRow(U& x, const Word* at) noexcept {
    U row;
    std::memcpy(&row, at, sizeof row);
    x += row;
}

// One cell of a pass, given the value its running sum (or the head) gives.
template <bool AddRows, bool AddSlice, bool Convert>
[[gnu::always_inline]] inline void PassCell(size_t i, uint32_t a, Word* result, uint32_t* rowSums, float* out,
                                            Reconstruct rec) noexcept {
    if (AddRows) a += rowSums[i];
    rowSums[i] = a;
    if (AddSlice) a += result[i];
    result[i] = a;
    if (Convert) out[i] = std::bit_cast<float>(rec(a));
}

// The pass over one row, L lanes at a time.
template <size_t L, bool AddRows, bool AddSlice, Output Out>
[[gnu::always_inline]] inline void PassRowBody(const PassRow& row, Reconstruct rec) noexcept {
    constexpr bool Convert = Out != kKeepOnly;
    using U = typename VectorTypes<L>::Unsigned;
    // Locals, not the struct's fields: the rows are written through an
    // aliasing type, after which fields would be reloaded.
    const Word* const source = row.source;
    Word* const result = row.result;
    uint32_t* const rowSums = row.rowSums;
    float* const out = row.out;
    const size_t nx = row.nx;
    const size_t head = std::min(row.start - 1, nx);
    size_t i = 0;
    for (; i < head; ++i) PassCell<AddRows, AddSlice, Convert>(i, source[i], result, rowSums, out, rec);

    // The running sum L lanes at a time: each vector is scanned in-register
    // and offset by the carry, so the serial dependency is one add and one
    // broadcast per L values.
    uint32_t sum = 0;
    // Streaming stores start where the destination is aligned to a vector.
    if (Out == kStreamedFloats)
        for (; i < nx && reinterpret_cast<uintptr_t>(out + i) % (4 * L) != 0; ++i)
            PassCell<AddRows, AddSlice, Convert>(i, sum += source[i], result, rowSums, out, rec);
    const U zero = {};
    const ReconstructLanes<L> lanes(rec);
    U carry = zero + sum;
    for (; i + L <= nx; i += L) {
        U x;
        std::memcpy(&x, source + i, sizeof x);
        ScanLanes<L>(x);
        x += carry;
        carry = zero + x[L - 1];
        if (AddRows) AddRow(x, rowSums + i);
        std::memcpy(rowSums + i, &x, sizeof x);
        if (AddSlice) AddRow(x, result + i);
        std::memcpy(result + i, &x, sizeof x);
        if (Convert) WriteFloats<L, Out>(out + i, x, lanes);
    }
    sum = carry[0];
    for (; i < nx; ++i) PassCell<AddRows, AddSlice, Convert>(i, sum += source[i], result, rowSums, out, rec);
}

using PassRowFunction = void (*)(const PassRow&, Reconstruct) noexcept;
struct PassRowTable {
    PassRowFunction pass[2][2][3];  // [adds rows][adds the slice][output]
};

// The kernels of one vector width, compiled for it.
struct Kernels128 {
    template <bool AddRows, bool AddSlice, Output Out>
    static void Pass(const PassRow& row, Reconstruct rec) noexcept {
        PassRowBody<4, AddRows, AddSlice, Out>(row, rec);
    }
};
#if KOR_SG_WIDE_KERNELS
struct Kernels256 {
    template <bool AddRows, bool AddSlice, Output Out>
    [[gnu::target("avx2")]] static void Pass(const PassRow& row, Reconstruct rec) noexcept {
        PassRowBody<8, AddRows, AddSlice, Out>(row, rec);
    }
};
struct Kernels512 {
    template <bool AddRows, bool AddSlice, Output Out>
    [[gnu::target("avx512f")]] static void Pass(const PassRow& row, Reconstruct rec) noexcept {
        PassRowBody<16, AddRows, AddSlice, Out>(row, rec);
    }
};
#endif

template <class K, bool AddRows, bool AddSlice>
constexpr void FillOutputs(PassRowFunction (&to)[3]) {
    to[kKeepOnly] = K::template Pass<AddRows, AddSlice, kKeepOnly>;
    to[kFloats] = K::template Pass<AddRows, AddSlice, kFloats>;
    to[kStreamedFloats] = K::template Pass<AddRows, AddSlice, kStreamedFloats>;
}
template <class K>
constexpr PassRowTable MakePassRowTable() {
    PassRowTable table{};
    FillOutputs<K, false, false>(table.pass[0][0]);
    FillOutputs<K, false, true>(table.pass[0][1]);
    FillOutputs<K, true, false>(table.pass[1][0]);
    FillOutputs<K, true, true>(table.pass[1][1]);
    return table;
}
constexpr PassRowTable kPassRow128 = MakePassRowTable<Kernels128>();
#if KOR_SG_WIDE_KERNELS
constexpr PassRowTable kPassRow256 = MakePassRowTable<Kernels256>();
constexpr PassRowTable kPassRow512 = MakePassRowTable<Kernels512>();
#endif

std::atomic<int> gVectorBitsLimit{SGGridTuning{}.vectorBits};

// The widest kernels this processor runs, within the limit tests may set.
const PassRowTable& PassRowKernels() noexcept {
    const int limit = gVectorBitsLimit.load(std::memory_order_relaxed);
#if KOR_SG_WIDE_KERNELS
    // Initialised here too, in case a host calls in before the run-time's
    // own initialisers have run.
    static const bool has512 = (__builtin_cpu_init(), __builtin_cpu_supports("avx512f"));
    static const bool has256 = (__builtin_cpu_init(), __builtin_cpu_supports("avx2"));
    if (limit >= 512 && has512) return kPassRow512;
    if (limit >= 256 && has256) return kPassRow256;
#endif
    (void)limit;
    return kPassRow128;
}

// Values expanded per piece: 64 KiB, which stay in the second-level cache
// while the passes run over them. Pieces of 16 KiB, which would stay in the
// first-level cache, measured about 1 ms slower on a 256^3 grid.
constexpr size_t kPieceValues = 16384;

// `destinationValues`: the size of the whole destination, of which this
// grid may be one zone.
bool DecodeGrid(const SingleHeader& h, EntropyCoder& coder, float* out, Reconstruct rec,
                size_t destinationValues) noexcept {
    const size_t nx = h.dims[0], ny = h.dims[1], nz = h.dims[2];
    const size_t passes = h.passes;
    const size_t sliceSize = nx * ny;
    const size_t keptSlices = std::min(passes, nz - 1);
    const size_t keptRowSums = std::min(passes, ny - 1);
    // Rows up to a piece long are expanded into a small staging buffer;
    // longer ones in the destination itself.
    const bool staged = nx <= kPieceValues;
    const size_t rows = ny * nz;
    const size_t pieceRows = std::max<size_t>(1, kPieceValues / nx);
    const size_t stageValues = staged ? std::min(pieceRows, rows) * nx + EntropyCoder::kExpandSlack : 0;
    // Kept slices, kept rows, one row that passes keeping none write to,
    // and the staging buffer.
    const size_t workValues =
        (passes == 0 ? 0 : keptSlices * sliceSize + (keptRowSums + 1) * nx) + stageValues;
    Word* work = nullptr;
    if (workValues != 0) {
        work = static_cast<Word*>(ZUtils::AllocBytes(workValues * sizeof(Word)));
        if (work == nullptr) {
            LogPrint("Can't allocate %d MB for decompression", static_cast<int>((workValues * sizeof(Word)) >> 20));
            return false;
        }
    }
    Word* const slices = work;                               // pass p's slice at (p - 1) * sliceSize
    uint32_t* const rowSums = work + keptSlices * sliceSize;  // pass p's row at (p - 1) * nx
    Word* const stage = staged ? work + workValues - stageValues : nullptr;
    const PassRowTable& kernels = PassRowKernels();
    // Streaming stores for a grid larger than most caches, and only where
    // the floats do not replace the integers in place.
    const bool streamed =
        kHasStreamingStores && staged && destinationValues >= gStreamedValues.load(std::memory_order_relaxed);
    const Output lastOutput = streamed ? kStreamedFloats : kFloats;

    bool ok = coder.BeginExpand(h.count, h.base);
    size_t j = 0, k = 0;  // the row's coordinates along axes 1 and 2
    for (size_t first = 0; ok && first < rows; first += pieceRows) {
        const size_t count = std::min(pieceRows, rows - first);
        float* const destination = out + first * nx;
        Word* const piece = staged ? stage : reinterpret_cast<Word*>(destination);
        // The expansion may scribble a little past the piece: into the
        // staging buffer's slack, or into rows of the destination that are
        // expanded next.
        const size_t slack = staged ? EntropyCoder::kExpandSlack : (rows - first - count) * nx;
        ok = coder.ExpandNext(reinterpret_cast<AliasedInt32*>(piece), count * nx, slack);
        if (!ok) break;
        if (passes == 0) {
            Convert(piece, reinterpret_cast<Word*>(destination), count * nx, rec);
            continue;
        }
        for (size_t r = 0; r < count; ++r) {
            PassRow row;
            row.source = piece + r * nx;
            row.out = destination + r * nx;
            row.nx = nx;
            for (size_t p = passes; p >= 1; --p) {
                const bool keepsSlice = p <= keptSlices;
                row.start = p;
                row.result = keepsSlice ? slices + (p - 1) * sliceSize + j * nx : piece + r * nx;
                row.rowSums = rowSums + (p <= keptRowSums ? p - 1 : keptRowSums) * nx;
                kernels.pass[j >= p][keepsSlice && k >= p][p == 1 ? lastOutput : kKeepOnly](row, rec);
                row.source = row.result;
            }
            if (++j == ny) {
                j = 0;
                ++k;
            }
        }
    }
    if (streamed) StreamingStoresDone();
    ZUtils::FreeBytes(work);
    return ok;
}

// --- Grids, axis by axis.
//
// Hostile streams ask for up to 255 passes over narrow rows, where the
// streamed decoder spends its time in a call per row and pass. The passes
// along different axes add along different indices, so they commute (with
// wrap-around additions too): this decoder undoes every pass along axis 0,
// then along axis 1, then along axis 2, in place in the destination, with
// no work memory. A pass whose start index is past an axis leaves it alone.
//
// Along one axis a block (one index of every higher axis) is `length`
// layers of `stride` contiguous cells (a layer: one index along the axis),
// and pass k adds each layer from k on to the one below:
// w[i] += w[i - stride] for i from k * stride to the end of the block.

using Lanes = VectorTypes<4>::Unsigned;
inline Lanes LoadLanes(const Word* from) noexcept {
    Lanes x;
    std::memcpy(&x, from, sizeof x);
    return x;
}
inline void StoreLanes(Word* to, Lanes x) noexcept { std::memcpy(to, &x, sizeof x); }

// w[i] += w[i - stride] for i in [from, to), rising: each value adds the one
// below it as this loop left it (from >= stride).
inline void AddLayersRising(Word* w, size_t from, size_t to, size_t stride) noexcept {
    size_t i = from;
    if (stride == 1) {
        uint32_t sum = w[from - 1];
        for (; i < to; ++i) w[i] = sum += w[i];
        return;
    }
    // Four at a time when the four values read lie below the four written
    // and are therefore final.
    if (stride >= 4)
        for (; i + 4 <= to; i += 4) StoreLanes(w + i, LoadLanes(w + i) + LoadLanes(w + i - stride));
    for (; i < to; ++i) w[i] += w[i - stride];
}

// w[i] += w[i - stride] for i in [from, to), falling: each value adds the one
// below it as it was before the loop (from >= stride). Values are read
// before anything at or below them is written, for any stride.
inline void AddLayersFalling(Word* w, size_t from, size_t to, size_t stride) noexcept {
    size_t i = to;
    while (i - from >= 4) {
        i -= 4;
        StoreLanes(w + i, LoadLanes(w + i) + LoadLanes(w + i - stride));
    }
    while (i > from) {
        --i;
        w[i] += w[i - stride];
    }
}

// Cells that one step of a wave must at least cover (see UndoAxis).
constexpr size_t kWaveCells = 16;

// Undoes passes 1..passes along one axis of a block.
inline void UndoAxis(Word* w, size_t stride, size_t length, size_t passes) noexcept {
    const size_t p = std::min(passes, length - 1);
    if (p == 0) return;
    if (p == 1 || p * stride < kWaveCells) {
        for (size_t k = p; k >= 1; --k) AddLayersRising(w, k * stride, length * stride, stride);
        return;
    }
    // A wave, so that all passes run over a window of p + 1 layers while it
    // is in cache: pass k reaches layer z at step z + p - k, one layer after
    // it reached z - 1 and one step after pass k + 1 left z. So step t adds
    // layers t - p + 1 .. t (pass 1 .. p), each to the layer below as the
    // step before left it: one falling loop over contiguous cells.
    for (size_t t = p; t < length - 1 + p; ++t) {
        const size_t top = std::min(t, length - 1);
        AddLayersFalling(w, (t - p + 1) * stride, (top + 1) * stride, stride);
    }
}

bool DecodeAxisMajor(const SingleHeader& h, EntropyCoder& coder, float* out, Reconstruct rec) noexcept {
    if (!coder.DecodeAndExpand(reinterpret_cast<AliasedInt32*>(out), h.count, h.base)) return false;
    Word* const w = reinterpret_cast<Word*>(out);
    const size_t nx = h.dims[0], ny = h.dims[1], nz = h.dims[2];
    const size_t passes = h.passes;
    const size_t sliceSize = nx * ny;
    if (passes != 0) {
        // Axes 0 and 1 a slice at a time, while it is in cache.
        for (size_t k = 0; k < nz; ++k) {
            Word* const slice = w + k * sliceSize;
            if (nx > 1)
                for (size_t j = 0; j < ny; ++j) UndoAxis(slice + j * nx, 1, nx, passes);
            if (ny > 1) UndoAxis(slice, nx, ny, passes);
        }
        if (nz > 1) UndoAxis(w, sliceSize, nz, passes);
    }
    ConvertInPlace(w, h.count, rec);
    return true;
}

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
        return DecodeGrid(grid, coder, out, rec, destinationValues);
    return DecodeAxisMajor(grid, coder, out, rec);
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

// Zoned: Z, Z output offsets, Z input offsets (from the end of the tables),
// then the zone streams. Every zone is checked before anything is decoded;
// the cells that no zone covers are cleared, the rest are left to the zones.
template <int D>
bool SGCompressor<D>::DecompressZoned(float* out, size_t outCount) noexcept {
    uint16_t zoneCount = 0;
    if (!ReadBytes(&zoneCount, 2)) return false;
    const size_t count = zoneCount;
    const uint8_t* outputOffsets = cursor_.Current();
    if (!cursor_.Skip(count * 4)) return false;
    const uint8_t* inputOffsets = cursor_.Current();
    if (!cursor_.Skip(count * 4)) return false;
    const uint8_t* area = cursor_.Current();
    const size_t areaSize = cursor_.Remaining();

    ZoneEntry* zones = nullptr;
    uint32_t* order = nullptr;
    if (count != 0 && (!newArray(zones, count) || !newArray(order, count))) {
        deleteArray(zones);
        return false;
    }
    bool ok = true;
    for (size_t z = 0; z < count && ok; ++z) {
        int32_t outputOffset = 0, inputOffset = 0;
        std::memcpy(&outputOffset, outputOffsets + 4 * z, 4);
        std::memcpy(&inputOffset, inputOffsets + 4 * z, 4);
        ZoneEntry& e = zones[z];
        // A zone is a single stream (zones do not nest) that lies inside the
        // record and whose values fit the destination from its offset on.
        ok = outputOffset >= 0 && inputOffset >= 0 && static_cast<size_t>(inputOffset) <= areaSize &&
             static_cast<size_t>(outputOffset) <= outCount;
        if (!ok) break;
        e.outputOffset = static_cast<size_t>(outputOffset);
        e.input = area + inputOffset;
        e.inputSize = areaSize - static_cast<size_t>(inputOffset);
        ok = SGSingleValueCount<D>(e.input, e.inputSize, e.valueCount) &&
             e.valueCount <= outCount - e.outputOffset;
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

void SGSetGridTuning(const SGGridTuning& tuning) noexcept {
    gVectorBitsLimit.store(tuning.vectorBits, std::memory_order_relaxed);
    gStreamedValues.store(tuning.streamedValues, std::memory_order_relaxed);
}

template class SGCompressor<1>;
template class SGCompressor<3>;
template bool SGDecodeSingle<1>(const uint8_t*, size_t, float*, size_t, size_t&, size_t) noexcept;
template bool SGDecodeSingle<3>(const uint8_t*, size_t, float*, size_t, size_t&, size_t) noexcept;
template bool SGSingleValueCount<1>(const uint8_t*, size_t, size_t&) noexcept;
template bool SGSingleValueCount<3>(const uint8_t*, size_t, size_t&) noexcept;
