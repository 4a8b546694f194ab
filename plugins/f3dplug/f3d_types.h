// Format-independent description of Field3D layers, shared by the Ogawa and
// HDF5 readers and the frame import.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

namespace F3d {

// Module result codes: 0 is success, every other value is handed by the
// library to its caller unchanged. They start at 10 so that they never read
// as one of the library's own load codes (2, 3, 4, 9).
enum Code : int {
    kOk = 0,
    kBadArguments = 10,      // null path, frame or list, or no mapping given
    kCannotOpen = 11,        // the file cannot be opened or read
    kNotField3D = 12,        // neither an Ogawa nor an HDF5 Field3D file
    kDamaged = 13,           // truncated or inconsistent structure or data
    kNoMappedLayer = 14,     // none of the mapped layers is in the file
    kUnsupportedLayer = 15,  // a mapped layer has a class, type or size this reader does not take
    kGridTooLarge = 16,      // the grid is above the cell limit below
    kOutOfMemory = 17,       // an allocation failed
    kInternal = 18,          // an unexpected failure was caught at the boundary
};

// The largest grid (in cells) the module builds: 2^30 cells, 4 GiB per
// channel. Sizes come from the file, so anything above this is refused
// before an allocation is attempted.
constexpr int64_t kMaxCells = int64_t{1} << 30;

struct Box {
    int32_t min[3] = {0, 0, 0};
    int32_t max[3] = {-1, -1, -1};
    bool Valid() const noexcept { return max[0] >= min[0] && max[1] >= min[1] && max[2] >= min[2]; }
    int64_t Size(int axis) const noexcept { return int64_t{max[axis]} - int64_t{min[axis]} + 1; }
    // 0 for an empty box; saturates at INT64_MAX (every size is below 2^33).
    int64_t Cells() const noexcept;
};

enum class Storage { Dense, Sparse, Other };
enum class ValueType { Half, Float, Double, Other };

// The local-to-world transform of a partition: Field3D's local space
// [0,1]^3 spans a layer's extents; the matrix is applied to row vectors,
// p_world = [x y z 1] * m, with the translation in the last row.
struct Mapping {
    bool matrix = false;  // false: the null mapping (local space is world space)
    double m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
};

struct Layer {
    std::string partition;  // on-disk partition group name ("smoke.0")
    std::string name;       // layer (attribute) name
    std::string className;  // "DenseField", "SparseField", ...
    Storage storage = Storage::Other;
    ValueType type = ValueType::Other;
    int components = 0;  // 1 scalar, 3 vector
    Box extents;
    Box dataWindow;
    Mapping mapping;
    uint64_t handle = 0;  // reader-specific location of the layer
    bool Vector() const noexcept { return components == 3; }
};

// Where a layer's values go: component c of the voxel (i, j, k), counted from
// the data window's minimum, is written to
// comp[c][(ox + i) + nx * (oy + j) + nx * ny * (oz + k)]. Every index that
// results is inside the arrays (the caller sizes them).
struct DenseTarget {
    float* comp[3] = {nullptr, nullptr, nullptr};
    int64_t nx = 0, ny = 0;
    int64_t ox = 0, oy = 0, oz = 0;
};

// Half (IEEE binary16) to float, exact for every value.
float HalfToFloat(uint16_t h) noexcept;

}  // namespace F3d
