// Seed corpora of the plug-in targets: .vdb files written by OpenVDB (every
// imported value type, half floats, each compression, tiles, and a grid of a
// type the module does not import). The Field3D targets take the
// sample files of tests/data/f3d (run.sh copies them).
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "vdb_test_writer.h"

using VdbTest::Fill;
using VdbTest::GridSpec;
using VdbTest::ValueType;
using VdbTest::Voxel;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_DIR\n", argv[0]);
        return 2;
    }
    const std::filesystem::path root = argv[1];
    std::vector<std::string> files;
    const ValueType types[] = {ValueType::Float, ValueType::HalfFloat, ValueType::Double, ValueType::Vec3f,
                               ValueType::Vec3d, ValueType::Int32};
    // None, zip, zip + active mask, blosc, blosc + active mask, OpenVDB's default.
    const int compressions[] = {0, 1, 3, 4, 6, VdbTest::kDefaultCompression};
    int n = 0;
    for (int compression : compressions)
        for (ValueType type : types) {
            GridSpec g;
            g.name = "density";
            g.type = type;
            g.background[0] = 0.25;
            g.fills.push_back(Fill{{0, 0, 0}, {7, 7, 15}, {1, 2, 3}});
            for (int i = 0; i < 24; ++i) g.voxels.push_back(Voxel{9 + i % 5, i % 3, i % 7, {i * 0.5, 1, -1}});
            GridSpec second = g;
            second.name = "vel";
            second.type = ValueType::Vec3f;
            second.rotateZDegrees = (n % 2) ? 30 : 0;
            for (const char* dir : {"fuzz_vdb_walk", "fuzz_vdb_read"}) {
                std::filesystem::create_directories(root / dir);
                const std::string path = (root / dir / ("seed_" + std::to_string(n) + ".vdb")).string();
                if (!VdbTest::WriteVdb(path, {g, second}, compression)) return 1;
            }
            ++n;
        }
    return 0;
}
