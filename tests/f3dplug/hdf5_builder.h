// Writes Field3D files in the HDF5 encoding for tests, with the library
// itself, so that large, oddly chunked and inconsistent files can be made.
#pragma once
#include <hdf5.h>

#include <cstring>
#include <string>
#include <vector>

namespace Hdf5Test {

inline void IntAttribute(hid_t object, const char* name, const std::vector<int>& v) {
    const hsize_t n = v.size();
    hid_t space = H5Screate_simple(1, &n, nullptr);
    hid_t a = H5Acreate2(object, name, H5T_NATIVE_INT, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, H5T_NATIVE_INT, v.data());
    H5Aclose(a);
    H5Sclose(space);
}

inline void StringAttribute(hid_t object, const char* name, const std::string& s) {
    hid_t type = H5Tcopy(H5T_C_S1);
    H5Tset_size(type, s.size());
    hid_t space = H5Screate(H5S_SCALAR);
    hid_t a = H5Acreate2(object, name, type, space, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(a, type, s.data());
    H5Aclose(a);
    H5Sclose(space);
    H5Tclose(type);
}

struct DenseSpec {
    int size[3] = {4, 3, 2};
    int components = 1;
    hsize_t chunk = 0;           // 0: contiguous
    hsize_t storedValues = 0;    // 0: as many as the data window holds
    int bits = 32;
    std::string className = "DenseField";
};

// One partition "smoke.0", identity-sized matrix mapping, one dense float
// layer "density" with v[n] = n % 4093 (components interleaved).
inline bool WriteDense(const std::string& path, const DenseSpec& s) {
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    hid_t file = H5Fcreate(path.c_str(), H5F_ACC_TRUNC, H5P_DEFAULT, H5P_DEFAULT);
    if (file < 0) return false;
    IntAttribute(file, "version_number", {1, 7, 3});
    hid_t partition = H5Gcreate2(file, "smoke.0", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    StringAttribute(partition, "is_field3d_partition", "1");
    hid_t mapping = H5Gcreate2(partition, "mapping", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    StringAttribute(mapping, "mapping_type", "MatrixFieldMapping");
    const double m[16] = {0.1 * s.size[0], 0, 0, 0, 0, 0.1 * s.size[1], 0, 0, 0, 0, 0.1 * s.size[2], 0, 0, 0, 0, 1};
    const hsize_t sixteen = 16;
    hid_t mspace = H5Screate_simple(1, &sixteen, nullptr);
    hid_t ma = H5Acreate2(mapping, "matrix_0", H5T_NATIVE_DOUBLE, mspace, H5P_DEFAULT, H5P_DEFAULT);
    H5Awrite(ma, H5T_NATIVE_DOUBLE, m);
    H5Aclose(ma);
    H5Sclose(mspace);
    H5Gclose(mapping);
    hid_t layer = H5Gcreate2(partition, "density", H5P_DEFAULT, H5P_DEFAULT, H5P_DEFAULT);
    StringAttribute(layer, "class_type", "field3d_layer");
    StringAttribute(layer, "class_name", s.className);
    IntAttribute(layer, "version", {1});
    const std::vector<int> box = {0, 0, 0, s.size[0] - 1, s.size[1] - 1, s.size[2] - 1};
    IntAttribute(layer, "extents", box);
    IntAttribute(layer, "data_window", box);
    IntAttribute(layer, "components", {s.components});
    IntAttribute(layer, "bits_per_component", {s.bits});
    const hsize_t n = s.storedValues ? s.storedValues
                                     : hsize_t(s.size[0]) * hsize_t(s.size[1]) * hsize_t(s.size[2]) * hsize_t(s.components);
    std::vector<float> values(n);
    for (hsize_t i = 0; i < n; ++i) values[i] = float(i % 4093);
    hid_t space = H5Screate_simple(1, &n, nullptr);
    hid_t dcpl = H5Pcreate(H5P_DATASET_CREATE);
    if (s.chunk) {
        H5Pset_chunk(dcpl, 1, &s.chunk);
        H5Pset_deflate(dcpl, 1);
    }
    hid_t set = H5Dcreate2(layer, "data", H5T_NATIVE_FLOAT, space, H5P_DEFAULT, dcpl, H5P_DEFAULT);
    H5Dwrite(set, H5T_NATIVE_FLOAT, H5S_ALL, H5S_ALL, H5P_DEFAULT, values.data());
    H5Dclose(set);
    H5Pclose(dcpl);
    H5Sclose(space);
    H5Gclose(layer);
    H5Gclose(partition);
    return H5Fclose(file) >= 0;
}

}  // namespace Hdf5Test
