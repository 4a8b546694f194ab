// The five compression methods of particle channels. A channel's element
// array is `count` particles × `words` 32-bit words, particle-major (the words
// of particle i start at word i·words).
//
//   0  the element array as it is
//   1  one zlib block of the element array
//   2  one SGCompressor<1> stream of the element array read as floats
//   3  one SGCompressor<1> stream of the words reordered component-major:
//      t[j·count + i] = e[i·words + j]
//   4  one zlib block of the bit-plane array: 32·words planes of
//      P = ceil(count / 32) words; bit b of word j of particle i is bit
//      (i mod 32) of plane word [(32·j + b)·P + i / 32]
#pragma once
#include <cstddef>
#include <cstdint>

#include "jobs/mt_jobs.h"

template <int D>
class SGCompressor;

namespace KorParticles {

constexpr uint32_t kMethodPlain = 0;
constexpr uint32_t kMethodZip = 1;
constexpr uint32_t kMethodSparse = 2;
constexpr uint32_t kMethodSparseComponentMajor = 3;
constexpr uint32_t kMethodBitPlanes = 4;
constexpr uint32_t kHighestMethod = 4;

// Decodes the stored bytes of one channel into `elements`, which holds exactly
// count·words words (filled with zeros by the caller: a zlib block that ends
// early leaves the rest as it was). `decoder` is the channel's SGCompressor<1>
// state, made here on the first use by methods 2 and 3 and owned by the
// caller. Channels with no words per element are empty under every method.
// False when the method is unknown or the bytes do not decode; `elements`
// may then hold a partial result, which the caller discards.
bool DecodeParticleChannel(uint32_t method, const uint8_t* stored, size_t storedSize, int32_t count, int words,
                           SGCompressor<1>*& decoder, uint32_t* elements) noexcept;

// Whether the stored bytes can fill an element array of `elementBytes`,
// checked before the array is allocated: plain bytes must cover it and a
// sparse-grid stream must declare exactly its value count. (A zlib block's
// size is only known by inflating it.)
bool StoredBytesFit(uint32_t method, const uint8_t* stored, size_t storedSize, int64_t elementBytes) noexcept;

// Method 3's reorder: e[i·words + j] = t[j·count + i].
void ReorderComponentMajor(const uint32_t* componentMajor, int32_t count, int words, uint32_t* elements) noexcept;

// Method 4's rebuild for particles [begin, end), on whole words: each group
// of 32 particles and one element word is a 32 × 32 bit transpose. Plane
// words wholly inside the range are transposed with the widest vectors this
// processor has, up to `vectorBits` (512, 256 or 128; 0 for none), one plane
// word per 32-bit lane; the rest two at a time in the halves of 64-bit rows.
// Every width gives the same words.
void RebuildFromBitPlanes(const uint32_t* planes, int32_t count, int words, int64_t begin, int64_t end,
                          uint32_t* elements, int vectorBits = 512) noexcept;

// Method 4's rebuild as a job set: one work item per particle. Each item
// writes only its own particle's words and all read the shared planes, so
// the items may run in any order or at once.
class PRTIN : public MTJobs {
public:
    const char* GetName() override { return "MT PRTIN"; }
    void Rebuild(Job& job) { RebuildFromBitPlanes(planes, count, words, job.start, job.end, elements); }

    const uint32_t* planes = nullptr;
    int32_t count = 0;
    int words = 0;
    uint32_t* elements = nullptr;
};

}  // namespace KorParticles
