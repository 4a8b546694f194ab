#include "vdb_test_writer.h"

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>

namespace VdbTest {
namespace {

openvdb::math::Transform::Ptr MakeTransform(const GridSpec& desc) {
    using openvdb::Vec3d;
    if (desc.frustum) {
        const openvdb::BBoxd box(Vec3d(0, 0, 0), Vec3d(63, 63, 63));
        return openvdb::math::Transform::createFrustumTransform(box, 0.5, 2.0, 0.1);
    }
    auto t = openvdb::math::Transform::createLinearTransform(1.0);
    t->preScale(Vec3d(desc.voxelSize[0], desc.voxelSize[1], desc.voxelSize[2]));
    if (desc.rotateZDegrees != 0) t->postRotate(desc.rotateZDegrees * M_PI / 180.0, openvdb::math::Z_AXIS);
    t->postTranslate(Vec3d(desc.translation[0], desc.translation[1], desc.translation[2]));
    return t;
}

template <class V>
V Value(const double* v);
template <>
float Value<float>(const double* v) { return static_cast<float>(v[0]); }
template <>
double Value<double>(const double* v) { return v[0]; }
template <>
int32_t Value<int32_t>(const double* v) { return static_cast<int32_t>(v[0]); }
template <>
bool Value<bool>(const double* v) { return v[0] != 0; }
template <>
openvdb::Vec3s Value<openvdb::Vec3s>(const double* v) {
    return openvdb::Vec3s(float(v[0]), float(v[1]), float(v[2]));
}
template <>
openvdb::Vec3d Value<openvdb::Vec3d>(const double* v) { return openvdb::Vec3d(v[0], v[1], v[2]); }

template <class GridT>
openvdb::GridBase::Ptr Make(const GridSpec& desc) {
    using V = typename GridT::ValueType;
    auto grid = GridT::create(Value<V>(desc.background));
    grid->setName(desc.name);
    grid->setTransform(MakeTransform(desc));
    for (const Fill& f : desc.fills)
        grid->tree().fill(openvdb::CoordBBox(openvdb::Coord(f.min[0], f.min[1], f.min[2]),
                                             openvdb::Coord(f.max[0], f.max[1], f.max[2])),
                          Value<V>(f.v), true);
    auto acc = grid->getAccessor();
    for (const Voxel& v : desc.voxels) acc.setValueOn(openvdb::Coord(v.x, v.y, v.z), Value<V>(v.v));
    return grid;
}

}  // namespace

bool WriteVdb(const std::string& path, const std::vector<GridSpec>& grids, int compression) {
    try {
        openvdb::initialize();
        openvdb::GridPtrVec out;
        for (const GridSpec& desc : grids) {
            switch (desc.type) {
            case ValueType::Float: out.push_back(Make<openvdb::FloatGrid>(desc)); break;
            case ValueType::HalfFloat:
                out.push_back(Make<openvdb::FloatGrid>(desc));
                out.back()->setSaveFloatAsHalf(true);
                break;
            case ValueType::Double: out.push_back(Make<openvdb::DoubleGrid>(desc)); break;
            case ValueType::Vec3f: out.push_back(Make<openvdb::Vec3SGrid>(desc)); break;
            case ValueType::Vec3d: out.push_back(Make<openvdb::Vec3DGrid>(desc)); break;
            case ValueType::Int32: out.push_back(Make<openvdb::Int32Grid>(desc)); break;
            case ValueType::Bool: out.push_back(Make<openvdb::BoolGrid>(desc)); break;
            }
        }
        openvdb::io::File file(path);
        if (compression != kDefaultCompression) file.setCompression(static_cast<uint32_t>(compression));
        file.write(out);
        file.close();
        return true;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "WriteVdb(%s): %s\n", path.c_str(), e.what());
        return false;
    }
}

std::string MakeScratchDir(const std::string& tag) {
    std::random_device rd;
    const auto dir = std::filesystem::temp_directory_path() /
                     ("vdbplug_" + tag + "_" + std::to_string(rd()) + std::to_string(rd()));
    std::filesystem::create_directories(dir);
    return dir.string();
}

}  // namespace VdbTest
