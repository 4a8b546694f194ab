// The Field3D reader against the sample files written by Field3D itself, in
// both encodings: listing, descriptions, every voxel, checksums, mapping.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <vector>

#include "f3d_file.h"
#include "f3d_import.h"
#include "f3d_samples.h"

using namespace F3d;
using F3dSamples::Field;

namespace {

class SampleFiles : public ::testing::TestWithParam<bool> {
protected:
    bool Hdf5() const { return GetParam(); }
};

const char* TypeName(ValueType t) {
    switch (t) {
        case ValueType::Half: return "half";
        case ValueType::Float: return "float";
        case ValueType::Double: return "double";
        default: return "other";
    }
}

TEST_P(SampleFiles, ListEveryLayerWithItsDescription) {
    for (const auto& sample : F3dSamples::Files()) {
        SCOPED_TRACE(sample.file);
        Field3DFile file;
        ASSERT_EQ(file.Open(F3dSamples::SamplePath(Hdf5(), sample.file).c_str()), kOk);
        EXPECT_EQ(file.IsOgawa(), !Hdf5());
        std::vector<Layer> layers;
        std::vector<Code> status;
        ASSERT_EQ(file.ListLayers(layers, status), kOk);
        ASSERT_EQ(layers.size(), sample.layers.size());
        for (size_t i = 0; i < layers.size(); ++i) {
            const Layer& l = layers[i];
            const auto& expected = sample.layers[i];
            SCOPED_TRACE(expected.name);
            EXPECT_EQ(status[i], kOk);
            EXPECT_EQ(l.name, expected.name);
            EXPECT_EQ(l.partition, sample.partition);
            EXPECT_EQ(l.storage, expected.sparse ? Storage::Sparse : Storage::Dense);
            EXPECT_STREQ(TypeName(l.type), expected.type);
            EXPECT_EQ(l.components, expected.field == Field::Vel ? 3 : 1);
            for (int a = 0; a < 3; ++a) {
                EXPECT_EQ(l.dataWindow.min[a], sample.dwMin[a]);
                EXPECT_EQ(l.dataWindow.max[a], sample.dwMax[a]);
                EXPECT_EQ(l.extents.min[a], 0);
                EXPECT_EQ(l.extents.max[a], sample.extentsMax[a]);
            }
            ASSERT_TRUE(l.mapping.matrix);
            for (int a = 0; a < 3; ++a) {
                EXPECT_DOUBLE_EQ(l.mapping.m[a * 5], F3dSamples::kVoxel * (sample.extentsMax[a] + 1));
                EXPECT_DOUBLE_EQ(l.mapping.m[12 + a], F3dSamples::kOrigin[a]);
            }
            EXPECT_DOUBLE_EQ(l.mapping.m[15], 1.0);
        }
    }
}

TEST_P(SampleFiles, EveryVoxelAndChecksumMatchTheFormulas) {
    for (const auto& sample : F3dSamples::Files()) {
        Field3DFile file;
        ASSERT_EQ(file.Open(F3dSamples::SamplePath(Hdf5(), sample.file).c_str()), kOk);
        std::vector<Layer> layers;
        std::vector<Code> status;
        ASSERT_EQ(file.ListLayers(layers, status), kOk);
        for (size_t i = 0; i < layers.size(); ++i) {
            SCOPED_TRACE(std::string(sample.file) + " " + layers[i].name);
            const Layer& l = layers[i];
            const int sx = int(l.dataWindow.Size(0)), sy = int(l.dataWindow.Size(1)), sz = int(l.dataWindow.Size(2));
            const size_t cells = size_t(sx) * sy * sz;
            // NaN everywhere first, so that a voxel left unwritten shows.
            std::vector<float> comp[3];
            DenseTarget target;
            target.nx = sx;
            target.ny = sy;
            for (int c = 0; c < l.components; ++c) {
                comp[c].assign(cells, std::nanf(""));
                target.comp[c] = comp[c].data();
            }
            ASSERT_EQ(file.ReadLayer(l, target), kOk);
            const Field field = sample.layers[i].field;
            std::vector<float> interleaved;
            size_t wrong = 0;
            for (int k = 0; k < sz; ++k)
                for (int j = 0; j < sy; ++j)
                    for (int x = 0; x < sx; ++x)
                        for (int c = 0; c < l.components; ++c) {
                            const float v = comp[c][size_t(x) + size_t(sx) * (j + size_t(sy) * k)];
                            wrong += v != F3dSamples::Value(field, x, j, k, c);
                            interleaved.push_back(v);
                        }
            EXPECT_EQ(wrong, 0u);
            const uint32_t crc = uint32_t(crc32(0, reinterpret_cast<const Bytef*>(interleaved.data()),
                                                uInt(interleaved.size() * sizeof(float))));
            EXPECT_EQ(crc, F3dSamples::Crc(field));
        }
    }
}

TEST_P(SampleFiles, TransformPutsCellCentresWhereField3DDoes) {
    // window.f3d: voxel (11, 9, 10) is the first cell + (7, 7, 7) and its
    // centre lies at (2.15, 1.45, 0.8); voxel size 0.1 on every axis.
    Field3DFile file;
    ASSERT_EQ(file.Open(F3dSamples::SamplePath(Hdf5(), "window.f3d").c_str()), kOk);
    std::vector<Layer> layers;
    std::vector<Code> status;
    ASSERT_EQ(file.ListLayers(layers, status), kOk);
    ASSERT_EQ(layers.size(), 1u);
    const int64_t first[3] = {4, 2, 3};
    float t[12];
    GridTransform(layers[0], first, t);
    const float expectedAxes[9] = {0.1f, 0, 0, 0, 0.1f, 0, 0, 0, 0.1f};
    for (int n = 0; n < 9; ++n) EXPECT_NEAR(t[n], expectedAxes[n], 1e-7);
    EXPECT_NEAR(t[9], 1.45f, 1e-6);  // centre of voxel (4, 2, 3)
    EXPECT_NEAR(t[10], 0.75f, 1e-6);
    EXPECT_NEAR(t[11], 0.10f, 1e-6);
    const float centre[3] = {t[9] + 7 * t[0], t[10] + 7 * t[4], t[11] + 7 * t[8]};
    EXPECT_NEAR(centre[0], 2.15f, 1e-6);
    EXPECT_NEAR(centre[1], 1.45f, 1e-6);
    EXPECT_NEAR(centre[2], 0.80f, 1e-6);
}

INSTANTIATE_TEST_SUITE_P(Encodings, SampleFiles, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Hdf5" : "Ogawa"; });

TEST(SampleListing, FirstPartitionWinsAndVectorsAreFlagged) {
    for (bool hdf5 : {false, true}) {
        std::vector<ListedLayer> listed;
        ASSERT_EQ(ListFile(F3dSamples::SamplePath(hdf5, "dense_smoke.f3d").c_str(), listed), kOk);
        ASSERT_EQ(listed.size(), 7u);
        for (const auto& l : listed) EXPECT_EQ(l.vector, l.name == "vel") << l.name;
    }
}

TEST(SampleListing, MissingAndForeignFilesAreRefused) {
    std::vector<ListedLayer> listed;
    EXPECT_EQ(ListFile(F3dSamples::SamplePath(false, "no_such_file.f3d").c_str(), listed), kCannotOpen);
    EXPECT_EQ(ListFile(F3dSamples::SamplePath(false, "README.md").c_str(), listed), kNotField3D);
    EXPECT_EQ(ListFile(nullptr, listed), kCannotOpen);
    EXPECT_NE(ListFile(KOR_F3D_SAMPLES, listed), kOk);  // a directory
}

}  // namespace
