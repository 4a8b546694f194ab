// The axis-by-axis grid decoder (DecodeGridAxisByAxis of sg_quantised.h).
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
#include <algorithm>
#include <cstring>

#include "codecs/sg_quantised.h"

namespace KorSparseGrid {
namespace {

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

}  // namespace

bool DecodeGridAxisByAxis(const SingleHeader& h, EntropyCoder& coder, float* out, Reconstruct rec) noexcept {
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

}  // namespace KorSparseGrid
