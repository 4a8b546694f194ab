#include "f3d_ogawa.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "f3d_values.h"

namespace F3d {

namespace {

// Field3D object kinds (child 1 of every Field3D group).
enum Kind : int32_t { kGroup = 0, kAttribute = 1, kDataset = 2, kCompressedDataset = 3 };

// Field3D value types (child 2 of attributes and datasets).
enum OgType : int32_t {
    kInt8 = 0, kUint8, kInt16, kUint16, kInt32, kUint32, kInt64, kUint64,
    kFloat16, kFloat32, kFloat64, kVec16, kVec32, kVec64, kVecI32, kMtx64, kString,
};

constexpr uint64_t kMaxNameBytes = 4096;  // names and string attributes
constexpr size_t kChunkValues = size_t{1} << 18;  // values converted per read

bool ReadSmall(Ogawa::Archive& a, uint64_t ref, std::string& out) {
    uint64_t offset = 0, size = 0;
    if (!a.DataSpan(ref, offset, size) || size > kMaxNameBytes) return false;
    out.assign(static_cast<size_t>(size), '\0');
    if (size && !a.ReadData(ref, out.data(), size)) return false;
    // Field3D stores names without a terminator and stops at the first zero.
    out.resize(std::strlen(out.c_str()));
    return true;
}

bool ReadInt32(Ogawa::Archive& a, uint64_t ref, int32_t& value) {
    return Ogawa::IsData(ref) && a.ReadData(ref, &value, sizeof value);
}

// Element type and width of integer attribute types.
bool IntegerWidth(int32_t type, size_t& bytes, bool& isSigned) {
    switch (type) {
        case kInt8: bytes = 1; isSigned = true; return true;
        case kUint8: bytes = 1; isSigned = false; return true;
        case kInt16: bytes = 2; isSigned = true; return true;
        case kUint16: bytes = 2; isSigned = false; return true;
        case kInt32: case kVecI32: bytes = 4; isSigned = true; return true;
        case kUint32: bytes = 4; isSigned = false; return true;
        case kInt64: bytes = 8; isSigned = true; return true;
        case kUint64: bytes = 8; isSigned = false; return true;
        default: return false;
    }
}

// Scalar value type and component count of a dataset element type.
bool DataType(int32_t type, ValueType& value, int& components) {
    switch (type) {
        case kFloat16: value = ValueType::Half; components = 1; return true;
        case kFloat32: value = ValueType::Float; components = 1; return true;
        case kFloat64: value = ValueType::Double; components = 1; return true;
        case kVec16: value = ValueType::Half; components = 3; return true;
        case kVec32: value = ValueType::Float; components = 3; return true;
        case kVec64: value = ValueType::Double; components = 3; return true;
        default: return false;
    }
}

}  // namespace

struct OgawaField3D::Entry {
    std::string name;
    int32_t kind = -1;
    uint64_t ref = 0;
    std::vector<uint64_t> children;  // of the entry's own group
};

namespace {

using EntryList = std::vector<OgawaField3D::Entry>;

}  // namespace

Code OgawaField3D::Open() noexcept {
    if (!archive_.Open()) return kNotField3D;
    std::vector<uint64_t> root;
    if (!archive_.Children(archive_.Root(), root)) return kDamaged;
    std::string name;
    if (root.size() < 2 || !Ogawa::IsData(root[0]) || !ReadSmall(archive_, root[0], name)) return kNotField3D;
    return name == "f3droot" ? kOk : kNotField3D;
}

Code OgawaField3D::ReadEntries(uint64_t group, std::vector<Entry>& out) {
    out.clear();
    std::vector<uint64_t> children;
    if (!archive_.Children(group, children)) return kDamaged;
    // Children 0 and 1 are the group's own name and kind.
    for (size_t i = 2; i < children.size(); ++i) {
        if (Ogawa::IsData(children[i])) continue;
        Entry e;
        e.ref = children[i];
        if (!archive_.Children(e.ref, e.children)) return kDamaged;
        if (e.children.size() < 2 || !ReadSmall(archive_, e.children[0], e.name) ||
            !ReadInt32(archive_, e.children[1], e.kind))
            return kDamaged;
        out.push_back(std::move(e));
    }
    return kOk;
}

namespace {

const OgawaField3D::Entry* Find(const EntryList& entries, const char* name, int32_t kind) {
    for (const auto& e : entries)
        if (e.kind == kind && e.name == name) return &e;
    return nullptr;
}

// An attribute's value type and value reference.
bool AttributeValue(Ogawa::Archive& a, const OgawaField3D::Entry& e, int32_t& type, uint64_t& value) {
    if (e.children.size() < 4 || !ReadInt32(a, e.children[2], type) || !Ogawa::IsData(e.children[3])) return false;
    value = e.children[3];
    return true;
}

// Reads `count` integers of an integer attribute (any width).
Code ReadInts(Ogawa::Archive& a, const EntryList& entries, const char* name, int64_t* out, size_t count) {
    const auto* e = Find(entries, name, kAttribute);
    if (!e) return kDamaged;
    int32_t type = 0;
    uint64_t value = 0;
    size_t width = 0;
    bool isSigned = false;
    if (!AttributeValue(a, *e, type, value) || !IntegerWidth(type, width, isSigned)) return kDamaged;
    uint8_t raw[8 * 4];
    if (count > 4 || !a.ReadData(value, raw, width * count)) return kDamaged;
    for (size_t i = 0; i < count; ++i) {
        uint64_t u = 0;
        std::memcpy(&u, raw + i * width, width);
        if (isSigned && width < 8 && (u >> (width * 8 - 1)) != 0) u |= ~uint64_t{0} << (width * 8);
        out[i] = static_cast<int64_t>(u);
        if (!isSigned && width == 8 && out[i] < 0) return kDamaged;
    }
    return kOk;
}

Code ReadInt(Ogawa::Archive& a, const EntryList& entries, const char* name, int64_t& out) {
    return ReadInts(a, entries, name, &out, 1);
}

Code ReadString(Ogawa::Archive& a, const EntryList& entries, const char* name, std::string& out) {
    const auto* e = Find(entries, name, kAttribute);
    int32_t type = 0;
    uint64_t value = 0;
    if (!e || !AttributeValue(a, *e, type, value) || type != kString || !ReadSmall(a, value, out)) return kDamaged;
    return kOk;
}

// A vector of three int32 attribute (extents_min, ...) into box corners.
Code ReadCorner(Ogawa::Archive& a, const EntryList& entries, const char* name, int32_t* corner) {
    int64_t v[3];
    if (Code c = ReadInts(a, entries, name, v, 3); c != kOk) return c;
    for (int i = 0; i < 3; ++i) {
        if (v[i] < INT32_MIN || v[i] > INT32_MAX) return kDamaged;
        corner[i] = static_cast<int32_t>(v[i]);
    }
    return kOk;
}

}  // namespace

Code OgawaField3D::ReadMapping(const std::vector<Entry>& partition, Mapping& mapping) {
    mapping = Mapping();
    const Entry* group = Find(partition, "mapping", kGroup);
    if (!group) return kOk;  // no mapping: local space is world space
    EntryList entries;
    if (Code c = ReadEntries(group->ref, entries); c != kOk) return c;
    std::string type;
    if (Code c = ReadString(archive_, entries, "mapping_type", type); c != kOk) return c;
    if (type != "MatrixFieldMapping") return kOk;  // null (or unsupported) mapping: local space
    // The matrix at the first time sample.
    const Entry* m = Find(entries, "matrix_0", kAttribute);
    int32_t valueType = 0;
    uint64_t value = 0;
    if (!m || !AttributeValue(archive_, *m, valueType, value) || valueType != kMtx64 ||
        !archive_.ReadData(value, mapping.m, sizeof mapping.m))
        return kDamaged;
    mapping.matrix = true;
    return kOk;
}

Code OgawaField3D::Describe(const std::vector<Entry>& entries, Layer& layer) {
    if (Code c = ReadString(archive_, entries, "class_name", layer.className); c != kOk) return c;
    layer.storage = layer.className == "DenseField"    ? Storage::Dense
                    : layer.className == "SparseField" ? Storage::Sparse
                                                       : Storage::Other;
    int64_t components = 0;
    if (Code c = ReadInt(archive_, entries, "components", components); c != kOk) return c;
    layer.components = (components == 1 || components == 3) ? static_cast<int>(components) : 0;
    if (layer.storage == Storage::Other || layer.components == 0) return kUnsupportedLayer;
    if (Code c = ReadCorner(archive_, entries, "extents_min", layer.extents.min); c != kOk) return c;
    if (Code c = ReadCorner(archive_, entries, "extents_max", layer.extents.max); c != kOk) return c;
    if (Code c = ReadCorner(archive_, entries, "data_window_min", layer.dataWindow.min); c != kOk) return c;
    if (Code c = ReadCorner(archive_, entries, "data_window_max", layer.dataWindow.max); c != kOk) return c;
    if (!layer.extents.Valid() || !layer.dataWindow.Valid()) return kDamaged;
    // The element type of the data set decides the value type.
    const Entry* data = Find(entries, "data", kDataset);
    if (!data) data = Find(entries, "data", kCompressedDataset);
    int32_t type = 0;
    int components2 = 0;
    if (!data || data->children.size() < 3 || !ReadInt32(archive_, data->children[2], type)) return kDamaged;
    if (!DataType(type, layer.type, components2)) return kUnsupportedLayer;
    if (components2 != layer.components) return kDamaged;
    return kOk;
}

Code OgawaField3D::ListLayers(std::vector<Layer>& out, std::vector<Code>& status) {
    out.clear();
    status.clear();
    EntryList partitions;
    if (Code c = ReadEntries(archive_.Root(), partitions); c != kOk) return c;
    std::stable_sort(partitions.begin(), partitions.end(),
                     [](const Entry& a, const Entry& b) { return a.name < b.name; });
    for (const Entry& p : partitions) {
        if (p.kind != kGroup) continue;
        EntryList members;
        if (Code c = ReadEntries(p.ref, members); c != kOk) return c;
        if (!Find(members, "is_field3d_partition", kAttribute)) continue;
        Mapping mapping;
        const Code mappingCode = ReadMapping(members, mapping);
        std::stable_sort(members.begin(), members.end(),
                         [](const Entry& a, const Entry& b) { return a.name < b.name; });
        for (const Entry& m : members) {
            if (m.kind != kGroup || m.name == "mapping") continue;
            EntryList attributes;
            if (Code c = ReadEntries(m.ref, attributes); c != kOk) return c;
            std::string classType;
            if (ReadString(archive_, attributes, "class_type", classType) != kOk || classType != "field3d_layer")
                continue;
            Layer layer;
            layer.partition = p.name;
            layer.name = m.name;
            layer.handle = m.ref;
            layer.mapping = mapping;
            Code code = Describe(attributes, layer);
            if (code == kOk) code = mappingCode;
            out.push_back(std::move(layer));
            status.push_back(code);
        }
    }
    return kOk;
}

Code OgawaField3D::ReadLayer(const Layer& layer, const DenseTarget& target) {
    if (!layer.dataWindow.Valid()) return kDamaged;
    if (layer.dataWindow.Cells() > kMaxCells) return kGridTooLarge;
    EntryList entries;
    if (Code c = ReadEntries(layer.handle, entries); c != kOk) return c;
    if (layer.storage == Storage::Dense) return ReadDense(layer, entries, target);
    if (layer.storage == Storage::Sparse) return ReadSparse(layer, entries, target);
    return kUnsupportedLayer;
}

Code OgawaField3D::ReadDense(const Layer& layer, const std::vector<Entry>& entries, const DenseTarget& target) {
    const Entry* data = Find(entries, "data", kDataset);
    if (!data) return Find(entries, "data", kCompressedDataset) ? kUnsupportedLayer : kDamaged;
    const size_t vbytes = ValueBytes(layer.type);
    DenseWriter writer(target, layer.dataWindow, layer.components);
    // The elements from child 3 on hold the values back to back.
    uint64_t total = 0;
    for (size_t i = 3; i < data->children.size(); ++i) {
        uint64_t offset = 0, size = 0;
        if (!archive_.DataSpan(data->children[i], offset, size) || size % vbytes != 0) return kDamaged;
        total += size / vbytes;
        if (total > writer.Remaining()) return kDamaged;
    }
    if (total != writer.Remaining()) return kDamaged;
    const size_t chunk = static_cast<size_t>(std::min<uint64_t>(kChunkValues, total));
    std::vector<uint8_t> raw(chunk * vbytes);
    std::vector<float> values(chunk);
    for (size_t i = 3; i < data->children.size(); ++i) {
        uint64_t offset = 0, size = 0;
        archive_.DataSpan(data->children[i], offset, size);
        for (uint64_t at = 0; at < size;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, (size - at) / vbytes));
            if (!archive_.Source().ReadAt(offset + at, raw.data(), n * vbytes)) return kDamaged;
            ConvertValues(layer.type, raw.data(), n, values.data());
            if (!writer.Put(values.data(), n)) return kDamaged;
            at += n * vbytes;
        }
    }
    return writer.Remaining() == 0 ? kOk : kDamaged;
}

Code OgawaField3D::ReadSparse(const Layer& layer, const std::vector<Entry>& entries, const DenseTarget& target) {
    int64_t order = 0, numBlocks = 0, occupied = 0, res[3] = {0, 0, 0};
    if (Code c = ReadInt(archive_, entries, "block_order", order); c != kOk) return c;
    // Blocks above 2^7 voxels a side are refused (a block's values are held
    // in memory at once); Field3D's default is 2^4.
    if (order < 0 || order > 7) return kUnsupportedLayer;
    if (Code c = ReadInts(archive_, entries, "block_res", res, 3); c != kOk) return c;
    if (Code c = ReadInt(archive_, entries, "num_blocks", numBlocks); c != kOk) return c;
    if (Code c = ReadInt(archive_, entries, "num_occupied_blocks", occupied); c != kOk) return c;
    BlockGeometry g;
    g.dataWindow = layer.dataWindow;
    g.order = static_cast<int>(order);
    g.components = layer.components;
    for (int a = 0; a < 3; ++a)
        if (res[a] != BlocksAlong(layer.dataWindow, a, g.order)) return kDamaged;
    if (numBlocks != res[0] * res[1] * res[2] || occupied < 0 || occupied > numBlocks) return kDamaged;

    const size_t vbytes = ValueBytes(layer.type);
    const size_t comps = static_cast<size_t>(layer.components);
    const size_t blockValues = (size_t{1} << (3 * g.order)) * comps;
    const size_t n = static_cast<size_t>(numBlocks);

    // Which blocks are allocated (one byte each), and the value of the others.
    const Entry* allocated = Find(entries, "block_is_allocated_data", kDataset);
    const Entry* empty = Find(entries, "block_empty_value_data", kDataset);
    if (!allocated || !empty || allocated->children.size() < 4 || empty->children.size() < 4) return kDamaged;
    int32_t type = 0;
    ValueType emptyType = ValueType::Other;
    int emptyComps = 0;
    if (!ReadInt32(archive_, allocated->children[2], type) || (type != kUint8 && type != kInt8)) return kDamaged;
    if (!ReadInt32(archive_, empty->children[2], type) || !DataType(type, emptyType, emptyComps) ||
        emptyComps != layer.components)
        return kDamaged;
    // Both arrays must really be there before anything is sized by them.
    uint64_t at = 0, allocatedBytes = 0, emptyBytes = 0;
    if (!archive_.DataSpan(allocated->children[3], at, allocatedBytes) || allocatedBytes != n ||
        !archive_.DataSpan(empty->children[3], at, emptyBytes) || emptyBytes != n * comps * ValueBytes(emptyType))
        return kDamaged;
    std::vector<uint8_t> isAllocated(n);
    std::vector<uint8_t> emptyRaw(n * comps * ValueBytes(emptyType));
    std::vector<float> emptyValues(n * comps);
    if (!archive_.ReadData(allocated->children[3], isAllocated.data(), n) ||
        !archive_.ReadData(empty->children[3], emptyRaw.data(), emptyRaw.size()))
        return kDamaged;
    ConvertValues(emptyType, emptyRaw.data(), n * comps, emptyValues.data());
    if (static_cast<int64_t>(std::count_if(isAllocated.begin(), isAllocated.end(), [](uint8_t b) { return b != 0; })) !=
        occupied)
        return kDamaged;

    // The allocated blocks, in block order, one element each.
    const Entry* data = Find(entries, "data", kCompressedDataset);
    const bool compressed = data != nullptr;
    if (!data) data = Find(entries, "data", kDataset);
    if (!data || data->children.size() != 3 + static_cast<size_t>(occupied)) return kDamaged;
    if (!ReadInt32(archive_, data->children[2], type)) return kDamaged;
    ValueType dataType = ValueType::Other;
    int dataComps = 0;
    if (!DataType(type, dataType, dataComps) || dataType != layer.type || dataComps != layer.components) return kDamaged;

    const size_t rawBytes = blockValues * vbytes;
    std::vector<uint8_t> raw(rawBytes);
    std::vector<uint8_t> packed;
    std::vector<float> values(blockValues);
    size_t next = 3;
    for (int64_t bk = 0, b = 0; bk < res[2]; ++bk) {
        for (int64_t bj = 0; bj < res[1]; ++bj) {
            for (int64_t bi = 0; bi < res[0]; ++bi, ++b) {
                if (!isAllocated[static_cast<size_t>(b)]) {
                    FillBlock(target, g, bi, bj, bk, &emptyValues[static_cast<size_t>(b) * comps]);
                    continue;
                }
                const uint64_t ref = data->children[next++];
                if (compressed) {
                    uint64_t offset = 0, size = 0;
                    // zlib never grows data by more than a few bytes per 16 KiB.
                    if (!archive_.DataSpan(ref, offset, size) || size > compressBound(rawBytes) + 64) return kDamaged;
                    packed.resize(static_cast<size_t>(size));
                    if (!archive_.ReadData(ref, packed.data(), size)) return kDamaged;
                    uLongf produced = static_cast<uLongf>(rawBytes);
                    if (uncompress(raw.data(), &produced, packed.data(), static_cast<uLong>(size)) != Z_OK ||
                        produced != rawBytes)
                        return kDamaged;
                } else if (!archive_.ReadData(ref, raw.data(), rawBytes)) {
                    return kDamaged;
                }
                ConvertValues(layer.type, raw.data(), blockValues, values.data());
                PlaceBlock(target, g, bi, bj, bk, values.data());
            }
        }
    }
    return kOk;
}

}  // namespace F3d
