// The vectors the codecs' kernels are written with: GCC vector types of L
// 32-bit lanes, and the widest width this processor runs, found at run time.
#pragma once
#include <cstddef>
#include <cstdint>

// Kernels also come in 256- and 512-bit widths on x86-64, compiled with
// [[gnu::target]] and chosen at run time. Not on Windows: GCC cannot align
// the stack there for spills of vectors wider than 16 bytes.
#if defined(__x86_64__) && !defined(_WIN32)
#define KOR_WIDE_VECTORS 1
#else
#define KOR_WIDE_VECTORS 0
#endif

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

// The widest vectors, in bits, that both this build's kernels and this
// processor have, and no wider than `limit`: 512, 256 or 128 (128-bit
// kernels are the baseline of every build).
int VectorBitsUpTo(int limit) noexcept;
