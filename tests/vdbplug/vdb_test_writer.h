// Writes .vdb files with OpenVDB for the module's tests and benchmark. The
// header names no OpenVDB type, so only vdb_test_writer.cpp includes it.
#pragma once
#include <string>
#include <vector>

namespace VdbTest {

enum class ValueType { Float, HalfFloat, Double, Vec3f, Vec3d, Int32, Bool };

struct Voxel {
    int x, y, z;
    double v[3];
};

// An active box of one value; OpenVDB stores aligned blocks as tiles.
struct Fill {
    int min[3], max[3];
    double v[3];
};

struct GridSpec {
    std::string name;
    ValueType type = ValueType::Float;
    double background[3] = {0, 0, 0};
    std::vector<Voxel> voxels;
    std::vector<Fill> fills;
    // Index to world: scale by voxelSize, rotate about z, then translate.
    double voxelSize[3] = {1, 1, 1};
    double rotateZDegrees = 0;
    double translation[3] = {0, 0, 0};
    bool frustum = false;  // a non-linear transform instead of the above
};

// OpenVDB's own default compression, for WriteVdb.
constexpr int kDefaultCompression = -1;

// Writes the grids in order, with `compression` (a mask of OpenVDB's
// io::COMPRESS_* flags) unless it is the default. False when OpenVDB refused
// (message on stderr).
bool WriteVdb(const std::string& path, const std::vector<GridSpec>& grids, int compression = kDefaultCompression);

// A fresh scratch directory under the system's temporary directory.
std::string MakeScratchDir(const std::string& tag);

}  // namespace VdbTest
