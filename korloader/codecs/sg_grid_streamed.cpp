// The streamed grid decoder and its vector kernels (DecodeGridStreamed of
// sg_quantised.h), and the tuning that tests set (SGSetGridTuning).
#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "codecs/sg_compressor.h"
#include "codecs/sg_quantised.h"
#include "codecs/vector_width.h"
#include "diag/log.h"
#include "util/alloc.h"

namespace KorSparseGrid {
namespace {

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

// The adds and stores of one pass for the L cells from i, given their
// running sums x (which become the pass's results).
template <size_t L, bool AddRows, bool AddSlice, Output Out, class U>
[[gnu::always_inline]] inline void FinishLanes(size_t i, U& x, Word* result, uint32_t* rowSums, float* out,
                                               const ReconstructLanes<L>& lanes) noexcept {
    if (AddRows) AddRow(x, rowSums + i);
    std::memcpy(rowSums + i, &x, sizeof x);
    if (AddSlice) AddRow(x, result + i);
    std::memcpy(result + i, &x, sizeof x);
    if (Out != kKeepOnly) WriteFloats<L, Out>(out + i, x, lanes);
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
    const size_t head = std::min(row.start - 1, nx);  // cells the running sum passes through

    // The running sum L lanes at a time: each vector is scanned in-register
    // and offset by the carry, so the serial dependency is one add per
    // vector: the vector's own total is broadcast beside it, not after the
    // carry is added. Vectors start where the destination is aligned to
    // one, which the work rows are laid out to share: streaming stores need
    // it, and a vector that straddles two cache lines costs two accesses.
    const U zero = {};
    const ReconstructLanes<L> lanes(rec);
    U carry = zero;
    size_t i = 0;
    if (nx >= L && head < L && reinterpret_cast<uintptr_t>(out) % (4 * L) == 0) {
        // An aligned row (the library's own channel arrays) starts with a
        // whole vector whose head lanes keep their values out of the sum.
        U laneIndex;
        for (size_t l = 0; l < L; ++l) laneIndex[l] = static_cast<uint32_t>(l);
        const U headLanes = (U)(laneIndex < zero + static_cast<uint32_t>(head));
        U x;
        std::memcpy(&x, source, sizeof x);
        U summed = x & ~headLanes;
        ScanLanes<L>(summed);
        carry = zero + summed[L - 1];
        summed += x & headLanes;
        FinishLanes<L, AddRows, AddSlice, Out>(0, summed, result, rowSums, out, lanes);
        i = L;
    } else {
        for (; i < head; ++i) PassCell<AddRows, AddSlice, Convert>(i, source[i], result, rowSums, out, rec);
        uint32_t sum = 0;
        for (; i < nx && reinterpret_cast<uintptr_t>(out + i) % (4 * L) != 0; ++i)
            PassCell<AddRows, AddSlice, Convert>(i, sum += source[i], result, rowSums, out, rec);
        carry += sum;
    }
    for (; i + L <= nx; i += L) {
        U x;
        std::memcpy(&x, source + i, sizeof x);
        ScanLanes<L>(x);
        const U total = zero + x[L - 1];
        x += carry;
        carry += total;
        FinishLanes<L, AddRows, AddSlice, Out>(i, x, result, rowSums, out, lanes);
    }
    uint32_t sum = carry[0];
    for (; i < nx; ++i) PassCell<AddRows, AddSlice, Convert>(i, sum += source[i], result, rowSums, out, rec);
}

// The floats of n expanded tokens of a stream without passes, L lanes at a
// time; `from` may be `to` itself.
template <size_t L, Output Out>
[[gnu::always_inline]] inline void ConvertBody(const Word* from, float* to, size_t n, Reconstruct rec) noexcept {
    if constexpr (Out == kStreamedFloats) {
        if (reinterpret_cast<uintptr_t>(to) % (4 * L) != 0) {
            ConvertBody<L, kFloats>(from, to, n, rec);
            return;
        }
    }
    using U = typename VectorTypes<L>::Unsigned;
    const ReconstructLanes<L> lanes(rec);
    size_t i = 0;
    for (; i + L <= n; i += L) {
        U x;
        std::memcpy(&x, from + i, sizeof x);
        WriteFloats<L, Out>(to + i, x, lanes);
    }
    for (; i < n; ++i) to[i] = std::bit_cast<float>(rec(from[i]));
}

using PassRowFunction = void (*)(const PassRow&, Reconstruct) noexcept;
using ConvertFunction = void (*)(const Word*, float*, size_t, Reconstruct) noexcept;
struct PassRowTable {
    PassRowFunction pass[2][2][3];  // [adds rows][adds the slice][output]
    ConvertFunction convert[2];     // [streamed]
};

// The kernels of one vector width, compiled for it.
struct Kernels128 {
    template <bool AddRows, bool AddSlice, Output Out>
    static void Pass(const PassRow& row, Reconstruct rec) noexcept {
        PassRowBody<4, AddRows, AddSlice, Out>(row, rec);
    }
    template <Output Out>
    static void Convert(const Word* from, float* to, size_t n, Reconstruct rec) noexcept {
        ConvertBody<4, Out>(from, to, n, rec);
    }
};
#if KOR_WIDE_VECTORS
struct Kernels256 {
    template <bool AddRows, bool AddSlice, Output Out>
    [[gnu::target("avx2")]] static void Pass(const PassRow& row, Reconstruct rec) noexcept {
        PassRowBody<8, AddRows, AddSlice, Out>(row, rec);
    }
    template <Output Out>
    [[gnu::target("avx2")]] static void Convert(const Word* from, float* to, size_t n, Reconstruct rec) noexcept {
        ConvertBody<8, Out>(from, to, n, rec);
    }
};
struct Kernels512 {
    template <bool AddRows, bool AddSlice, Output Out>
    [[gnu::target("avx512f")]] static void Pass(const PassRow& row, Reconstruct rec) noexcept {
        PassRowBody<16, AddRows, AddSlice, Out>(row, rec);
    }
    template <Output Out>
    [[gnu::target("avx512f")]] static void Convert(const Word* from, float* to, size_t n, Reconstruct rec) noexcept {
        ConvertBody<16, Out>(from, to, n, rec);
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
    table.convert[0] = K::template Convert<kFloats>;
    table.convert[1] = K::template Convert<kStreamedFloats>;
    return table;
}
constexpr PassRowTable kPassRow128 = MakePassRowTable<Kernels128>();
#if KOR_WIDE_VECTORS
constexpr PassRowTable kPassRow256 = MakePassRowTable<Kernels256>();
constexpr PassRowTable kPassRow512 = MakePassRowTable<Kernels512>();
#endif

std::atomic<int> gVectorBitsLimit{SGGridTuning{}.vectorBits};

// The widest kernels this processor runs, within the limit tests may set.
const PassRowTable& PassRowKernels() noexcept {
#if KOR_WIDE_VECTORS
    const int bits = VectorBitsUpTo(gVectorBitsLimit.load(std::memory_order_relaxed));
    if (bits == 512) return kPassRow512;
    if (bits == 256) return kPassRow256;
#endif
    return kPassRow128;
}

// Values expanded per piece: 64 KiB, which stay in the second-level cache
// while the passes run over them. Pieces of 16 KiB, which would stay in the
// first-level cache, measured about 1 ms slower on a 256^3 grid.
constexpr size_t kPieceValues = 16384;

// Values per cache line, and the work layout that keeps its rows on the
// same lines as the destination's.
constexpr size_t kLineValues = 64 / sizeof(Word);
constexpr size_t RoundUpToLine(size_t values) noexcept { return (values + kLineValues - 1) / kLineValues * kLineValues; }

// The first value of block (which has kLineValues to spare) that lies at the
// same offset from a cache line as `like`.
Word* AlignedLike(Word* block, const float* like) noexcept {
    const uintptr_t lag = (reinterpret_cast<uintptr_t>(like) - reinterpret_cast<uintptr_t>(block)) % 64;
    return lag % sizeof(Word) == 0 ? block + lag / sizeof(Word) : block;
}

}  // namespace

bool DecodeGridStreamed(const SingleHeader& h, EntropyCoder& coder, float* out, Reconstruct rec,
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
    // and the staging buffer. Each starts at the same offset from a cache
    // line as the destination does, so that the rows of all of them align
    // with the destination's rows wherever a slice holds whole lines. Kept
    // slices lie two lines more than a slice apart: a slice of whole pages
    // would put the same row of every pass's slice at the same offset in a
    // page, and the processor then takes a load from one for a load of what
    // a store to another has not yet written (0.16 ns a cell in 1.16 with
    // 4 passes).
    const size_t sliceStride = RoundUpToLine(sliceSize) + 2 * kLineValues, rowStride = RoundUpToLine(nx);
    const size_t slicesValues = passes == 0 ? 0 : keptSlices * sliceStride;
    const size_t rowSumsValues = passes == 0 ? 0 : (keptRowSums + 1) * rowStride;
    const size_t workValues = slicesValues + rowSumsValues + stageValues;
    void* block = nullptr;
    Word* work = nullptr;
    if (workValues != 0) {
        const size_t blockBytes = (workValues + kLineValues) * sizeof(Word);
        block = ZUtils::AllocBytes(blockBytes);
        if (block == nullptr) {
            LogPrint("Can't allocate %d MB for decompression", static_cast<int>(blockBytes >> 20));
            return false;
        }
        work = AlignedLike(static_cast<Word*>(block), out);
    }
    Word* const slices = work;                                // pass p's slice at (p - 1) * sliceStride
    uint32_t* const rowSums = work + slicesValues;             // pass p's row at (p - 1) * rowStride
    Word* const stage = staged ? work + slicesValues + rowSumsValues : nullptr;
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
            kernels.convert[streamed](piece, destination, count * nx, rec);
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
                row.result = keepsSlice ? slices + (p - 1) * sliceStride + j * nx : piece + r * nx;
                row.rowSums = rowSums + (p <= keptRowSums ? p - 1 : keptRowSums) * rowStride;
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
    ZUtils::FreeBytes(block);
    return ok;
}

}  // namespace KorSparseGrid

void SGSetGridTuning(const SGGridTuning& tuning) noexcept {
    KorSparseGrid::gVectorBitsLimit.store(tuning.vectorBits, std::memory_order_relaxed);
    KorSparseGrid::gStreamedValues.store(tuning.streamedValues, std::memory_order_relaxed);
}
