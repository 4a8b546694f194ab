// The OpenVDB side of the module: listing the grids of a .vdb file and
// densifying the mapped grids onto one box. This header does not include
// OpenVDB, so only vdb_reader.cpp pays for its templates.
//
// Nothing here throws: every OpenVDB or standard exception is caught inside
// and turned into one of the codes of vdb_codes.h.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "korloader/korloader.h"
#include "vdb_codes.h"

namespace VdbPlug {

// Largest dense box, in cells. Hosts address cells with 32-bit integers.
constexpr int64_t kMaxCells = INT32_MAX;

// Registers OpenVDB's grid types; safe to call any number of times. False
// when OpenVDB failed to initialise.
bool InitializeOpenVdb() noexcept;

struct GridEntry {
    std::string name;
    // True for grids that are not scalar: vectors, booleans, masks, points,
    // strings and any value type this module does not know.
    bool notScalar = false;
};

// Appends the grids of the file in file order (names as stored; duplicates
// are kept). Returns kOk, kNoFile, kDamaged or kInternal; on failure `out`
// keeps what it held before.
int ListGrids(const char* path, std::vector<GridEntry>& out) noexcept;

// One mapping of a grid name onto a channel; values are multiplied by scale.
struct Request {
    const char* name = nullptr;
    int channel = 0;
    float scale = 1.0f;
};

// How channel arrays are made and given back. `allocate` returns an array
// of `cells` floats, or null when memory runs out; it must not throw.
struct ChannelAllocator {
    float* (*allocate)(size_t cells) = nullptr;
    void (*release)(float* array) = nullptr;
};

struct DenseFrame {
    int32_t nx = 0, ny = 0, nz = 0;
    // Cell (i, j, k) maps to offset + i*a + j*b + k*c in world space.
    float transform[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    uint32_t channelMask = 0;
    float* channels[KOR_GRID_CHANNEL_COUNT] = {};
};

// Reads the grids named by the requests (and no other grid) and densifies
// them onto one box in the index space of the first imported grid: the box
// covers the union of the imported grids' active voxels; cells outside
// active voxels hold the grid's background. Grids whose transform differs
// from the first one's are resampled trilinearly onto it. A vector grid
// mapped to KOR_GRID_VELOCITY_X or KOR_GRID_COLOUR_R fills that channel and
// the next two. When two requests target one channel the first wins. A file
// whose mapped grids have no active voxel gives a single cell at index
// (0, 0, 0).
//
// On success `out` holds the arrays (made by `allocator`); on failure every
// array made here has been released and `out` is left as it came.
int ImportGrids(const char* path, const Request* requests, int count, const ChannelAllocator& allocator,
                DenseFrame& out) noexcept;

}  // namespace VdbPlug
