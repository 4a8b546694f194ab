// Value conversion and placement shared by both encodings: raw half, float
// and double values become floats and land in a DenseTarget.
#pragma once
#include <cstddef>
#include <cstdint>

#include "f3d_types.h"

namespace F3d {

size_t ValueBytes(ValueType type) noexcept;  // 2, 4, 8 (0 for Other)

// Converts n little-endian values of `type` at `raw` to floats.
void ConvertValues(ValueType type, const uint8_t* raw, size_t n, float* out) noexcept;

// Writes a layer's values in file order (x fastest, components interleaved)
// into a target, one run at a time.
class DenseWriter {
public:
    DenseWriter(const DenseTarget& target, const Box& dataWindow, int components) noexcept;
    // Values still expected.
    uint64_t Remaining() const noexcept { return remaining_; }
    // Takes up to Remaining() values; false if more are given.
    bool Put(const float* values, size_t n) noexcept;

private:
    void NextRow() noexcept;

    DenseTarget t_;
    int64_t sx_, sy_, sz_;
    int comps_;
    int64_t i_ = 0, j_ = 0, k_ = 0;
    int c_ = 0;
    int64_t row_ = 0;  // target index of (0, j, k)
    uint64_t remaining_;
};

// Sparse blocks: block (bi, bj, bk) of order `order` covers the voxels
// dataWindow.min + (bi, bj, bk) * 2^order + [0, 2^order)^3; voxels outside
// the data window are dropped.
struct BlockGeometry {
    Box dataWindow;
    int order = 0;
    int components = 1;
};
// `values` holds 2^(3*order) voxels (x fastest), components interleaved.
void PlaceBlock(const DenseTarget& target, const BlockGeometry& g, int64_t bi, int64_t bj, int64_t bk,
                const float* values) noexcept;
// Every voxel of the block gets `value` (one float per component).
void FillBlock(const DenseTarget& target, const BlockGeometry& g, int64_t bi, int64_t bj, int64_t bk,
               const float* value) noexcept;

// Block counts per axis for a data window: ceil(size / 2^order).
int64_t BlocksAlong(const Box& dataWindow, int axis, int order) noexcept;

}  // namespace F3d
