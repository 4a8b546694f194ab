// Method 4's rebuild: 32 x 32 bit transposes of plane words into element
// words, in 64-bit rows and in vector kernels chosen at run time.
#include <cstring>
#include <utility>

#include "codecs/particle_methods.h"
#include "codecs/vector_width.h"

namespace KorParticles {
namespace {

// The transpose network, on rows of any unsigned type. Stage j exchanges the
// j-bit blocks of rows k and k | j whose bit j differs; `mask` keeps the
// columns whose bit j is clear inside each 32-bit half (or lane), so in 64-bit
// rows bits that a shift carries from one half into the other are always
// masked away.
template <class Row, class Mask>
[[gnu::always_inline]] inline void Transpose32(Row rows[32], Mask mask) noexcept {
    for (int j = 16; j != 0; j >>= 1, mask ^= mask << j) {
        for (int k = 0; k < 32; k = ((k | j) + 1) & ~j) {
            const Row t = ((rows[k] >> j) ^ rows[k | j]) & mask;
            rows[k | j] ^= t;
            rows[k] ^= t << j;
        }
    }
}

// Particles [begin, end) two plane words at a time, in the halves of 64-bit
// rows: any range, including the last, partial plane word.
void RebuildRows64(const uint32_t* planes, int64_t planeWords, int words, int64_t begin, int64_t end,
                   uint32_t* elements) noexcept {
    uint64_t block[32];
    for (int64_t q = begin / 32; q * 32 < end; q += 2) {
        const int64_t first = q * 32;
        const int64_t from = first > begin ? first : begin;
        const int64_t to = first + 64 < end ? first + 64 : end;
        const bool pair = q + 1 < planeWords;
        for (int j = 0; j < words; ++j) {
            // Row b: plane 32·j + b; after the transposes row i holds word j of
            // particle first + i (low half) and first + 32 + i (high half).
            const uint32_t* plane = planes + static_cast<int64_t>(32 * j) * planeWords + q;
            for (int b = 0; b < 32; ++b) {
                const uint32_t* row = plane + b * planeWords;
                block[b] = row[0] | (pair ? static_cast<uint64_t>(row[1]) << 32 : 0);
            }
            Transpose32(block, uint64_t{0x0000FFFF0000FFFFull});
            uint32_t* out = elements + j;
            for (int64_t i = from; i < to; ++i) {
                const int64_t at = i - first;
                out[i * words] = static_cast<uint32_t>(block[at & 31] >> (at & 32));
            }
        }
    }
}

// Plane words [q, q + groups·L), all whole, L at a time: lane l of row b is
// plane word q + l of plane 32·j + b, so each row is one load, and after the
// bit transposes lane l of row i is word j of particle 32·(q + l) + i. A
// second transpose, of 32-bit lanes between rows, then gathers L consecutive
// particles in each row, so the words go out in whole vectors: as they are for
// one word per particle, else through a small buffer per word and interleaved.
//
// The 32 planes of a word lie a whole plane apart, a multiple of 4 KiB for
// 2^17 particles or more, so the lines read from them fall into the same
// cache sets and evict one another: vectors narrower than a line would miss
// on every group. Those kernels first copy one line of each plane, kStepWords
// plane words, into a tile that the transposes then read; 512-bit rows read
// whole lines and load straight from the planes.
constexpr int64_t kStepWords = 16;  // one 64-byte line of each plane
constexpr int64_t kStepParticles = 32 * kStepWords;

template <size_t L>
using Lanes = typename VectorTypes<L>::Unsigned;

// The rows of one bit stage that have bit S of their index clear: the n-th of them.
constexpr int LowRow(int s, int n) noexcept { return ((n & ~(s - 1)) << 1) | (n & (s - 1)); }

// Stage S of the bit transposes, on pairs of rows k and k | S for the N-th k
// with bit S clear.
// Rows of 16 lanes take two shifts and two bit selects per pair (selects are
// one instruction there); narrower rows the three exclusive ors of the
// classic exchange, which they do in fewer instructions.
template <int S, uint32_t M, class V, int... N>
[[gnu::always_inline]] inline void BitStage(V rows[], std::integer_sequence<int, N...>) noexcept {
    auto exchange = [](V& a, V& b) {
        if constexpr (sizeof(V) == 64) {
            const V down = a >> S, up = b << S;
            // ((x ^ y) & m) ^ y picks x where m is set: one ternary logic op.
            a = ((a ^ up) & M) ^ up;
            b = ((down ^ b) & M) ^ b;
        } else {
            const V t = ((a >> S) ^ b) & M;
            b ^= t;
            a ^= t << S;
        }
    };
    (exchange(rows[LowRow(S, N)], rows[LowRow(S, N) | S]), ...);
}

// Lanes whose bit W is set in the low row take the high row's lanes below
// them, and the other way round: row-index bit log2(W) and lane-index bit
// log2(W) swap.
template <size_t L, int W, size_t... I>
[[gnu::always_inline]] inline void LaneExchange(Lanes<L>& a, Lanes<L>& b, std::index_sequence<I...>) noexcept {
    const Lanes<L> low = __builtin_shufflevector(a, b, ((I & W) ? L + I - W : I)...);
    const Lanes<L> high = __builtin_shufflevector(a, b, ((I & W) ? L + I : I + W)...);
    a = low;
    b = high;
}

template <size_t L, int W, int... N>
[[gnu::always_inline]] inline void LaneStage(Lanes<L> rows[16], std::integer_sequence<int, N...>) noexcept {
    (LaneExchange<L, W>(rows[LowRow(W, N)], rows[LowRow(W, N) | W], std::make_index_sequence<L>()), ...);
}

// Rows [h, h + 16) of a group: after the lane stages row k holds particles
// L·m .. L·m + L - 1 of the group, m as below.
template <size_t L, int H, int... K>
[[gnu::always_inline]] inline void StoreRows(const Lanes<L> rows[16], uint32_t* out,
                                             std::integer_sequence<int, K...>) noexcept {
    constexpr int logL = L == 16 ? 4 : L == 8 ? 3 : 2;
    ((std::memcpy(out + L * static_cast<size_t>(((H + K) >> logL) | (((H + K) & (L - 1)) << (5 - logL))), &rows[K],
                  sizeof(Lanes<L>))),
     ...);
}

// Rows [H, H + 16) after the stage that pairs them with the other half.
template <size_t L, int H>
[[gnu::always_inline]] inline void TransposeHalf(Lanes<L> rows[16], uint32_t* out) noexcept {
    const auto pairs = std::make_integer_sequence<int, 8>();
    BitStage<8, 0x00FF00FFu>(rows, pairs);
    BitStage<4, 0x0F0F0F0Fu>(rows, pairs);
    BitStage<2, 0x33333333u>(rows, pairs);
    BitStage<1, 0x55555555u>(rows, pairs);
    LaneStage<L, 1>(rows, pairs);
    LaneStage<L, 2>(rows, pairs);
    if constexpr (L >= 8) LaneStage<L, 4>(rows, pairs);
    if constexpr (L >= 16) LaneStage<L, 8>(rows, pairs);
    StoreRows<L, H>(rows, out, std::make_integer_sequence<int, 16>());
}

template <size_t L, int... B>
[[gnu::always_inline]] inline void LoadRows(Lanes<L> rows[32], const uint32_t* rowsIn, int64_t rowStride,
                                            std::integer_sequence<int, B...>) noexcept {
    (std::memcpy(&rows[B], rowsIn + B * rowStride, sizeof(Lanes<L>)), ...);
}

// One group: L plane words of 32 rows `rowStride` words apart, to 32·L
// particle-consecutive words at `out`. Only the first stage pairs rows of
// different halves, so each half then goes on alone, in half the registers.
template <size_t L>
[[gnu::always_inline]] inline void TransposeGroup(const uint32_t* rowsIn, int64_t rowStride, uint32_t* out) noexcept {
    Lanes<L> rows[32];
    LoadRows<L>(rows, rowsIn, rowStride, std::make_integer_sequence<int, 32>());
    BitStage<16, 0x0000FFFFu>(rows, std::make_integer_sequence<int, 16>());
    TransposeHalf<L, 0>(rows, out);
    TransposeHalf<L, 16>(rows + 16, out);
}

// Element words of `particles` particles (a multiple of L) from one buffer
// per word, `words` of 2 or 3, interleaved L particles at a time.
template <size_t L, size_t... I>
[[gnu::always_inline]] inline void Interleave2(const uint32_t* x, const uint32_t* y, int64_t particles, uint32_t* out,
                                               std::index_sequence<I...>) noexcept {
    for (int64_t p = 0; p < particles; p += static_cast<int64_t>(L)) {
        Lanes<L> a, b;
        std::memcpy(&a, x + p, sizeof a);
        std::memcpy(&b, y + p, sizeof b);
        const Lanes<L> o0 = __builtin_shufflevector(a, b, ((I & 1) ? L + I / 2 : I / 2)...);
        const Lanes<L> o1 = __builtin_shufflevector(a, b, ((I & 1) ? L + (L + I) / 2 : (L + I) / 2)...);
        std::memcpy(out + 2 * p, &o0, sizeof o0);
        std::memcpy(out + 2 * p + L, &o1, sizeof o1);
    }
}

// Output lane n of a run of three vectors is word n % 3 of particle n / 3.
template <size_t L, size_t C, size_t... I>
[[gnu::always_inline]] inline void Interleave3One(const Lanes<L>& x, const Lanes<L>& y, const Lanes<L>& z,
                                                 uint32_t* out, std::index_sequence<I...>) noexcept {
    // Words 0 and 1 first (the lanes of word 2 are taken as they come), then word 2.
    constexpr auto xyLane = [](size_t n) { return n % 3 == 0 ? n / 3 : n % 3 == 1 ? L + n / 3 : 0; };
    const Lanes<L> xy = __builtin_shufflevector(x, y, xyLane(C * L + I)...);
    const Lanes<L> o = __builtin_shufflevector(xy, z, ((C * L + I) % 3 == 2 ? L + (C * L + I) / 3 : I)...);
    std::memcpy(out + C * L, &o, sizeof o);
}

template <size_t L>
[[gnu::always_inline]] inline void Interleave3(const uint32_t* x, const uint32_t* y, const uint32_t* z,
                                               int64_t particles, uint32_t* out) noexcept {
    const auto lanes = std::make_index_sequence<L>();
    for (int64_t p = 0; p < particles; p += static_cast<int64_t>(L)) {
        Lanes<L> a, b, c;
        std::memcpy(&a, x + p, sizeof a);
        std::memcpy(&b, y + p, sizeof b);
        std::memcpy(&c, z + p, sizeof c);
        Interleave3One<L, 0>(a, b, c, out + 3 * p, lanes);
        Interleave3One<L, 1>(a, b, c, out + 3 * p, lanes);
        Interleave3One<L, 2>(a, b, c, out + 3 * p, lanes);
    }
}

template <size_t L>
[[gnu::always_inline]] inline void RebuildLanesBody(const uint32_t* planes, int64_t planeWords, int words, int64_t q,
                                                    int64_t groups, uint32_t* elements) noexcept {
    static_assert(kStepWords % L == 0, "a step holds whole groups");
    constexpr bool kTiled = L * sizeof(uint32_t) < 64;
    alignas(64) uint32_t tile[kTiled ? 32 : 1][kStepWords];
    alignas(64) uint32_t buffer[3][kStepParticles];
    const int64_t qEnd = q + groups * static_cast<int64_t>(L);
    for (; q < qEnd; q += kStepWords) {
        const int64_t stepWords = qEnd - q < kStepWords ? qEnd - q : kStepWords;
        const int64_t particles = 32 * stepWords;
        uint32_t* out = elements + q * 32 * words;
        for (int j = 0; j < words; ++j) {
            const uint32_t* plane = planes + static_cast<int64_t>(32 * j) * planeWords + q;
            uint32_t* to = words == 1 ? out : buffer[words <= 3 ? j : 0];
            // So many planes are read at once that the processor's own
            // prefetching loses track of them: ask for the next step's lines.
            if (q + kStepWords < qEnd)
                for (int b = 0; b < 32; ++b) __builtin_prefetch(plane + b * planeWords + kStepWords);
            if constexpr (kTiled) {
                // A copy of constant size is a few vector moves; a string move
                // of one line costs more to start than the line itself.
                if (stepWords == kStepWords)
                    for (int b = 0; b < 32; ++b) std::memcpy(tile[b], plane + b * planeWords, sizeof tile[b]);
                else
                    for (int b = 0; b < 32; ++b)
                        std::memcpy(tile[b], plane + b * planeWords, static_cast<size_t>(stepWords) * sizeof(uint32_t));
                for (int64_t t = 0; t < stepWords; t += static_cast<int64_t>(L))
                    TransposeGroup<L>(&tile[0][t], kStepWords, to + 32 * t);
            } else {
                TransposeGroup<L>(plane, planeWords, to);
            }
            if (words > 3)  // no channel has more than three words; kept general
                for (int64_t i = 0; i < particles; ++i) out[i * words + j] = buffer[0][i];
        }
        if (words == 2) Interleave2<L>(buffer[0], buffer[1], particles, out, std::make_index_sequence<L>());
        if (words == 3) Interleave3<L>(buffer[0], buffer[1], buffer[2], particles, out);
    }
}

using LanesFunction = void (*)(const uint32_t*, int64_t, int, int64_t, int64_t, uint32_t*) noexcept;

void RebuildLanes128(const uint32_t* planes, int64_t planeWords, int words, int64_t q, int64_t groups,
                     uint32_t* elements) noexcept {
    RebuildLanesBody<4>(planes, planeWords, words, q, groups, elements);
}
#if KOR_WIDE_VECTORS
[[gnu::target("avx2")]] void RebuildLanes256(const uint32_t* planes, int64_t planeWords, int words, int64_t q,
                                             int64_t groups, uint32_t* elements) noexcept {
    RebuildLanesBody<8>(planes, planeWords, words, q, groups, elements);
}
[[gnu::target("avx512f")]] void RebuildLanes512(const uint32_t* planes, int64_t planeWords, int words, int64_t q,
                                                int64_t groups, uint32_t* elements) noexcept {
    RebuildLanesBody<16>(planes, planeWords, words, q, groups, elements);
}
#endif

}  // namespace

void RebuildFromBitPlanes(const uint32_t* planes, int32_t count, int words, int64_t begin, int64_t end,
                          uint32_t* elements, int vectorBits) noexcept {
    if (begin < 0) begin = 0;
    if (end > count) end = count;
    if (words <= 0 || begin >= end) return;
    const int64_t planeWords = (static_cast<int64_t>(count) + 31) / 32;

    int64_t lanes = 0;
    LanesFunction kernel = nullptr;
    if (vectorBits >= 128) {
        const int bits = VectorBitsUpTo(vectorBits);
        lanes = bits / 32;
        kernel = RebuildLanes128;
#if KOR_WIDE_VECTORS
        if (bits == 512) kernel = RebuildLanes512;
        if (bits == 256) kernel = RebuildLanes256;
#endif
    }
    // The plane words whose 32 particles all lie in the range go to the
    // vector kernel; the particles before and after them to 64-bit rows.
    const int64_t firstWhole = (begin + 31) / 32;
    const int64_t groups = lanes > 0 ? (end / 32 - firstWhole) / lanes : 0;
    if (groups <= 0) {
        RebuildRows64(planes, planeWords, words, begin, end, elements);
        return;
    }
    const int64_t vectorBegin = firstWhole * 32;
    const int64_t vectorEnd = (firstWhole + groups * lanes) * 32;
    RebuildRows64(planes, planeWords, words, begin, vectorBegin, elements);
    kernel(planes, planeWords, words, firstWhole, groups, elements);
    RebuildRows64(planes, planeWords, words, vectorEnd, end, elements);
}

}  // namespace KorParticles
