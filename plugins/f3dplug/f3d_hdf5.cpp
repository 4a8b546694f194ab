#include "f3d_hdf5.h"

#include <hdf5.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "f3d_values.h"

namespace F3d {

namespace {

static_assert(sizeof(hid_t) == sizeof(int64_t), "hid_t is kept as int64_t in the header");

constexpr size_t kMaxNameBytes = 4096;
constexpr hsize_t kMaxLinks = hsize_t{1} << 20;  // partitions per file, layers per partition
// Chunk cache per data set while a layer is read (sparse blocks are read one
// at a time, so chunks holding several blocks should stay cached).
constexpr size_t kChunkCacheBytes = size_t{64} << 20;

void Quiet() noexcept { H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr); }

// Owns one HDF5 identifier and closes it with the matching call.
class Id {
public:
    using Closer = herr_t (*)(hid_t);
    Id(hid_t id, Closer closer) noexcept : id_(id), closer_(closer) {}
    Id(const Id&) = delete;
    Id& operator=(const Id&) = delete;
    ~Id() {
        if (id_ >= 0) closer_(id_);
    }
    hid_t get() const noexcept { return id_; }
    bool ok() const noexcept { return id_ >= 0; }

private:
    hid_t id_;
    Closer closer_;
};

bool HasAttribute(hid_t object, const char* name) { return H5Aexists(object, name) > 0; }

// Reads `count` integers of an integer attribute.
Code ReadInts(hid_t object, const char* name, long long* out, size_t count) {
    if (!HasAttribute(object, name)) return kDamaged;
    Id a(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!a.ok()) return kDamaged;
    Id type(H5Aget_type(a.get()), H5Tclose);
    Id space(H5Aget_space(a.get()), H5Sclose);
    if (!type.ok() || !space.ok() || H5Tget_class(type.get()) != H5T_INTEGER) return kDamaged;
    if (H5Sget_simple_extent_npoints(space.get()) != static_cast<hssize_t>(count)) return kDamaged;
    return H5Aread(a.get(), H5T_NATIVE_LLONG, out) >= 0 ? kOk : kDamaged;
}

Code ReadInt(hid_t object, const char* name, long long& out) { return ReadInts(object, name, &out, 1); }

Code ReadString(hid_t object, const char* name, std::string& out) {
    out.clear();
    if (!HasAttribute(object, name)) return kDamaged;
    Id a(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!a.ok()) return kDamaged;
    Id type(H5Aget_type(a.get()), H5Tclose);
    Id space(H5Aget_space(a.get()), H5Sclose);
    if (!type.ok() || !space.ok() || H5Tget_class(type.get()) != H5T_STRING) return kDamaged;
    if (H5Sget_simple_extent_npoints(space.get()) != 1) return kDamaged;
    if (H5Tis_variable_str(type.get()) > 0) {
        char* text = nullptr;
        if (H5Aread(a.get(), type.get(), &text) < 0) return kDamaged;
        if (text) {
            out.assign(text, strnlen(text, kMaxNameBytes));
            H5free_memory(text);
        }
        return kOk;
    }
    const size_t size = H5Tget_size(type.get());
    if (size == 0 || size > kMaxNameBytes) return kDamaged;
    std::string buffer(size + 1, '\0');
    if (H5Aread(a.get(), type.get(), buffer.data()) < 0) return kDamaged;
    out.assign(buffer.c_str());
    return kOk;
}

Code ReadDoubles(hid_t object, const char* name, double* out, size_t count) {
    Id a(H5Aopen(object, name, H5P_DEFAULT), H5Aclose);
    if (!a.ok()) return kDamaged;
    Id type(H5Aget_type(a.get()), H5Tclose);
    Id space(H5Aget_space(a.get()), H5Sclose);
    if (!type.ok() || !space.ok() || H5Tget_class(type.get()) != H5T_FLOAT) return kDamaged;
    if (H5Sget_simple_extent_npoints(space.get()) != static_cast<hssize_t>(count)) return kDamaged;
    return H5Aread(a.get(), H5T_NATIVE_DOUBLE, out) >= 0 ? kOk : kDamaged;
}

Code ReadBox(hid_t object, const char* name, Box& box) {
    long long v[6];
    if (Code c = ReadInts(object, name, v, 6); c != kOk) return c;
    for (int i = 0; i < 6; ++i)
        if (v[i] < INT32_MIN || v[i] > INT32_MAX) return kDamaged;
    for (int i = 0; i < 3; ++i) {
        box.min[i] = static_cast<int32_t>(v[i]);
        box.max[i] = static_cast<int32_t>(v[i + 3]);
    }
    return box.Valid() ? kOk : kDamaged;
}

// Names of the links of a group, in the group's name order.
bool LinkNames(hid_t group, std::vector<std::string>& out) {
    out.clear();
    H5G_info_t info;
    if (H5Gget_info(group, &info) < 0 || info.nlinks > kMaxLinks) return false;
    for (hsize_t i = 0; i < info.nlinks; ++i) {
        char name[kMaxNameBytes + 1];
        const ssize_t n = H5Lget_name_by_idx(group, ".", H5_INDEX_NAME, H5_ITER_INC, i, name, sizeof name, H5P_DEFAULT);
        if (n < 0 || static_cast<size_t>(n) > kMaxNameBytes) return false;
        out.emplace_back(name, static_cast<size_t>(n));
    }
    return true;
}

// Opens `name` in `parent` when it is a group; -1 otherwise.
hid_t OpenGroup(hid_t parent, const std::string& name) {
    if (H5Lexists(parent, name.c_str(), H5P_DEFAULT) <= 0) return -1;
    hid_t object = H5Oopen(parent, name.c_str(), H5P_DEFAULT);
    if (object < 0) return -1;
    if (H5Iget_type(object) != H5I_GROUP) {
        H5Oclose(object);
        return -1;
    }
    return object;
}

hid_t OpenDataset(hid_t parent, const char* name) {
    if (H5Lexists(parent, name, H5P_DEFAULT) <= 0) return -1;
    hid_t dapl = H5Pcreate(H5P_DATASET_ACCESS);
    if (dapl >= 0) H5Pset_chunk_cache(dapl, 12421, kChunkCacheBytes, 1.0);
    hid_t set = H5Dopen2(parent, name, dapl >= 0 ? dapl : H5P_DEFAULT);
    if (dapl >= 0) H5Pclose(dapl);
    return set;
}

// Value type of a data set's elements, given the layer's bits_per_component
// (Field3D stores half values as raw 16-bit integers).
ValueType ElementType(hid_t set, long long bits) {
    Id type(H5Dget_type(set), H5Tclose);
    if (!type.ok()) return ValueType::Other;
    const size_t size = H5Tget_size(type.get());
    switch (H5Tget_class(type.get())) {
        case H5T_FLOAT:
            if (size == 4 && bits == 32) return ValueType::Float;
            if (size == 8 && bits == 64) return ValueType::Double;
            return ValueType::Other;
        case H5T_INTEGER: return (size == 2 && bits == 16) ? ValueType::Half : ValueType::Other;
        default: return ValueType::Other;
    }
}

// Reads `count` values starting at `start` of a one- or two-dimensional
// data set (two dimensions: row `start[0]`, columns from `start[1]`) as
// floats into `out`, converting half from its raw bits.
bool ReadRun(hid_t set, ValueType type, int rank, const hsize_t* start, hsize_t count, float* out,
             std::vector<int16_t>& halfBuffer) {
    Id fileSpace(H5Dget_space(set), H5Sclose);
    if (!fileSpace.ok()) return false;
    hsize_t counts[2] = {1, count};
    const hsize_t* c = rank == 1 ? &count : counts;
    if (H5Sselect_hyperslab(fileSpace.get(), H5S_SELECT_SET, start, nullptr, c, nullptr) < 0) return false;
    Id memSpace(H5Screate_simple(1, &count, nullptr), H5Sclose);
    if (!memSpace.ok()) return false;
    if (type == ValueType::Half) {
        halfBuffer.resize(static_cast<size_t>(count));
        if (H5Dread(set, H5T_NATIVE_INT16, memSpace.get(), fileSpace.get(), H5P_DEFAULT, halfBuffer.data()) < 0)
            return false;
        for (size_t i = 0; i < count; ++i) out[i] = HalfToFloat(static_cast<uint16_t>(halfBuffer[i]));
        return true;
    }
    return H5Dread(set, H5T_NATIVE_FLOAT, memSpace.get(), fileSpace.get(), H5P_DEFAULT, out) >= 0;
}

// Checks, through calls that read only metadata, that libhdf5 can read a
// data set of `elements` values without trusting damaged storage fields: the
// storage must match the values it must produce (contiguous or compact) or
// fit the file (chunked), chunks must have the data set's rank and a sane
// size, and only the filters Field3D writes (deflate, shuffle, checksums)
// may decode the chunks.
bool StorageIsSound(hid_t set, hsize_t elements) {
    constexpr hsize_t kMaxChunkBytes = hsize_t{64} << 20;
    Id type(H5Dget_type(set), H5Tclose);
    Id space(H5Dget_space(set), H5Sclose);
    Id plist(H5Dget_create_plist(set), H5Pclose);
    Id file(H5Iget_file_id(set), H5Fclose);
    if (!type.ok() || !space.ok() || !plist.ok() || !file.ok()) return false;
    const size_t elementSize = H5Tget_size(type.get());
    hsize_t fileSize = 0;
    if (elementSize == 0 || elementSize > 64 || H5Fget_filesize(file.get(), &fileSize) < 0) return false;
    if (elements > fileSize * 1024) return false;  // no filter Field3D uses inflates further
    const hsize_t bytes = elements * elementSize;
    const hsize_t storage = H5Dget_storage_size(set);
    switch (H5Pget_layout(plist.get())) {
        case H5D_COMPACT: return storage == bytes;
        case H5D_CONTIGUOUS: {
            if (storage == 0) return true;  // never written: the fill value
            const haddr_t offset = H5Dget_offset(set);
            return storage == bytes && offset != HADDR_UNDEF && offset <= fileSize && storage <= fileSize - offset;
        }
        case H5D_CHUNKED: {
            const int rank = H5Sget_simple_extent_ndims(space.get());
            hsize_t chunk[H5S_MAX_RANK];
            if (rank < 1 || H5Pget_chunk(plist.get(), H5S_MAX_RANK, chunk) != rank) return false;
            hsize_t chunkBytes = elementSize;
            for (int d = 0; d < rank; ++d) {
                if (chunk[d] == 0 || chunk[d] > kMaxChunkBytes) return false;
                chunkBytes *= chunk[d];
                if (chunkBytes > kMaxChunkBytes) return false;
            }
            const int filters = H5Pget_nfilters(plist.get());
            if (filters < 0) return false;
            for (int f = 0; f < filters; ++f) {
                unsigned flags = 0, config = 0;
                size_t values = 0;
                const H5Z_filter_t id =
                    H5Pget_filter2(plist.get(), static_cast<unsigned>(f), &flags, &values, nullptr, 0, nullptr, &config);
                if (id != H5Z_FILTER_DEFLATE && id != H5Z_FILTER_SHUFFLE && id != H5Z_FILTER_FLETCHER32) return false;
            }
            return storage <= fileSize;
        }
        default: return false;  // virtual data sets, or an unreadable layout
    }
}

// Dimensions of a data set, rank 1 or 2 only.
bool Dims(hid_t set, int& rank, hsize_t* dims) {
    Id space(H5Dget_space(set), H5Sclose);
    if (!space.ok()) return false;
    rank = H5Sget_simple_extent_ndims(space.get());
    if (rank < 1 || rank > 2) return false;
    return H5Sget_simple_extent_dims(space.get(), dims, nullptr) == rank;
}

Code ReadMapping(hid_t partition, Mapping& mapping) {
    mapping = Mapping();
    Id group(OpenGroup(partition, "mapping"), H5Oclose);
    if (!group.ok()) return kOk;
    std::string type;
    if (Code c = ReadString(group.get(), "mapping_type", type); c != kOk) return c;
    if (type != "MatrixFieldMapping") return kOk;
    // The matrix at the first time sample; older files name it mapping_matrix.
    const char* name = HasAttribute(group.get(), "matrix_0") ? "matrix_0" : "mapping_matrix";
    if (ReadDoubles(group.get(), name, mapping.m, 16) != kOk) return kDamaged;
    mapping.matrix = true;
    return kOk;
}

Code Describe(hid_t layerGroup, Layer& layer) {
    if (Code c = ReadString(layerGroup, "class_name", layer.className); c != kOk) return c;
    layer.storage = layer.className == "DenseField"    ? Storage::Dense
                    : layer.className == "SparseField" ? Storage::Sparse
                                                       : Storage::Other;
    long long components = 0, bits = 0;
    if (Code c = ReadInt(layerGroup, "components", components); c != kOk) return c;
    layer.components = (components == 1 || components == 3) ? static_cast<int>(components) : 0;
    if (layer.storage == Storage::Other || layer.components == 0) return kUnsupportedLayer;
    if (Code c = ReadBox(layerGroup, "extents", layer.extents); c != kOk) return c;
    if (Code c = ReadBox(layerGroup, "data_window", layer.dataWindow); c != kOk) return c;
    if (Code c = ReadInt(layerGroup, "bits_per_component", bits); c != kOk) return c;
    Id set(OpenDataset(layerGroup, "data"), H5Dclose);
    if (!set.ok()) {
        // A sparse layer without allocated blocks may have no data set.
        if (layer.storage != Storage::Sparse) return kDamaged;
        layer.type = bits == 16 ? ValueType::Half : bits == 64 ? ValueType::Double : ValueType::Float;
        return kOk;
    }
    layer.type = ElementType(set.get(), bits);
    return layer.type == ValueType::Other ? kUnsupportedLayer : kOk;
}

// Values read per H5Dread of dense data: whole chunks, about 2^20 values,
// so that no chunk is inflated twice whatever its size.
hsize_t RunLength(hid_t set, hsize_t total) {
    constexpr hsize_t kTarget = hsize_t{1} << 20;
    constexpr hsize_t kMostValues = hsize_t{1} << 24;  // the buffer's limit, whatever the chunks
    hsize_t chunk = 0;
    Id plist(H5Dget_create_plist(set), H5Pclose);
    if (plist.ok() && H5Pget_layout(plist.get()) == H5D_CHUNKED && H5Pget_chunk(plist.get(), 1, &chunk) != 1) chunk = 0;
    hsize_t run = kTarget;
    if (chunk > 0) run = chunk >= kTarget ? chunk : chunk * (kTarget / chunk);
    return std::min({run, kMostValues, total});
}

Code ReadDense(hid_t layerGroup, const Layer& layer, const DenseTarget& target) {
    Id set(OpenDataset(layerGroup, "data"), H5Dclose);
    int rank = 0;
    hsize_t dims[2] = {0, 0};
    if (!set.ok() || !Dims(set.get(), rank, dims) || rank != 1) return kDamaged;
    const uint64_t total = static_cast<uint64_t>(layer.dataWindow.Cells()) * static_cast<uint64_t>(layer.components);
    if (dims[0] != total || !StorageIsSound(set.get(), total)) return kDamaged;
    DenseWriter writer(target, layer.dataWindow, layer.components);
    const hsize_t run = RunLength(set.get(), total);
    std::vector<float> values(static_cast<size_t>(run));
    std::vector<int16_t> halfBuffer;
    for (hsize_t start = 0; start < total; start += run) {
        const hsize_t n = std::min<hsize_t>(run, total - start);
        if (!ReadRun(set.get(), layer.type, 1, &start, n, values.data(), halfBuffer)) return kDamaged;
        if (!writer.Put(values.data(), static_cast<size_t>(n))) return kDamaged;
    }
    return writer.Remaining() == 0 ? kOk : kDamaged;
}

Code ReadSparse(hid_t layerGroup, const Layer& layer, const DenseTarget& target) {
    long long order = 0, numBlocks = 0, occupied = 0, res[3] = {0, 0, 0};
    if (Code c = ReadInt(layerGroup, "block_order", order); c != kOk) return c;
    if (order < 0 || order > 7) return kUnsupportedLayer;  // see the Ogawa reader
    if (Code c = ReadInts(layerGroup, "block_res", res, 3); c != kOk) return c;
    if (Code c = ReadInt(layerGroup, "num_blocks", numBlocks); c != kOk) return c;
    if (Code c = ReadInt(layerGroup, "num_occupied_blocks", occupied); c != kOk) return c;
    BlockGeometry g;
    g.dataWindow = layer.dataWindow;
    g.order = static_cast<int>(order);
    g.components = layer.components;
    for (int a = 0; a < 3; ++a)
        if (res[a] != BlocksAlong(layer.dataWindow, a, g.order)) return kDamaged;
    if (numBlocks != res[0] * res[1] * res[2] || occupied < 0 || occupied > numBlocks) return kDamaged;
    const size_t n = static_cast<size_t>(numBlocks);
    const size_t comps = static_cast<size_t>(layer.components);
    const size_t blockValues = (size_t{1} << (3 * g.order)) * comps;

    // Which blocks are allocated, and the value of the others.
    Id allocatedSet(OpenDataset(layerGroup, "block_is_allocated_data"), H5Dclose);
    Id emptySet(OpenDataset(layerGroup, "block_empty_value_data"), H5Dclose);
    int rank = 0;
    hsize_t dims[2] = {0, 0};
    if (!allocatedSet.ok() || !Dims(allocatedSet.get(), rank, dims) || rank != 1 || dims[0] != n) return kDamaged;
    if (!emptySet.ok() || !Dims(emptySet.get(), rank, dims) || (rank == 1 ? dims[0] : dims[0] * dims[1]) != n * comps)
        return kDamaged;
    if (!StorageIsSound(allocatedSet.get(), n) || !StorageIsSound(emptySet.get(), n * comps)) return kDamaged;
    std::vector<signed char> isAllocated(n);
    std::vector<float> emptyValues(n * comps);
    if (n && H5Dread(allocatedSet.get(), H5T_NATIVE_SCHAR, H5S_ALL, H5S_ALL, H5P_DEFAULT, isAllocated.data()) < 0)
        return kDamaged;
    if (n && H5Dread(emptySet.get(), H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, emptyValues.data()) < 0)
        return kDamaged;
    if (static_cast<long long>(std::count_if(isAllocated.begin(), isAllocated.end(),
                                             [](signed char b) { return b != 0; })) != occupied)
        return kDamaged;

    Id set(occupied > 0 ? OpenDataset(layerGroup, "data") : -1, H5Dclose);
    if (occupied > 0) {
        if (!set.ok() || !Dims(set.get(), rank, dims) || rank != 2 || dims[0] != static_cast<hsize_t>(occupied) ||
            dims[1] != blockValues || !StorageIsSound(set.get(), dims[0] * dims[1]))
            return kDamaged;
        if (ElementType(set.get(), layer.type == ValueType::Half ? 16 : layer.type == ValueType::Double ? 64 : 32) !=
            layer.type)
            return kDamaged;
    }
    std::vector<float> values(blockValues);
    std::vector<int16_t> halfBuffer;
    hsize_t next = 0;
    for (long long bk = 0, b = 0; bk < res[2]; ++bk) {
        for (long long bj = 0; bj < res[1]; ++bj) {
            for (long long bi = 0; bi < res[0]; ++bi, ++b) {
                if (!isAllocated[static_cast<size_t>(b)]) {
                    FillBlock(target, g, bi, bj, bk, &emptyValues[static_cast<size_t>(b) * comps]);
                    continue;
                }
                const hsize_t start[2] = {next++, 0};
                if (!ReadRun(set.get(), layer.type, 2, start, blockValues, values.data(), halfBuffer)) return kDamaged;
                PlaceBlock(target, g, bi, bj, bk, values.data());
            }
        }
    }
    return kOk;
}

}  // namespace

bool LooksLikeHdf5(const uint8_t* head, size_t size) noexcept {
    static const uint8_t kSignature[8] = {0x89, 'H', 'D', 'F', '\r', '\n', 0x1A, '\n'};
    return size >= 8 && std::memcmp(head, kSignature, 8) == 0;
}

Hdf5Field3D::~Hdf5Field3D() {
    if (file_ >= 0) {
        Quiet();
        H5Fclose(static_cast<hid_t>(file_));
    }
}

Code Hdf5Field3D::Open(const char* path) noexcept {
    Quiet();
    if (H5Fis_hdf5(path) <= 0) return kNotField3D;
    const hid_t file = H5Fopen(path, H5F_ACC_RDONLY, H5P_DEFAULT);
    if (file < 0) return kDamaged;
    file_ = file;
    return kOk;
}

Code Hdf5Field3D::ListLayers(std::vector<Layer>& out, std::vector<Code>& status) {
    Quiet();
    out.clear();
    status.clear();
    Id root(H5Gopen2(static_cast<hid_t>(file_), "/", H5P_DEFAULT), H5Gclose);
    std::vector<std::string> partitions;
    if (!root.ok() || !LinkNames(root.get(), partitions)) return kDamaged;
    for (const std::string& p : partitions) {
        Id partition(OpenGroup(root.get(), p), H5Oclose);
        if (!partition.ok() || !HasAttribute(partition.get(), "is_field3d_partition")) continue;
        Mapping mapping;
        const Code mappingCode = ReadMapping(partition.get(), mapping);
        std::vector<std::string> members;
        if (!LinkNames(partition.get(), members)) return kDamaged;
        for (const std::string& m : members) {
            if (m == "mapping") continue;
            Id group(OpenGroup(partition.get(), m), H5Oclose);
            std::string classType;
            if (!group.ok() || ReadString(group.get(), "class_type", classType) != kOk || classType != "field3d_layer")
                continue;
            Layer layer;
            layer.partition = p;
            layer.name = m;
            layer.mapping = mapping;
            Code code = Describe(group.get(), layer);
            if (code == kOk) code = mappingCode;
            out.push_back(std::move(layer));
            status.push_back(code);
        }
    }
    return kOk;
}

Code Hdf5Field3D::ReadLayer(const Layer& layer, const DenseTarget& target) {
    Quiet();
    if (!layer.dataWindow.Valid()) return kDamaged;
    if (layer.dataWindow.Cells() > kMaxCells) return kGridTooLarge;
    Id root(H5Gopen2(static_cast<hid_t>(file_), "/", H5P_DEFAULT), H5Gclose);
    if (!root.ok()) return kDamaged;
    Id partition(OpenGroup(root.get(), layer.partition), H5Oclose);
    if (!partition.ok()) return kDamaged;
    Id group(OpenGroup(partition.get(), layer.name), H5Oclose);
    if (!group.ok()) return kDamaged;
    if (layer.storage == Storage::Dense) return ReadDense(group.get(), layer, target);
    if (layer.storage == Storage::Sparse) return ReadSparse(group.get(), layer, target);
    return kUnsupportedLayer;
}

}  // namespace F3d
