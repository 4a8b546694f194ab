// From a Field3D file and a channel mapping to one dense grid: the mapped
// layers are placed by their voxel indices on one grid covering the union of
// their data windows (0 elsewhere), and the grid transform comes from the
// first mapped layer's mapping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "f3d_file.h"
#include "f3d_types.h"
#include "korloader/korloader.h"

namespace F3d {

struct ChannelMapping {
    const char* layer = nullptr;
    int channel = 0;
    float scale = 1.0f;  // multiplies the layer's values
};

// Receives the grid. Channel arrays come from NewChannel, zero-filled, and
// belong to the receiver from then on (also when the import fails later).
class FrameSink {
public:
    virtual ~FrameSink() = default;
    virtual float* NewChannel(int channel, size_t cells) = 0;  // null when allocation fails
    virtual void SetGrid(const int32_t dims[3], const float transform[12]) = 0;
};

// Layer names for a listing: bare names, the first partition's layer kept
// when a name appears in several; `vector` tells the layers of three
// components.
struct ListedLayer {
    std::string name;
    bool vector = false;
};
Code ListFile(const char* path, std::vector<ListedLayer>& out);

// Imports the mapped layers of `path` into `sink`.
//
// A mapping whose layer is not in the file is passed over (a sequence's
// mapping names the layers of all its frames); when none is there the result
// is kNoMappedLayer. Channels outside 0..30 and the packed colour channel 18
// are passed over. When several mappings target one channel the first wins.
// A vector layer mapped to velocity x (4) or colour red (7) fills that
// channel and the next two; mapped to any other channel it gives the length
// of its vectors. Values are multiplied by the mapping's scale.
Code ImportFile(const char* path, const ChannelMapping* mappings, int count, FrameSink& sink);

// The frame transform for a grid whose first cell is the voxel `first`:
// axis vectors a, b, c (one voxel step along x, y, z in world space) and the
// world position o of the centre of the first cell, so that the centre of
// cell (i, j, k) lies at o + i a + j b + k c.
void GridTransform(const Layer& layer, const int64_t first[3], float transform[12]) noexcept;

}  // namespace F3d
