// VdbFile's OpenVDB side, shared by vdb_file.cpp (grids) and vdb_points.cpp.
#pragma once
#include <openvdb/openvdb.h>

#include "vdb_file.h"

namespace Kor2Vdb {

struct VdbFile::Impl {
    openvdb::math::Transform::Ptr transform;
    openvdb::GridPtrVec volumes;  // float and vector grids
    openvdb::GridPtrVec points;   // point data grids
    FrameMetadata metadata;
};

}  // namespace Kor2Vdb
