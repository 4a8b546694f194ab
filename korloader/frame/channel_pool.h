// The pool of channel arrays: the arrays of frames given back, kept for the
// next frame of the same grid size, so that sequence playback decodes into
// memory already faulted in instead of fresh pages.
//
// The arrays of Take start on a cache line and go back through Give only:
// the pool keeps or frees them. Only arrays the library decodes itself come
// from the pool; arrays that import modules make keep their own
// new[]/delete[], and so do those of MakeArray.
// What the pool keeps is bounded (kDefaultBoundBytes, or the environment
// variable KORLOADER_CHANNEL_POOL_MB read at the first use) and freed when
// the library is unloaded. Safe on many threads.
//
// Large arrays the library makes for channels ask for transparent huge pages
// (util/huge_pages.h).
#pragma once
#include <cstddef>
#include <cstdint>

namespace ChannelPool {

constexpr int64_t kDefaultBoundBytes = int64_t{512} << 20;
constexpr int kMaxKept = 16;

// A new float[values] (contents undefined), advised onto huge pages when it
// is large and huge pages are on. Freed with delete[]. Null when memory is
// short.
float* MakeArray(size_t values) noexcept;

// An array of exactly `values` floats (contents undefined), aligned to 64
// bytes: a kept one of that count, else a new one. Null when memory is
// short. It goes back through Give, never to delete[].
float* Take(size_t values) noexcept;
// Gives back an array Take made for `values` floats: kept when the bound
// allows (the oldest kept arrays are freed to make room), else freed.
void Give(float* array, size_t values) noexcept;
// Frees every kept array.
void Drain() noexcept;

struct Stats {
    int64_t boundBytes = 0;
    int64_t keptBytes = 0;
    int32_t keptArrays = 0;
    int64_t reused = 0;  // Takes served by a kept array
    int64_t made = 0;    // Takes that made a new array
    bool hugePages = false;  // large arrays ask for huge pages
};
Stats GetStats() noexcept;
// Tests and tools: a bound in bytes (negative: back to the default or the
// environment's), applied to what is kept at once.
void SetBound(int64_t bytes) noexcept;

}  // namespace ChannelPool
