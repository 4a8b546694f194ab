// Listing and densifying OpenVDB grids. The only translation unit of the
// module that includes OpenVDB.
#include "vdb_reader.h"

#include "vdb_layout.h"

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/parallel_sort.h>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include <algorithm>
#include <type_traits>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

namespace VdbPlug {
namespace {

using openvdb::Coord;
using openvdb::CoordBBox;
using openvdb::Vec3d;
using openvdb::math::Transform;

// Index coordinates beyond this are refused before they reach a Coord, so
// no conversion from double can overflow.
constexpr double kCoordLimit = 1073741824.0;  // 2^30

enum class Kind { Unsupported, Float, Double, Vec3S, Vec3D };

Kind KindOf(const openvdb::GridBase& grid) {
    // Float grids stored as half come back as FloatGrid.
    if (grid.isType<openvdb::FloatGrid>()) return Kind::Float;
    if (grid.isType<openvdb::DoubleGrid>()) return Kind::Double;
    if (grid.isType<openvdb::Vec3SGrid>()) return Kind::Vec3S;
    if (grid.isType<openvdb::Vec3DGrid>()) return Kind::Vec3D;
    return Kind::Unsupported;
}

int ComponentsOf(Kind kind) { return (kind == Kind::Vec3S || kind == Kind::Vec3D) ? 3 : 1; }

// Component access for scalar and vector values, widened to double.
inline double Component(float v, int) { return v; }
inline double Component(double v, int) { return v; }
inline double Component(const openvdb::Vec3s& v, int c) { return v[c]; }
inline double Component(const openvdb::Vec3d& v, int c) { return v[c]; }

// The active voxels of a grid read, evaluated once.
struct ActiveVoxels {
    CoordBBox box;
    openvdb::Index64 count = 0;
};

// OpenVDB stores each grid's active bounding box and active voxel count in
// the grid's metadata when it writes a file (unless the writer turned grid
// statistics off). A tree read back with other active voxels has damaged
// coordinates or masks, and one damaged origin can stretch the dense box to
// billions of cells, which would be allocated and filled. True when the
// statistics are absent or agree with the tree.
bool StatisticsAgree(const openvdb::GridBase& grid, const ActiveVoxels& active) {
    using openvdb::GridBase;
    const auto count = grid.getMetadata<openvdb::Int64Metadata>(GridBase::META_FILE_VOXEL_COUNT);
    if (count && (count->value() < 0 || openvdb::Index64(count->value()) != active.count)) return false;
    const auto lo = grid.getMetadata<openvdb::Vec3IMetadata>(GridBase::META_FILE_BBOX_MIN);
    const auto hi = grid.getMetadata<openvdb::Vec3IMetadata>(GridBase::META_FILE_BBOX_MAX);
    return !(lo && hi) || (active.box.min().asVec3i() == lo->value() && active.box.max().asVec3i() == hi->value());
}

// One mapped grid, read and ready to densify.
struct Source {
    openvdb::GridBase::Ptr grid;
    ActiveVoxels active;  // in the grid's own index space
    Kind kind = Kind::Unsupported;
    int channel = 0;
    int components = 1;
    float scale = 1.0f;
    bool sameTransform = true;
    CoordBBox box;  // active voxels in the reference index space (may be empty)
};

// Destination of one source: the arrays of its components and the box.
struct Target {
    float* dst[3] = {};
    int components = 1;
    CoordBBox box;
    int64_t nx = 0, ny = 0;
    float scale = 1.0f;

    size_t Index(const Coord& c) const {
        return static_cast<size_t>((c.x() - box.min().x()) +
                                   nx * ((c.y() - box.min().y()) + ny * int64_t(c.z() - box.min().z())));
    }
    template <class V>
    void Put(size_t index, const V& value) const {
        for (int k = 0; k < components; ++k) dst[k][index] = static_cast<float>(Component(value, k) * scale);
    }
};

// The box of the active voxels of `grid`, mapped into the index space of
// `ref` when the transforms differ. False when the box lies beyond the
// coordinates a Coord can hold.
bool ActiveBoxIn(const openvdb::GridBase& grid, const CoordBBox& active, const Transform& ref, bool sameTransform,
                 CoordBBox& out) {
    out = active;
    if (out.empty() || sameTransform) return true;
    // The voxels' full extent (centres +- half a voxel), corner by corner.
    const Vec3d lo = out.min().asVec3d() - Vec3d(0.5), hi = out.max().asVec3d() + Vec3d(0.5);
    Vec3d mn(std::numeric_limits<double>::max()), mx(-std::numeric_limits<double>::max());
    for (int corner = 0; corner < 8; ++corner) {
        const Vec3d p((corner & 1) ? hi.x() : lo.x(), (corner & 2) ? hi.y() : lo.y(), (corner & 4) ? hi.z() : lo.z());
        const Vec3d r = ref.worldToIndex(grid.transform().indexToWorld(p));
        for (int k = 0; k < 3; ++k) {
            if (!std::isfinite(r[k])) return false;
            mn[k] = std::min(mn[k], r[k]);
            mx[k] = std::max(mx[k], r[k]);
        }
    }
    for (int k = 0; k < 3; ++k)
        if (mn[k] < -kCoordLimit || mx[k] > kCoordLimit) return false;
    // Reference cells whose centres fall inside; the tolerance keeps exact
    // boundaries from flickering with rounding.
    constexpr double eps = 1e-6;
    out = CoordBBox(Coord(int(std::ceil(mn[0] - eps)), int(std::ceil(mn[1] - eps)), int(std::ceil(mn[2] - eps))),
                    Coord(int(std::floor(mx[0] + eps)), int(std::floor(mx[1] + eps)), int(std::floor(mx[2] + eps))));
    return true;
}

// The box's cells in z-slabs: slab s holds the planes whose z lies in
// [8 (s + first), 8 (s + first) + 7], where `first` is the slab of the box's
// lowest plane. Leaves start at multiples of 8 in z, so every leaf lies in
// exactly one slab and slabs share no cell: each slab is a stretch of the
// arrays of its own that one task writes alone.
struct Slabs {
    int64_t first = 0, count = 0;
    int zMin = 0, zMax = 0;

    explicit Slabs(const CoordBBox& box)
        : first(box.min().z() >> 3), count((box.max().z() >> 3) - first + 1), zMin(box.min().z()),
          zMax(box.max().z()) {}
    int64_t Of(int z) const { return (z >> 3) - first; }
    // The box's planes of slabs [from, to).
    int Low(int64_t from) const { return int(std::max<int64_t>(zMin, (first + from) * 8)); }
    int High(int64_t to) const { return int(std::min<int64_t>(zMax, (first + to) * 8 - 1)); }
};

// A stretch of one grid's active values inside one slab: a leaf, or the part
// of a tile above the leaf level that lies in the slab.
template <class GridT>
struct Piece {
    using LeafT = typename GridT::TreeType::LeafNodeType;
    using ValueT = typename GridT::ValueType;
    int64_t slab = 0;
    const LeafT* leaf = nullptr;  // null for a tile
    CoordBBox box;                // a tile's cells in the slab, or the leaf's cube
    ValueT value{};               // a tile's value

    // Slab by slab, then row by row, so that a task writes its arrays nearly
    // in order and neighbouring leaves finish each other's cache lines.
    bool operator<(const Piece& o) const {
        if (slab != o.slab) return slab < o.slab;
        if (box.min().y() != o.box.min().y()) return box.min().y() < o.box.min().y();
        return box.min().x() < o.box.min().x();
    }
};

template <class GridT>
void PutTile(const Piece<GridT>& p, const Target& t) {
    for (int z = p.box.min().z(); z <= p.box.max().z(); ++z)
        for (int y = p.box.min().y(); y <= p.box.max().y(); ++y) {
            size_t index = t.Index(Coord(p.box.min().x(), y, z));
            for (int x = p.box.min().x(); x <= p.box.max().x(); ++x) t.Put(index++, p.value);
        }
}

#if defined(__SSE2__)
// A fully active float leaf into one array: for each y, 4 x 4 blocks of
// (x, z) transposed in registers, so the leaf is read in order and each row
// is written 4 floats at a time. The products are those of Put: a float
// times a float rounds the same in single as in double precision.
void PutFloatLeaf(const float* data, const Coord& origin, const Target& t) {
    float* const base = t.dst[0] + t.Index(origin);
    const size_t plane = size_t(t.nx) * size_t(t.ny);
    const __m128 scale = _mm_set1_ps(t.scale);
    for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 8; x += 4)
            for (int z = 0; z < 8; z += 4) {
                const float* from = data + (x * 8 + y) * 8 + z;
                __m128 r0 = _mm_loadu_ps(from), r1 = _mm_loadu_ps(from + 64), r2 = _mm_loadu_ps(from + 128),
                       r3 = _mm_loadu_ps(from + 192);
                _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
                float* to = base + size_t(y) * size_t(t.nx) + size_t(z) * plane + size_t(x);
                _mm_storeu_ps(to, _mm_mul_ps(r0, scale));
                _mm_storeu_ps(to + plane, _mm_mul_ps(r1, scale));
                _mm_storeu_ps(to + 2 * plane, _mm_mul_ps(r2, scale));
                _mm_storeu_ps(to + 3 * plane, _mm_mul_ps(r3, scale));
            }
}
#endif

template <class LeafT>
void PutLeaf(const LeafT& node, const Target& t) {
    constexpr int dim = int(LeafT::DIM);
    const auto& mask = node.getValueMask();
    const Coord origin = node.origin();
    const bool inside = t.box.isInside(CoordBBox::createCube(origin, dim));
#if defined(__SSE2__)
    if constexpr (std::is_same_v<typename LeafT::ValueType, float> && dim == 8) {
        if (mask.isOn() && inside && t.components == 1) {
            PutFloatLeaf(node.buffer().data(), origin, t);
            return;
        }
    }
#endif
    if (mask.isOn() && inside) {
        // Fully active leaf: gather its z-fastest buffer into x-fastest rows.
        const auto* data = node.buffer().data();
        for (int z = 0; z < dim; ++z)
            for (int y = 0; y < dim; ++y) {
                size_t index = t.Index(origin.offsetBy(0, y, z));
                for (int x = 0; x < dim; ++x) t.Put(index++, data[(x * dim + y) * dim + z]);
            }
        return;
    }
    for (auto v = node.cbeginValueOn(); v; ++v) {
        const Coord c = v.getCoord();
        if (inside || t.box.isInside(c)) t.Put(t.Index(c), *v);
    }
}

// Fills the planes [zLow, zHigh] of the box with the background.
template <class GridT>
void FillBackground(const GridT& grid, const Target& t, int zLow, int zHigh) {
    if (zLow > zHigh) return;
    const auto bg = grid.background();
    const size_t begin = t.Index(Coord(t.box.min().x(), t.box.min().y(), zLow));
    const size_t end = begin + size_t(t.nx) * size_t(t.ny) * size_t(int64_t(zHigh) - zLow + 1);
    for (int k = 0; k < t.components; ++k) {
        const float v = static_cast<float>(Component(bg, k) * t.scale);
        std::fill(t.dst[k] + begin, t.dst[k] + end, v);
    }
}

// At least this many cells per task, so that small grids stay on the
// calling thread and large ones split into a few slabs per task.
constexpr int64_t kCellsPerTask = int64_t(1) << 18;

// Same index space: the leaves and active tiles are written straight into
// the arrays, slab by slab on OpenVDB's task scheduler. Each slab task first
// writes the background over its own planes when `background` is set.
template <class GridT>
void CopyActive(const GridT& grid, const Target& t, bool background) {
    using TreeT = typename GridT::TreeType;
    using LeafT = typename TreeT::LeafNodeType;
    const TreeT& tree = grid.tree();
    const Slabs slabs(t.box);

    std::vector<Piece<GridT>> pieces;
    pieces.reserve(tree.leafCount());
    for (auto leaf = tree.cbeginLeaf(); leaf; ++leaf) {
        const LeafT& node = *leaf;
        if (node.getValueMask().isOff()) continue;
        Piece<GridT> p;
        p.leaf = &node;
        p.box = CoordBBox::createCube(node.origin(), int(LeafT::DIM));
        p.slab = slabs.Of(node.origin().z());
        pieces.push_back(p);
    }
    // Tiles live above the leaf level; stop the iterator there so that the
    // voxels themselves are not visited one by one. A tile spans up to 16
    // slabs: one piece for each.
    typename TreeT::ValueOnCIter tile = tree.cbeginValueOn();
    tile.setMaxDepth(TreeT::ValueOnCIter::LEAF_DEPTH - 1);
    for (; tile; ++tile) {
        CoordBBox tb;
        tile.getBoundingBox(tb);
        tb.intersect(t.box);
        if (tb.empty()) continue;
        for (int64_t s = slabs.Of(tb.min().z()), last = slabs.Of(tb.max().z()); s <= last; ++s) {
            Piece<GridT> p;
            p.slab = s;
            p.box = CoordBBox(Coord(tb.min().x(), tb.min().y(), std::max(tb.min().z(), slabs.Low(s))),
                              Coord(tb.max().x(), tb.max().y(), std::min(tb.max().z(), slabs.High(s + 1))));
            p.value = *tile;
            pieces.push_back(p);
        }
    }
    tbb::parallel_sort(pieces.begin(), pieces.end());

    const int64_t plane = t.nx * t.ny;
    const int64_t grain = std::max<int64_t>(1, kCellsPerTask / (plane * 8));
    tbb::parallel_for(tbb::blocked_range<int64_t>(0, slabs.count, size_t(grain)),
                      [&](const tbb::blocked_range<int64_t>& r) {
                          if (background) FillBackground(grid, t, slabs.Low(r.begin()), slabs.High(r.end()));
                          Piece<GridT> key;
                          key.slab = r.begin();
                          key.box = CoordBBox(Coord(std::numeric_limits<int>::min()), Coord(0));
                          for (auto p = std::lower_bound(pieces.begin(), pieces.end(), key);
                               p != pieces.end() && p->slab < r.end(); ++p) {
                              // The next leaf's values are on their way while this one is written.
                              if (p + 1 != pieces.end() && p[1].leaf) {
                                  const char* next = reinterpret_cast<const char*>(p[1].leaf->buffer().data());
                                  for (size_t at = 0; at < sizeof(typename GridT::ValueType) * LeafT::SIZE; at += 64)
                                      __builtin_prefetch(next + at);
                              }
                              if (p->leaf)
                                  PutLeaf(*p->leaf, t);
                              else
                                  PutTile(*p, t);
                          }
                      });
}

// Different index space: each reference cell in the grid's reach samples the
// grid trilinearly at its world position; inactive voxels count as the
// background, so cells far from active voxels keep the background exactly.
template <class GridT>
void ResampleActive(const GridT& grid, const Transform& ref, const CoordBBox& reach, const Target& t) {
    using ValueT = typename GridT::ValueType;
    CoordBBox region = reach;
    region.intersect(t.box);
    if (region.empty()) return;
    auto acc = grid.getConstAccessor();
    const ValueT bg = grid.background();
    const Transform& own = grid.transform();
    for (int z = region.min().z(); z <= region.max().z(); ++z)
        for (int y = region.min().y(); y <= region.max().y(); ++y)
            for (int x = region.min().x(); x <= region.max().x(); ++x) {
                const Vec3d p = own.worldToIndex(ref.indexToWorld(Vec3d(x, y, z)));
                if (!(std::abs(p[0]) < kCoordLimit && std::abs(p[1]) < kCoordLimit && std::abs(p[2]) < kCoordLimit))
                    continue;
                const Coord base(int(std::floor(p[0])), int(std::floor(p[1])), int(std::floor(p[2])));
                const Vec3d f = p - base.asVec3d();
                double sum[3] = {0, 0, 0};
                bool any = false;
                for (int corner = 0; corner < 8; ++corner) {
                    const int dx = corner & 1, dy = (corner >> 1) & 1, dz = (corner >> 2) & 1;
                    const double w =
                        (dx ? f[0] : 1 - f[0]) * (dy ? f[1] : 1 - f[1]) * (dz ? f[2] : 1 - f[2]);
                    ValueT v;
                    if (acc.probeValue(base.offsetBy(dx, dy, dz), v) && w > 0) {
                        any = true;
                    } else {
                        v = bg;
                    }
                    for (int k = 0; k < t.components; ++k) sum[k] += w * Component(v, k);
                }
                if (!any) continue;  // the background is already there
                const size_t index = t.Index(Coord(x, y, z));
                for (int k = 0; k < t.components; ++k) t.dst[k][index] = static_cast<float>(sum[k] * t.scale);
            }
}

template <class GridT>
void Densify(const Source& s, const Transform& ref, const Target& t, size_t cells) {
    const GridT& grid = static_cast<const GridT&>(*s.grid);
    // Active voxels all lie inside the box, so as many as the box has cells
    // cover it completely: no background to write first (the dense case).
    if (s.sameTransform) {
        CopyActive(grid, t, s.active.count != cells);
    } else {
        FillBackground(grid, t, t.box.min().z(), t.box.max().z());
        ResampleActive(grid, ref, s.box, t);
    }
}

void DensifySource(const Source& s, const Transform& ref, const Target& t, size_t cells) {
    switch (s.kind) {
    case Kind::Float: Densify<openvdb::FloatGrid>(s, ref, t, cells); break;
    case Kind::Double: Densify<openvdb::DoubleGrid>(s, ref, t, cells); break;
    case Kind::Vec3S: Densify<openvdb::Vec3SGrid>(s, ref, t, cells); break;
    case Kind::Vec3D: Densify<openvdb::Vec3DGrid>(s, ref, t, cells); break;
    case Kind::Unsupported: break;
    }
}

// Releases the arrays of a failed import.
struct ArrayGuard {
    const ChannelAllocator& allocator;
    float* arrays[KOR_GRID_CHANNEL_COUNT] = {};
    ~ArrayGuard() {
        for (float*& a : arrays)
            if (a) allocator.release(a);
    }
};

// True when the request may fill its channels (in range, not taken by an
// earlier request, and not packed colour: that channel holds packed bytes in
// a frame, never floats).
bool ChannelsFree(int channel, int components, uint32_t taken) {
    if (channel < 0 || channel + components - 1 > KOR_GRID_LAST_CHANNEL) return false;
    if (components == 3 && channel != KOR_GRID_VELOCITY_X && channel != KOR_GRID_COLOUR_R) return false;
    for (int k = 0; k < components; ++k) {
        if (channel + k == KOR_GRID_PACKED_COLOUR) return false;
        if (taken & (1u << (channel + k))) return false;
    }
    return true;
}

int ImportGridsUnsafe(PluginIo::ByteSource& source, const FileLayout& layout, const char* path,
                      const Request* requests, int count, const ChannelAllocator& allocator, DenseFrame& out) {
    // Read each mapped grid once, in mapping order, and only after its stored
    // bytes passed the module's own walk.
    struct Read {
        std::string name;
        openvdb::GridBase::Ptr grid;
        ActiveVoxels active;
    };
    std::vector<Read> read;
    std::vector<Source> sources;
    uint32_t taken = 0;
    for (int i = 0; i < count; ++i) {
        const Request& r = requests[i];
        if (r.name == nullptr) continue;
        const GridRecord* record = FindGrid(layout, r.name);
        if (record == nullptr) continue;
        openvdb::GridBase::Ptr grid;
        ActiveVoxels active;
        for (const Read& entry : read)
            if (entry.name == r.name) {
                grid = entry.grid;
                active = entry.active;
            }
        if (!grid) {
            const int walked = CheckGrid(source, layout, *record);
            if (walked == kNoGrid) continue;  // a type the module does not import
            if (walked != kOk) return walked;
            // A file of its own for each grid: a grid OpenVDB read without
            // noticing a failed stream read would otherwise leave the stream
            // failed for the next grid, whose reads then yield whatever the
            // variables held (a string length from the stack, say).
            openvdb::io::File file(path);
            try {
                file.open(false);
            } catch (const openvdb::Exception&) {
                return kDamaged;
            }
            grid = file.readGrid(r.name);
            file.close();
            if (!grid) continue;
            active.box = grid->evalActiveVoxelBoundingBox();
            active.count = grid->activeVoxelCount();
            if (!StatisticsAgree(*grid, active)) return kDamaged;
            read.push_back(Read{r.name, grid, active});
        }
        const Kind kind = KindOf(*grid);
        if (kind == Kind::Unsupported) continue;
        const int components = ComponentsOf(kind);
        if (!ChannelsFree(r.channel, components, taken)) continue;
        for (int k = 0; k < components; ++k) taken |= 1u << (r.channel + k);
        Source s;
        s.grid = grid;
        s.active = active;
        s.kind = kind;
        s.channel = r.channel;
        s.components = components;
        s.scale = r.scale;
        sources.push_back(std::move(s));
    }
    if (sources.empty()) return kNoGrid;

    const Transform& ref = sources.front().grid->transform();
    if (!ref.isLinear()) return kNonLinear;

    // The union of the active boxes in the reference index space.
    CoordBBox box;
    for (Source& s : sources) {
        s.sameTransform = (s.grid->transform() == ref);
        if (!ActiveBoxIn(*s.grid, s.active.box, ref, s.sameTransform, s.box)) return kTooLarge;
        if (!s.box.empty()) box.expand(s.box);
    }
    if (box.empty()) box = CoordBBox(Coord(0), Coord(0));
    const int64_t nx = int64_t(box.max().x()) - box.min().x() + 1;
    const int64_t ny = int64_t(box.max().y()) - box.min().y() + 1;
    const int64_t nz = int64_t(box.max().z()) - box.min().z() + 1;
    // Each factor is below 2^32, so the first product cannot overflow.
    if (nx > kMaxCells || ny > kMaxCells || nz > kMaxCells || nx * ny > kMaxCells || nx * ny * nz > kMaxCells)
        return kTooLarge;
    const size_t cells = static_cast<size_t>(nx * ny * nz);

    ArrayGuard guard{allocator};
    for (int c = 0; c < KOR_GRID_CHANNEL_COUNT; ++c)
        if (taken & (1u << c)) {
            guard.arrays[c] = allocator.allocate(cells);
            if (guard.arrays[c] == nullptr) return kTooLarge;
        }

    for (const Source& s : sources) {
        Target t;
        t.components = s.components;
        for (int k = 0; k < s.components; ++k) t.dst[k] = guard.arrays[s.channel + k];
        t.box = box;
        t.nx = nx;
        t.ny = ny;
        t.scale = s.scale;
        DensifySource(s, ref, t, cells);
    }

    // Cell (0,0,0) is the box's first voxel; its centre is the offset.
    const Vec3d origin = ref.indexToWorld(box.min().asVec3d());
    const Vec3d axes[3] = {ref.indexToWorld(box.min().asVec3d() + Vec3d(1, 0, 0)) - origin,
                           ref.indexToWorld(box.min().asVec3d() + Vec3d(0, 1, 0)) - origin,
                           ref.indexToWorld(box.min().asVec3d() + Vec3d(0, 0, 1)) - origin};
    for (int a = 0; a < 3; ++a)
        for (int k = 0; k < 3; ++k) out.transform[a * 3 + k] = static_cast<float>(axes[a][k]);
    for (int k = 0; k < 3; ++k) out.transform[9 + k] = static_cast<float>(origin[k]);
    out.nx = static_cast<int32_t>(nx);
    out.ny = static_cast<int32_t>(ny);
    out.nz = static_cast<int32_t>(nz);
    out.channelMask |= taken;
    for (int c = 0; c < KOR_GRID_CHANNEL_COUNT; ++c)
        if (guard.arrays[c]) {
            out.channels[c] = guard.arrays[c];
            guard.arrays[c] = nullptr;
        }
    return kOk;
}

// Runs body, turning what OpenVDB throws into the module's result codes: its
// own exceptions and memory it could not get (a damaged size field asks for
// absurd amounts) mean a damaged file, anything else an internal error.
template <class Body>
int TranslatingExceptions(Body&& body) noexcept {
    try {
        return body();
    } catch (const openvdb::Exception&) {
        return kDamaged;
    } catch (const std::bad_alloc&) {
        return kDamaged;
    } catch (...) {
        return kInternal;
    }
}

}  // namespace

bool InitializeOpenVdb() noexcept {
    try {
        openvdb::initialize();
        return true;
    } catch (...) {
        return false;
    }
}

int ListGrids(const char* path, std::vector<GridEntry>& out) noexcept {
    if (path == nullptr || path[0] == '\0') return kNoFile;
    return TranslatingExceptions([&]() -> int {
        FileLayout layout;
        const int rc = ReadLayout(path, layout);
        if (rc != kOk) return rc;
        std::vector<GridEntry> found;
        for (const GridRecord& g : layout.grids) {
            GridEntry entry;
            entry.name = g.name;
            entry.notScalar = !IsScalarValueType(ValueTypeOf(g.type));
            found.push_back(std::move(entry));
        }
        out.insert(out.end(), found.begin(), found.end());
        return kOk;
    });
}

int ImportGrids(const char* path, const Request* requests, int count, const ChannelAllocator& allocator,
                DenseFrame& out) noexcept {
    if (count < 0 || (count > 0 && requests == nullptr) || allocator.allocate == nullptr ||
        allocator.release == nullptr)
        return kBadArguments;
    if (path == nullptr || path[0] == '\0') return kNoFile;
    return TranslatingExceptions([&]() -> int {
        // Nothing reaches OpenVDB unless every grid lies inside the file, and
        // no grid unless the walk accepted it.
        FileLayout layout;
        // Mapped: the walk touches only the bytes it checks.
        PluginIo::MappedFileSource source;
        if (!source.Open(path)) return kNoFile;
        const int rc = ReadLayout(source, layout);
        if (rc != kOk) return rc;
        InitializeOpenVdb();
        return ImportGridsUnsafe(source, layout, path, requests, count, allocator, out);
    });
}

}  // namespace VdbPlug
