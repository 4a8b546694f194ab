// What the Field3D sample files hold: the layers of each file and the
// formula of every value (indices relative to the data window, all values
// exact in half, float and double), with the per-field CRC-32 of the values
// as float32 little-endian in x-fastest order.
#pragma once
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#ifndef KOR_F3D_SAMPLES
#error "KOR_F3D_SAMPLES must name the directory of the Field3D samples"
#endif

namespace F3dSamples {

enum class Field { D, T, F, VX, VY, VZ, Vel, Seq1, Seq2, Seq3, B };

inline double Sphere(int i, int j, int k, int c) {
    return std::max(0, 48 - ((i - c) * (i - c) + (j - 7) * (j - 7) + (k - 7) * (k - 7)));
}

// Component `comp` of a field at (i, j, k) relative to the data window.
inline float Value(Field f, int i, int j, int k, int comp = 0) {
    switch (f) {
        case Field::D: return static_cast<float>(Sphere(i, j, k, 7) / 64);
        case Field::T: return static_cast<float>(Sphere(i, j, k, 7) * (k + 1) / 256);
        case Field::F: return static_cast<float>(((i + 2 * j + 3 * k) % 16) / 16.0);
        case Field::VX: return static_cast<float>((i - 12) / 8.0);
        case Field::VY: return static_cast<float>((j - 10) / 8.0 + 10);
        case Field::VZ: return static_cast<float>((k - 8) / 8.0 - 10);
        case Field::Vel: return Value(comp == 0 ? Field::VX : comp == 1 ? Field::VY : Field::VZ, i, j, k);
        case Field::Seq1: return static_cast<float>(1 * Sphere(i, j, k, 7) / 64);
        case Field::Seq2: return static_cast<float>(2 * Sphere(i, j, k, 9) / 64);
        case Field::Seq3: return static_cast<float>(3 * Sphere(i, j, k, 11) / 64);
        case Field::B: return static_cast<float>((i + j + k) / 64.0);
    }
    return 0;
}

// CRC-32 of the field's float32 values (x, y, z interleaved for Vel).
inline uint32_t Crc(Field f) {
    switch (f) {
        case Field::D: case Field::Seq1: return 0x0f9b188au;
        case Field::T: return 0x88c22d47u;
        case Field::F: return 0x531a1e49u;
        case Field::VX: return 0xceb94033u;
        case Field::VY: return 0xf0aef2f8u;
        case Field::VZ: return 0x8f5f18c7u;
        case Field::Vel: return 0xcb6416abu;
        case Field::Seq2: return 0xd0b0cbf0u;
        case Field::Seq3: return 0x5658f286u;
        case Field::B: return 0x6ee4d67du;
    }
    return 0;
}

struct SampleLayer {
    const char* name;
    Field field;
    bool sparse;
    const char* type;  // "half", "float", "double"
};

struct SampleFile {
    const char* file;
    const char* partition;  // on disk
    std::vector<SampleLayer> layers;  // in byte order of their names
    int dwMin[3];
    int dwMax[3];
    int extentsMax[3];
};

inline const std::vector<SampleFile>& Files() {
    static const std::vector<SampleFile> files = {
        {"dense_smoke.f3d", "smoke.0",
         {{"density", Field::D, false, "float"},
          {"fuel", Field::F, false, "float"},
          {"temperature", Field::T, false, "float"},
          {"vel", Field::Vel, false, "float"},
          {"velocity(Y)", Field::VY, false, "float"},
          {"velocity(Z)", Field::VZ, false, "float"},
          {"velocity(x)", Field::VX, false, "float"}},
         {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"sparse_smoke.f3d", "smoke.0",
         {{"density", Field::D, true, "float"}, {"temperature", Field::T, true, "float"}},
         {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"sparse_smoke_b2.f3d", "smoke.0",
         {{"density", Field::D, true, "float"}, {"temperature", Field::T, true, "float"}},
         {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"window.f3d", "smoke.0", {{"density", Field::D, false, "float"}}, {4, 2, 3}, {27, 21, 18}, {31, 31, 31}},
        {"half_and_double.f3d", "smoke.0",
         {{"density", Field::D, false, "half"}, {"temperature", Field::T, false, "double"}},
         {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"seq_0001.f3d", "smoke.0", {{"density", Field::Seq1, false, "float"}}, {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"seq_0002.f3d", "smoke.0",
         {{"density", Field::Seq2, false, "float"}, {"fuel", Field::F, false, "float"}},
         {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"seq_0003.f3d", "smoke.0", {{"density", Field::Seq3, false, "float"}}, {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"seq_002.f3d", "smoke.0", {{"badpad", Field::B, false, "float"}}, {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
        {"names.f3d", "default.0",
         {{"Density", Field::D, false, "float"},
          {"VelocitiesX", Field::VX, false, "float"},
          {"VelocitiesY", Field::VY, false, "float"},
          {"VelocitiesZ", Field::VZ, false, "float"},
          {"heat", Field::T, false, "float"}},
         {0, 0, 0}, {23, 19, 15}, {23, 19, 15}},
    };
    return files;
}

// The two encodings: Ogawa files at the top, HDF5 files in hdf5/.
inline std::string SamplePath(bool hdf5, const std::string& file) {
    return std::string(KOR_F3D_SAMPLES) + (hdf5 ? "/hdf5/" : "/") + file;
}

// World transform shared by all samples: voxel size 0.1, the extents'
// minimum corner at (1.0, 0.5, -0.25).
constexpr double kVoxel = 0.1;
constexpr double kOrigin[3] = {1.0, 0.5, -0.25};

}  // namespace F3dSamples
