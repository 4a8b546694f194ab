// Internals of the sparse-grid decoder, shared by its three files: the
// stream and its zones (sg_compressor.cpp), the streamed grid decoder with
// its vector kernels (sg_grid_streamed.cpp) and the axis-by-axis grid
// decoder (sg_grid_axes.cpp). Nothing else includes this.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

#include "codecs/entropy_coder.h"
#include "codecs/vector_width.h"

namespace KorSparseGrid {

// Quantised values are decoded in place in the caller's float array: tokens
// are expanded into it as integers, the differencing is undone there with
// wrap-around (unsigned) additions, and each integer is finally replaced by
// its float. The array is seen as integers through this aliasing type.
using Word = uint32_t __attribute__((may_alias));

// The fields of a single stream (tag 0xFC01), as its parser reads them.
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

// Undoing the differencing and converting.
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
inline void Convert(const Word* from, Word* to, size_t n, Reconstruct rec) noexcept {
    for (size_t i = 0; i < n; ++i) to[i] = rec(from[i]);
}
inline void ConvertInPlace(Word* w, size_t n, Reconstruct rec) noexcept { Convert(w, w, n, rec); }

// The two decoders of a quantised grid. `h` has its axes of one cell
// dropped (dims[0] is the first longer axis; a flat array is one row) and
// `coder` is ready at its entropy block. Both expand h.count tokens plus
// h.base into `out` and undo h.passes differencing passes.
//
// Streamed: at least two long axes. `destinationValues` is the size of the
// whole destination, of which this grid may be one zone: large ones are
// written around the caches.
bool DecodeGridStreamed(const SingleHeader& h, EntropyCoder& coder, float* out, Reconstruct rec,
                        size_t destinationValues) noexcept;
// Axis by axis, in place, with no work memory: any shape and pass count.
bool DecodeGridAxisByAxis(const SingleHeader& h, EntropyCoder& coder, float* out, Reconstruct rec) noexcept;

}  // namespace KorSparseGrid
