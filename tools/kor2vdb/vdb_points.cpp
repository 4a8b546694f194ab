// VdbFile::AddPoints: a particle group as an OpenVDB point data grid.
#include <openvdb/points/PointAttribute.h>
#include <openvdb/points/PointConversion.h>
#include <openvdb/points/PointDataGrid.h>
#include <openvdb/tools/PointIndexGrid.h>

#include "vdb_file_impl.h"

namespace Kor2Vdb {

namespace {

using openvdb::points::PointAttributeVector;

template <class T>
void AddAttribute(openvdb::points::PointDataTree& tree, const openvdb::tools::PointIndexTree& index,
                  const std::string& name, const std::vector<T>& values) {
    openvdb::points::appendAttribute<T>(tree, name);
    openvdb::points::populateAttribute(tree, index, name, PointAttributeVector<T>(values));
}

std::vector<openvdb::Vec3f> Vec3s(const std::vector<float>& xyz) {
    std::vector<openvdb::Vec3f> out(xyz.size() / 3);
    for (size_t n = 0; n < out.size(); ++n) out[n] = openvdb::Vec3f(xyz[3 * n], xyz[3 * n + 1], xyz[3 * n + 2]);
    return out;
}

}  // namespace

uint64_t VdbFile::AddPoints(const ParticleGroupData& group) {
    const openvdb::math::Transform& transform = *impl_->transform;
    // Cell coordinates are the grids' index space: world = o + x·a + y·b + z·c.
    std::vector<openvdb::Vec3d> world(group.positions.size() / 3);
    for (size_t n = 0; n < world.size(); ++n)
        world[n] = transform.indexToWorld(
            openvdb::Vec3d(group.positions[3 * n], group.positions[3 * n + 1], group.positions[3 * n + 2]));

    const PointAttributeVector<openvdb::Vec3d> positions(world);
    const auto index = openvdb::tools::createPointIndexGrid<openvdb::tools::PointIndexGrid>(positions, transform);
    openvdb::points::PointDataGrid::Ptr grid =
        openvdb::points::createPointDataGrid<openvdb::points::NullCodec, openvdb::points::PointDataGrid>(
            *index, positions, transform);
    for (const ParticleAttribute& a : group.attributes) {
        switch (a.kind) {
            case ParticleAttribute::Kind::Float: AddAttribute(grid->tree(), index->tree(), a.name, a.floats); break;
            case ParticleAttribute::Kind::Vec3:
                AddAttribute(grid->tree(), index->tree(), a.name, Vec3s(a.floats));
                break;
            case ParticleAttribute::Kind::Int32: AddAttribute(grid->tree(), index->tree(), a.name, a.int32s); break;
            case ParticleAttribute::Kind::Int64: AddAttribute(grid->tree(), index->tree(), a.name, a.int64s); break;
        }
    }
    grid->setName(group.name);
    impl_->points.push_back(grid);
    return world.size();
}

}  // namespace Kor2Vdb
