// Field3D files in the HDF5 encoding, read through the HDF5 library.
//
// Layout: the root group holds one group per partition ("<name>.<n>", with
// the attribute is_field3d_partition), each holding a "mapping" group and one
// group per layer (attribute class_type = "field3d_layer"). A layer records
// class_name, extents and data_window (6 ints: min xyz, max xyz),
// components and bits_per_component; dense data is a one-dimensional data
// set "data" (components interleaved, x fastest); sparse data is a data set
// of shape (allocated blocks, values per block) plus
// block_is_allocated_data and block_empty_value_data.
//
// HDF5 prints its error stack by default; every entry point here turns that
// off for the calling thread first (HDF5 keeps the setting per thread).
#pragma once
#include <cstdint>
#include <vector>

#include "f3d_types.h"

namespace F3d {

// True when the file starts with the HDF5 signature.
bool LooksLikeHdf5(const uint8_t* head, size_t size) noexcept;

class Hdf5Field3D {
public:
    Hdf5Field3D() noexcept = default;
    Hdf5Field3D(const Hdf5Field3D&) = delete;
    Hdf5Field3D& operator=(const Hdf5Field3D&) = delete;
    ~Hdf5Field3D();

    // kOk, kCannotOpen or kNotField3D.
    Code Open(const char* path) noexcept;
    // As OgawaField3D::ListLayers.
    Code ListLayers(std::vector<Layer>& out, std::vector<Code>& status);
    Code ReadLayer(const Layer& layer, const DenseTarget& target);

private:
    int64_t file_ = -1;  // hid_t
};

}  // namespace F3d
