// The module's own walk over the bytes OpenVDB 10 reads for one grid: its
// compression word, metadata, transform, tree topology and leaf buffers, in
// the order and with the sizes OpenVDB reads them.
//
// OpenVDB 10 trusts what it reads there. A chunk's stored size is used to
// read into a leaf's buffer before it is compared with the buffer's size (a
// heap overflow on a damaged file); string and metadata lengths become
// allocations; blosc is handed compressed data whose header it believes. The
// walk checks every such field against the bytes that field must describe
// and against the bytes left in the grid's stretch of the file, and the
// module hands a grid to OpenVDB only when the walk accepts it.
#pragma once
#include <cstdint>
#include <string>

#include "vdb_cursor.h"

namespace VdbPlug {

// How the values of a tree type are stored: full size, and size when the grid
// was written with half floats.
struct ValueLayout {
    uint32_t size = 0;
    uint32_t halfSize = 0;
};

// The layout of the value types the module imports: float, double, vec3s and
// vec3d trees of the standard 5-4-3 configuration. False for any other type.
bool ImportedValueLayout(const std::string& gridType, ValueLayout& out);

// Oldest file version whose grids the walk knows (the per-grid compression
// word and the node-mask compression of OpenVDB 3 and later).
constexpr uint32_t kOldestWalkedVersion = 222;

// Walks a metadata map: a count, then name, type name, byte count and value
// each, with values of the registered fixed-size types read at their own size
// whatever the byte count says, as OpenVDB does (the walk insists that the
// count agrees). `savedAsHalf`, when given, receives what the map says about
// half floats ("is_saved_as_half_float"; false when absent).
bool WalkMetadata(Cursor& c, bool* savedAsHalf = nullptr) noexcept;

// Walks one grid from the cursor's position on (where its descriptor says its
// data begins). An instance grid stores no tree of its own. `halfFloat` is
// what the grid's descriptor says; the grid's metadata must say the same.
// False when any part would read past the cursor's end or a size field
// disagrees with the data it describes; the cursor then stands anywhere.
bool WalkGrid(Cursor& c, uint32_t fileVersion, const ValueLayout& value, bool halfFloat, bool instance) noexcept;

}  // namespace VdbPlug
