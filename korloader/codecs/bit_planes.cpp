// Method 4's rebuild: 32 x 32 bit transposes of plane words into element
// words, in 64-bit rows and in vector kernels chosen at run time.
#include <cstring>

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
// transposes lane l of row i is word j of particle 32·(q + l) + i.
//
// The 32 planes of a word lie a whole plane apart, a multiple of 4 KiB for
// 2^17 particles or more, so the lines read from them fall into the same
// cache sets and would evict one another long before the next group reads
// on. They are first copied, kTileWords plane words of each, into a tile
// that the transposes then read.
constexpr int64_t kTileWords = 128;  // 32 rows of 512 bytes: 16 KiB

template <size_t L>
[[gnu::always_inline]] inline void RebuildLanesBody(const uint32_t* planes, int64_t planeWords, int words, int64_t q,
                                                    int64_t groups, uint32_t* elements) noexcept {
    static_assert(kTileWords % L == 0, "a tile holds whole groups");
    using U = typename VectorTypes<L>::Unsigned;
    uint32_t tile[32][kTileWords];
    U rows[32];
    const int64_t qEnd = q + groups * static_cast<int64_t>(L);
    for (; q < qEnd; q += kTileWords) {
        const int64_t tileWords = qEnd - q < kTileWords ? qEnd - q : kTileWords;
        for (int j = 0; j < words; ++j) {
            const uint32_t* plane = planes + static_cast<int64_t>(32 * j) * planeWords + q;
            for (int b = 0; b < 32; ++b)
                std::memcpy(tile[b], plane + b * planeWords, static_cast<size_t>(tileWords) * sizeof(uint32_t));
            for (int64_t t = 0; t < tileWords; t += static_cast<int64_t>(L)) {
                for (int b = 0; b < 32; ++b) std::memcpy(&rows[b], &tile[b][t], sizeof(U));
                Transpose32(rows, uint32_t{0x0000FFFFu});
                uint32_t* out = elements + (q + t) * 32 * words + j;
                for (size_t l = 0; l < L; ++l)
                    for (int i = 0; i < 32; ++i) out[(32 * static_cast<int64_t>(l) + i) * words] = rows[i][l];
            }
        }
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
