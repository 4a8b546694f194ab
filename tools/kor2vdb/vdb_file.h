// One OpenVDB file being put together: the grids made from a frame's dense
// channels, point data grids made from its particle groups, and the frame's
// metadata. OpenVDB's types stay behind this class, in the two files that
// implement it (grids in vdb_file.cpp, points in vdb_points.cpp).
#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "frame_metadata.h"
#include "options.h"
#include "particle_reader.h"

namespace Kor2Vdb {

// `transform`: the frame's twelve floats, axes a, b, c then offset o. ""
// when it can be an OpenVDB transform, else why not (not finite, singular).
std::string TransformProblem(const float transform[12]);

class VdbFile {
public:
    // Every grid of the file maps index (i, j, k) to o + i·a + j·b + k·c.
    // The transform must have passed TransformProblem().
    explicit VdbFile(const float transform[12]);
    ~VdbFile();
    VdbFile(const VdbFile&) = delete;
    VdbFile& operator=(const VdbFile&) = delete;

    // A grid from `components` (1 or 3) dense arrays of dims[0]·dims[1]·dims[2]
    // floats, cell (i, j, k) at i + nx·j + nx·ny·k; voxel (i, j, k) is that
    // cell. Voxels within `tolerance` of 0 (every component) stay inactive
    // background 0; the others keep their values bit for bit. A velocity
    // vector is contravariant-relative. Returns its active voxels. Uses
    // OpenVDB's threads (TBB), as many as its task scheduler allows.
    uint64_t AddGrid(const std::string& name, int components, const float* const arrays[3], const int dims[3],
                     float tolerance, bool velocity);

    // A point data grid named after the group: P in world space (from the
    // cell coordinates), every attribute as it is. Returns its points.
    uint64_t AddPoints(const ParticleGroupData& group);

    bool Empty() const;
    void SetMetadata(const FrameMetadata& metadata);

    // Writes the file (throws OpenVDB's exceptions on failure). `half`
    // stores the grids' floats as half.
    void Write(const std::string& path, Compression compression, bool half) const;

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

}  // namespace Kor2Vdb
