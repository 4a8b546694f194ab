#include "vdb_file.h"

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <openvdb/io/File.h>
#include <openvdb/tools/Prune.h>
#include <openvdb/tree/ValueAccessor.h>
#include <vector>

#include "vdb_file_impl.h"

namespace Kor2Vdb {

namespace {

using openvdb::Coord;
using openvdb::Index;
using openvdb::Vec3f;

openvdb::math::Transform::Ptr MakeTransform(const float t[12]) {
    // Row vectors: world = (i, j, k, 1) · M, rows a, b, c, o.
    openvdb::Mat4d m = openvdb::Mat4d::identity();
    for (int row = 0; row < 4; ++row)
        for (int k = 0; k < 3; ++k) m[row][k] = t[3 * row + k];
    return openvdb::math::Transform::createLinearTransform(m);
}

// Where the values of a voxel come from, and whether it is active.
struct ScalarSource {
    const float* values;
    float tolerance;
    float operator()(size_t cell) const { return values[cell]; }
    bool Active(float v) const { return !(std::fabs(v) <= tolerance); }  // NaN stays active
};

struct VectorSource {
    const float* x;
    const float* y;
    const float* z;
    float tolerance;
    Vec3f operator()(size_t cell) const { return Vec3f(x[cell], y[cell], z[cell]); }
    bool Active(const Vec3f& v) const {
        return !(std::fabs(v[0]) <= tolerance) || !(std::fabs(v[1]) <= tolerance) || !(std::fabs(v[2]) <= tolerance);
    }
};

// The tree of a dense grid, leaf by leaf. Every 8^3 block is read once
// (rows of 8 floats along x), transposed into a leaf's z-fastest order, and
// becomes a leaf, an active tile when all 512 voxels are active with the
// same bits, or nothing when none is active. Blocks are independent, so
// they are made in parallel and put into the tree afterwards, in order.
template <class TreeT, class Source>
typename TreeT::Ptr DenseToTree(const Source& source, const int dims[3]) {
    using LeafT = typename TreeT::LeafNodeType;
    using ValueT = typename TreeT::ValueType;
    constexpr int kDim = static_cast<int>(LeafT::DIM);
    static_assert(kDim == 8 && LeafT::SIZE == 512, "rows of 8 voxels, 512 per leaf");
    const ValueT background = openvdb::zeroVal<ValueT>();
    const int64_t nx = dims[0], ny = dims[1], nz = dims[2];
    const int64_t bx = (nx + kDim - 1) / kDim, by = (ny + kDim - 1) / kDim, bz = (nz + kDim - 1) / kDim;

    struct Block {
        std::unique_ptr<LeafT> leaf;
        bool tile = false;
        ValueT value{};
    };
    std::vector<Block> blocks(static_cast<size_t>(bx * by * bz));
    tbb::parallel_for(tbb::blocked_range<size_t>(0, blocks.size()), [&](const tbb::blocked_range<size_t>& range) {
        ValueT stage[LeafT::SIZE];
        typename LeafT::NodeMaskType mask;
        for (size_t b = range.begin(); b != range.end(); ++b) {
            const int64_t ib = static_cast<int64_t>(b);
            const int64_t x0 = ib % bx * kDim, y0 = ib / bx % by * kDim, z0 = ib / (bx * by) * kDim;
            const int xn = static_cast<int>(std::min<int64_t>(kDim, nx - x0));
            const int yn = static_cast<int>(std::min<int64_t>(kDim, ny - y0));
            const int zn = static_cast<int>(std::min<int64_t>(kDim, nz - z0));
            if (xn < kDim || yn < kDim || zn < kDim) std::fill(stage, stage + LeafT::SIZE, background);
            mask.setOff();
            Index active = 0;
            for (int z = 0; z < zn; ++z)
                for (int y = 0; y < yn; ++y) {
                    const size_t row = static_cast<size_t>(x0 + nx * (y0 + y) + nx * ny * (z0 + z));
                    for (int x = 0; x < xn; ++x) {
                        const ValueT v = source(row + static_cast<size_t>(x));
                        const Index n = (Index(x) << 6) | (Index(y) << 3) | Index(z);
                        if (source.Active(v)) {
                            stage[n] = v;
                            mask.setOn(n);
                            ++active;
                        } else {
                            stage[n] = background;
                        }
                    }
                }
            if (active == 0) continue;
            Block& block = blocks[b];
            if (active == LeafT::SIZE &&
                std::all_of(stage + 1, stage + LeafT::SIZE,
                            [&](const ValueT& v) { return std::memcmp(&v, &stage[0], sizeof(ValueT)) == 0; })) {
                block.tile = true;
                block.value = stage[0];
                continue;
            }
            block.leaf = std::make_unique<LeafT>(Coord(int(x0), int(y0), int(z0)), background, false);
            std::copy(stage, stage + LeafT::SIZE, block.leaf->buffer().data());
            block.leaf->setValueMask(mask);
        }
    });

    auto tree = std::make_shared<TreeT>(background);
    openvdb::tree::ValueAccessor<TreeT> access(*tree);
    for (size_t b = 0; b < blocks.size(); ++b) {
        if (blocks[b].leaf) {
            access.addLeaf(blocks[b].leaf.release());
        } else if (blocks[b].tile) {
            const int64_t ib = static_cast<int64_t>(b);
            const Coord origin(int(ib % bx * kDim), int(ib / bx % by * kDim), int(ib / (bx * by) * kDim));
            access.addTile(1, origin, blocks[b].value, true);
        }
    }
    // Tiles of equal value merge into larger ones; leaves stay as they are.
    openvdb::tools::pruneTiles(*tree, background);
    return tree;
}

template <class GridT, class Source>
typename GridT::Ptr MakeGrid(const Source& source, const int dims[3], const openvdb::math::Transform& transform,
                             const std::string& name) {
    typename GridT::Ptr grid = GridT::create(DenseToTree<typename GridT::TreeType>(source, dims));
    grid->setTransform(transform.copy());
    grid->setName(name);
    return grid;
}

void ApplyMetadata(openvdb::MetaMap& map, const FrameMetadata& m) {
    map.insertMeta("frame", openvdb::Int32Metadata(m.frame));
    map.insertMeta("time", openvdb::DoubleMetadata(m.time));
    if (!m.info.empty()) map.insertMeta("info", openvdb::StringMetadata(m.info));
}

uint32_t CompressionFlags(Compression c) {
    if (c == Compression::Default)
        c = openvdb::io::Archive::hasBloscCompression() ? Compression::Blosc : Compression::Zip;
    // Inactive voxels are background: the active mask alone says where they are.
    uint32_t flags = openvdb::io::COMPRESS_ACTIVE_MASK;
    if (c == Compression::Zip) flags |= openvdb::io::COMPRESS_ZIP;
    if (c == Compression::Blosc) flags |= openvdb::io::COMPRESS_BLOSC;
    return flags;
}

}  // namespace

std::string TransformProblem(const float t[12]) {
    for (int k = 0; k < 12; ++k)
        if (!std::isfinite(t[k])) return "its transform is not finite";
    try {
        const openvdb::math::Transform::Ptr transform = MakeTransform(t);
        const openvdb::Vec3d back = transform->worldToIndex(transform->indexToWorld(openvdb::Vec3d(1, 1, 1)));
        if (!std::isfinite(back[0] + back[1] + back[2])) return "its transform is singular";
    } catch (const std::exception&) {
        return "its transform is singular";
    }
    return "";
}

VdbFile::VdbFile(const float transform[12]) : impl_(std::make_unique<Impl>()) {
    openvdb::initialize();  // registers the grid and attribute types; once per process, thread-safe
    impl_->transform = MakeTransform(transform);
}

VdbFile::~VdbFile() = default;

uint64_t VdbFile::AddGrid(const std::string& name, int components, const float* const arrays[3], const int dims[3],
                          float tolerance, bool velocity) {
    openvdb::GridBase::Ptr grid;
    if (components == 3) {
        auto vectors = MakeGrid<openvdb::Vec3SGrid>(VectorSource{arrays[0], arrays[1], arrays[2], tolerance}, dims,
                                                    *impl_->transform, name);
        if (velocity) vectors->setVectorType(openvdb::VEC_CONTRAVARIANT_RELATIVE);
        grid = vectors;
    } else {
        auto scalars = MakeGrid<openvdb::FloatGrid>(ScalarSource{arrays[0], tolerance}, dims, *impl_->transform, name);
        scalars->setGridClass(openvdb::GRID_FOG_VOLUME);
        grid = scalars;
    }
    impl_->volumes.push_back(grid);
    return grid->activeVoxelCount();
}

bool VdbFile::Empty() const { return impl_->volumes.empty() && impl_->points.empty(); }

void VdbFile::SetMetadata(const FrameMetadata& metadata) { impl_->metadata = metadata; }

void VdbFile::Write(const std::string& path, Compression compression, bool half) const {
    openvdb::GridPtrVec grids;
    for (const openvdb::GridBase::Ptr& g : impl_->volumes) {
        g->setSaveFloatAsHalf(half);
        grids.push_back(g);
    }
    grids.insert(grids.end(), impl_->points.begin(), impl_->points.end());
    for (const openvdb::GridBase::Ptr& g : grids) ApplyMetadata(*g, impl_->metadata);
    openvdb::MetaMap fileMetadata;
    ApplyMetadata(fileMetadata, impl_->metadata);
    openvdb::io::File file(path);
    file.setCompression(CompressionFlags(compression));
    file.write(grids, fileMetadata);
    file.close();
}

}  // namespace Kor2Vdb
