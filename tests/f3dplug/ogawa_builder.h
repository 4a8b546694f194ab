// Builds Ogawa containers byte by byte for tests, including Field3D's
// layout on top of them, so that valid and hostile files can be made by hand.
#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include <zlib.h>

namespace OgawaTest {

constexpr uint64_t kData = uint64_t{1} << 63;

class Builder {
public:
    Builder() : bytes_(16, 0) {}

    // Appends a data block; returns its child reference.
    uint64_t Data(const void* p, size_t n) {
        const uint64_t at = bytes_.size();
        Put64(n);
        const auto* b = static_cast<const uint8_t*>(p);
        bytes_.insert(bytes_.end(), b, b + n);
        return at | kData;
    }
    uint64_t Data(const std::string& s) { return Data(s.data(), s.size()); }
    template <class T>
    uint64_t Value(const T& v) {
        return Data(&v, sizeof v);
    }
    // Appends a group of the given children; returns its offset.
    uint64_t Group(const std::vector<uint64_t>& children) {
        const uint64_t at = bytes_.size();
        Put64(children.size());
        for (uint64_t c : children) Put64(c);
        return at;
    }
    // Writes the header with the root group's offset.
    std::vector<uint8_t> Finish(uint64_t root) {
        std::memcpy(bytes_.data(), "Ogawa", 5);
        bytes_[5] = 0xFF;
        bytes_[6] = 0;
        bytes_[7] = 1;
        std::memcpy(bytes_.data() + 8, &root, 8);
        return bytes_;
    }
    std::vector<uint8_t>& Bytes() { return bytes_; }

    // --- Field3D objects: name and kind first.
    uint64_t F3dGroup(const std::string& name, std::vector<uint64_t> members) {
        members.insert(members.begin(), {Data(name), Value<int32_t>(0)});
        return Group(members);
    }
    uint64_t Attribute(const std::string& name, int32_t type, const void* value, size_t n) {
        return Group({Data(name), Value<int32_t>(1), Value<int32_t>(type), Data(value, n)});
    }
    uint64_t IntAttribute(const std::string& name, int32_t v) { return Attribute(name, 4, &v, 4); }
    uint64_t U8Attribute(const std::string& name, uint8_t v) { return Attribute(name, 1, &v, 1); }
    uint64_t Vec3Attribute(const std::string& name, int32_t x, int32_t y, int32_t z) {
        const int32_t v[3] = {x, y, z};
        return Attribute(name, 14, v, sizeof v);
    }
    uint64_t StringAttribute(const std::string& name, const std::string& s) {
        return Attribute(name, 16, s.data(), s.size());
    }
    // A data set: kind 2 (plain) or 3 (compressed), element type, elements.
    uint64_t Dataset(const std::string& name, int32_t kind, int32_t type, const std::vector<uint64_t>& elements) {
        std::vector<uint64_t> c = {Data(name), Value<int32_t>(kind), Value<int32_t>(type)};
        c.insert(c.end(), elements.begin(), elements.end());
        return Group(c);
    }

private:
    void Put64(uint64_t v) {
        uint8_t b[8];
        std::memcpy(b, &v, 8);
        bytes_.insert(bytes_.end(), b, b + 8);
    }
    std::vector<uint8_t> bytes_;
};

// A small Field3D file: partition "smoke.0" with a matrix mapping (voxel
// size 0.1, extents minimum at (1.0, 0.5, -0.25)) and dense float layers of
// nx*ny*nz values v[n] = n + `base`, data window from `dwMin` (the extents
// equal the data window of the first layer).
struct DenseSpec {
    std::string name = "density";
    int nx = 2, ny = 3, nz = 2;
    int dwMin[3] = {0, 0, 0};
    int32_t dataType = 9;  // float32
    bool vector = false;
    float base = 0;
};

inline uint64_t DenseLayer(Builder& b, const DenseSpec& s) {
    const int comps = s.vector ? 3 : 1;
    const size_t count = size_t(s.nx) * s.ny * s.nz * comps;
    std::vector<float> values(count);
    for (size_t n = 0; n < count; ++n) values[n] = float(n) + s.base;
    const int mx = s.dwMin[0] + s.nx - 1, my = s.dwMin[1] + s.ny - 1, mz = s.dwMin[2] + s.nz - 1;
    return b.F3dGroup(
        s.name,
        {b.StringAttribute("class_type", "field3d_layer"), b.StringAttribute("class_name", "DenseField"),
         b.IntAttribute("version", 1), b.Vec3Attribute("extents_min", s.dwMin[0], s.dwMin[1], s.dwMin[2]),
         b.Vec3Attribute("extents_max", mx, my, mz),
         b.Vec3Attribute("data_window_min", s.dwMin[0], s.dwMin[1], s.dwMin[2]),
         b.Vec3Attribute("data_window_max", mx, my, mz), b.IntAttribute("components", comps),
         b.IntAttribute("bits_per_component", 32),
         b.Dataset("data", 2, s.vector ? 12 : s.dataType, {b.Data(values.data(), values.size() * 4)})});
}

inline std::vector<uint8_t> DenseFileOf(const std::vector<DenseSpec>& layers) {
    Builder b;
    const DenseSpec& s = layers.front();
    const uint64_t version = b.Vec3Attribute("version_number", 1, 7, 3);
    double m[16] = {0.1 * s.nx, 0, 0, 0, 0, 0.1 * s.ny, 0, 0, 0, 0, 0.1 * s.nz, 0, 1.0, 0.5, -0.25, 1};
    const uint64_t mapping = b.F3dGroup(
        "mapping", {b.StringAttribute("mapping_type", "MatrixFieldMapping"), b.IntAttribute("num_time_samples", 1),
                    b.Attribute("matrix_0", 15, m, sizeof m)});
    std::vector<uint64_t> members = {mapping, b.StringAttribute("is_field3d_partition", "1")};
    for (const DenseSpec& l : layers) members.push_back(DenseLayer(b, l));
    const uint64_t partition = b.F3dGroup("smoke.0", members);
    const uint64_t root = b.F3dGroup("f3droot", {version, partition});
    return b.Finish(root);
}

inline std::vector<uint8_t> DenseFile(const DenseSpec& s = DenseSpec()) { return DenseFileOf({s}); }

// A sparse float layer "density" on a data window of n^3 voxels from the
// origin, blocks of 2^order voxels a side. Voxel (i, j, k) of an allocated
// block holds i + 10 j + 100 k; the other blocks hold `emptyValue`. Block b
// is allocated when allocated[b] (missing entries: not allocated).
struct SparseSpec {
    int n = 3;
    int order = 1;
    std::vector<bool> allocated = {true, false, false, true, false, false, false, true};
    float emptyValue = 7.0f;
    bool compressed = true;
};

inline float SparseValue(int i, int j, int k) { return float(i + 10 * j + 100 * k); }

inline std::vector<uint8_t> SparseFile(const SparseSpec& s = SparseSpec()) {
    Builder b;
    const int size = 1 << s.order;
    const int res = (s.n + size - 1) / size;
    const int numBlocks = res * res * res;
    std::vector<uint8_t> isAllocated(numBlocks, 0);
    std::vector<float> empty(numBlocks, s.emptyValue);
    std::vector<uint64_t> elements;
    for (int bk = 0, idx = 0; bk < res; ++bk)
        for (int bj = 0; bj < res; ++bj)
            for (int bi = 0; bi < res; ++bi, ++idx) {
                if (idx >= int(s.allocated.size()) || !s.allocated[idx]) continue;
                isAllocated[idx] = 1;
                std::vector<float> block;
                for (int k = 0; k < size; ++k)
                    for (int j = 0; j < size; ++j)
                        for (int i = 0; i < size; ++i)
                            block.push_back(SparseValue(bi * size + i, bj * size + j, bk * size + k));
                if (!s.compressed) {
                    elements.push_back(b.Data(block.data(), block.size() * 4));
                    continue;
                }
                uLongf packedSize = compressBound(uLong(block.size() * 4));
                std::vector<uint8_t> packed(packedSize);
                compress2(packed.data(), &packedSize, reinterpret_cast<const Bytef*>(block.data()),
                          uLong(block.size() * 4), 1);
                elements.push_back(b.Data(packed.data(), packedSize));
            }
    const uint64_t version = b.Vec3Attribute("version_number", 1, 7, 3);
    const int m = s.n - 1;
    const int occupied = int(elements.size());
    const uint64_t layer = b.F3dGroup(
        "density",
        {b.StringAttribute("class_type", "field3d_layer"), b.StringAttribute("class_name", "SparseField"),
         b.IntAttribute("version", 1), b.Vec3Attribute("extents_min", 0, 0, 0), b.Vec3Attribute("extents_max", m, m, m),
         b.Vec3Attribute("data_window_min", 0, 0, 0), b.Vec3Attribute("data_window_max", m, m, m),
         b.U8Attribute("components", 1), b.U8Attribute("bits_per_component", 32), b.U8Attribute("block_order", uint8_t(s.order)),
         b.Attribute("num_blocks", 5, &numBlocks, 4), b.Vec3Attribute("block_res", res, res, res),
         b.U8Attribute("data_is_compressed", s.compressed ? 1 : 0),
         b.Dataset("block_is_allocated_data", 2, 1, {b.Data(isAllocated.data(), isAllocated.size())}),
         b.Dataset("block_empty_value_data", 2, 9, {b.Data(empty.data(), empty.size() * 4)}),
         b.Attribute("num_occupied_blocks", 5, &occupied, 4),
         b.Dataset("data", s.compressed ? 3 : 2, 9, elements)});
    const uint64_t partition = b.F3dGroup("smoke.0", {b.StringAttribute("is_field3d_partition", "1"), layer});
    const uint64_t root = b.F3dGroup("f3droot", {version, partition});
    return b.Finish(root);
}

}  // namespace OgawaTest
