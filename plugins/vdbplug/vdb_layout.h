// The outer layout of a .vdb file (header, file metadata, grid descriptors)
// walked with every length and position checked against the file's size.
//
// OpenVDB reads these parts with unchecked stream reads: on a truncated or
// damaged file it goes on with whatever its variables held (string lengths,
// counts), which can mean huge allocations or long loops. The module walks
// the layout first and hands a file to OpenVDB only when every grid lies
// inside it. The walk also lists the grids without OpenVDB, so grids of
// value types this OpenVDB does not register are listed too.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "plugin_io/byte_source.h"

namespace VdbPlug {

struct GridRecord {
    std::string name;       // as the grid was named (the file's unique-name suffix removed)
    std::string uniqueName;  // as stored
    std::string type;       // e.g. "Tree_float_5_4_3", without "_HalfFloat"
    bool halfFloat = false;
    bool instance = false;  // shares the tree of another grid
    std::string parent;     // the stored name of that grid
    int64_t gridPos = 0, blockPos = 0, endPos = 0;
};

struct FileLayout {
    uint32_t fileVersion = 0;
    // False for files written to a stream: their descriptors are interleaved
    // with the grids, and OpenVDB reads every grid when it opens the file.
    // ReadLayout then walks every grid too, and refuses the file when one of
    // them is of a type the module does not import.
    bool hasGridOffsets = true;
    std::vector<GridRecord> grids;
};

// Returns kOk, kNoFile (cannot open) or kDamaged (not a VDB file, or a part
// of the layout runs past the end of the file or out of order).
int ReadLayout(const char* path, FileLayout& out) noexcept;
int ReadLayout(PluginIo::ByteSource& source, FileLayout& out) noexcept;

// The grid OpenVDB reads for `name` (a grid name, or "name[N]" for the N-th
// grid of that name), found the way OpenVDB finds it; null when none.
const GridRecord* FindGrid(const FileLayout& layout, const std::string& name);

// Walks a grid of the file (see vdb_walk.h): kOk when OpenVDB may read it,
// kDamaged when it is damaged, kNoGrid when its type is not one the module
// imports. An instance grid is walked together with the grid it shares.
int CheckGrid(PluginIo::ByteSource& source, const FileLayout& layout, const GridRecord& grid) noexcept;

// The value type named by a grid type: "Tree_vec3s_5_4_3" gives "vec3s".
std::string ValueTypeOf(const std::string& gridType);

// Scalar value types: float, double, half, int32, int64 (only the first
// three are imported).
bool IsScalarValueType(const std::string& valueType);

}  // namespace VdbPlug
