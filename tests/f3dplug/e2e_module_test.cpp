// The Field3D module as a host meets it: the shared library loads f3dplug
// from the build tree, lists layers, proposes mappings and imports every
// sample file in both encodings. One process, so the module loads once.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "f3d_samples.h"
#include "korloader/korloader.h"
#include "support/temp_dir.h"

using F3dSamples::Field;

namespace {

class ModuleEnvironment : public ::testing::Environment {
public:
    void SetUp() override { ready = initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 0); }
    static int ready;
};
int ModuleEnvironment::ready = -1;
const auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ModuleEnvironment);

std::vector<std::pair<std::string, int>> Listed(const std::string& path) {
    std::vector<std::pair<std::string, int>> out;
    for (int i = 0;; ++i) {
        char name[256];
        int flag = -1;
        const int r = korGet3rdPartyChannelName(name, sizeof name, &flag, path.c_str(), i);
        if (r < 0) break;
        EXPECT_EQ(r, 1);
        out.emplace_back(name, flag);
    }
    return out;
}

std::string DefaultMapping(const std::string& path) {
    char out[1024];
    EXPECT_EQ(korGenerateDefaultChannelMappings(out, sizeof out, path.c_str()), 1);
    return out;
}

// A frame, released at the end of the scope.
struct Frame {
    explicit Frame(IKor* f) : frame(f) {}
    ~Frame() { deleteIKor(frame); }
    IKor* frame;
};

uint32_t ChannelCrc(IKor* frame, int channel, size_t cells) {
    const float* v = frame->GetChannel(channel);
    if (!v) return 0;
    return uint32_t(crc32(0, reinterpret_cast<const Bytef*>(v), uInt(cells * sizeof(float))));
}

class Encodings : public ::testing::TestWithParam<bool> {
protected:
    std::string Path(const std::string& file) const { return F3dSamples::SamplePath(GetParam(), file); }
};

TEST(F3dModule, LoadsFromADirectoryWithASuffix) {
    EXPECT_EQ(ModuleEnvironment::ready & 1, 1);
    // A second call reports the loaded module as ready again.
    EXPECT_EQ(initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 0) & 1, 1);
}

TEST_P(Encodings, ListingNamesEveryLayerAndFlagsVectors) {
    for (const auto& sample : F3dSamples::Files()) {
        SCOPED_TRACE(sample.file);
        const auto listed = Listed(Path(sample.file));
        ASSERT_EQ(listed.size(), sample.layers.size());
        for (size_t i = 0; i < listed.size(); ++i) {
            EXPECT_EQ(listed[i].first, sample.layers[i].name);
            EXPECT_EQ(listed[i].second, sample.layers[i].field == Field::Vel ? 1 : 0);
        }
    }
}

TEST_P(Encodings, SequenceListsTheUnionInOrderOfFirstAppearance) {
    const auto listed = Listed(Path("seq_####.f3d"));
    ASSERT_EQ(listed.size(), 2u);  // seq_002.f3d (badpad) is not part of the sequence
    EXPECT_EQ(listed[0].first, "density");
    EXPECT_EQ(listed[1].first, "fuel");
}

TEST_P(Encodings, DefaultMappingsFollowTheFieldTable) {
    EXPECT_EQ(DefaultMapping(Path("dense_smoke.f3d")),
              "2,density;10,fuel;1,temperature;5,velocity(Y);6,velocity(Z);4,velocity(x);");
    EXPECT_EQ(DefaultMapping(Path("names.f3d")), "2,Density;6,VelocitiesX;5,VelocitiesY;4,VelocitiesZ;");
    EXPECT_EQ(DefaultMapping(Path("seq_002.f3d")), "2,badpad;");  // the smoke fallback
    EXPECT_EQ(DefaultMapping(Path("seq_####.f3d")), "2,density;10,fuel;");
}

// Channel each sample layer lands in under the default mapping (-1: none).
int DefaultChannel(const std::string& layer) {
    static const std::pair<const char*, int> table[] = {
        {"density", 2}, {"fuel", 10}, {"temperature", 1}, {"velocity(x)", 4}, {"velocity(Y)", 5},
        {"velocity(Z)", 6}, {"Density", 2}, {"VelocitiesX", 6}, {"VelocitiesY", 5}, {"VelocitiesZ", 4},
        {"badpad", 2}};
    for (const auto& [name, channel] : table)
        if (layer == name) return channel;
    return -1;
}

TEST_P(Encodings, EverySampleImportsWithItsDefaultMapping) {
    for (const auto& sample : F3dSamples::Files()) {
        SCOPED_TRACE(sample.file);
        Frame f(newIKor(Path(sample.file).c_str()));
        ASSERT_NE(f.frame, nullptr);
        int dims[3];
        f.frame->GetGridDim(dims);
        for (int a = 0; a < 3; ++a) EXPECT_EQ(dims[a], sample.dwMax[a] - sample.dwMin[a] + 1);
        const size_t cells = size_t(dims[0]) * dims[1] * dims[2];
        float t[12];
        f.frame->GetTransform(t);
        const float axes[9] = {0.1f, 0, 0, 0, 0.1f, 0, 0, 0, 0.1f};
        for (int n = 0; n < 9; ++n) EXPECT_NEAR(t[n], axes[n], 1e-7);
        for (int a = 0; a < 3; ++a)  // centre of the first cell
            EXPECT_NEAR(t[9 + a], F3dSamples::kOrigin[a] + 0.1 * (sample.dwMin[a] + 0.5), 1e-6);
        int mapped = 0;
        for (const auto& layer : sample.layers) {
            const int channel = DefaultChannel(layer.name);
            if (channel < 0) continue;
            ++mapped;
            SCOPED_TRACE(layer.name);
            ASSERT_EQ(f.frame->HasChannel(channel), 1);
            EXPECT_EQ(ChannelCrc(f.frame, channel, cells), F3dSamples::Crc(layer.field));
            const float* v = f.frame->GetChannel(channel);
            EXPECT_EQ(v[7 + dims[0] * (7 + dims[1] * 7)], F3dSamples::Value(layer.field, 7, 7, 7));
        }
        int present = 0;
        for (int c = 0; c < 31; ++c) present += f.frame->HasChannel(c) && c != 3;
        EXPECT_EQ(present, mapped);
    }
}

TEST_P(Encodings, TemplateImportsTheFirstFrameOfTheSequence) {
    for (const char* name : {"seq_####.f3d", "seq_%04d.f3d", "seq_<frame04>.f3d"}) {
        SCOPED_TRACE(name);
        // The default mapping names density and fuel; frame 1 has only density.
        Frame f(newIKor(Path(name).c_str()));
        ASSERT_NE(f.frame, nullptr);
        EXPECT_EQ(ChannelCrc(f.frame, 2, 24 * 20 * 16), F3dSamples::Crc(Field::Seq1));
        EXPECT_EQ(f.frame->HasChannel(10), 0);
    }
    EXPECT_EQ(newIKor(Path("seq_#####.f3d").c_str()), nullptr);  // no file has five digits
    EXPECT_EQ(newIKorWithChannelsMapping(Path("nothing_####.f3d").c_str(), "2,density;"), nullptr);
}

TEST_P(Encodings, VectorLayerFillsVelocityAndGivesSpeed) {
    Frame f(newIKorWithChannelsMapping(Path("dense_smoke.f3d").c_str(), "4,vel;7,vel;"));
    ASSERT_NE(f.frame, nullptr);
    const size_t cells = 24 * 20 * 16;
    EXPECT_EQ(ChannelCrc(f.frame, 4, cells), F3dSamples::Crc(Field::VX));
    EXPECT_EQ(ChannelCrc(f.frame, 5, cells), F3dSamples::Crc(Field::VY));
    EXPECT_EQ(ChannelCrc(f.frame, 6, cells), F3dSamples::Crc(Field::VZ));
    EXPECT_EQ(ChannelCrc(f.frame, 9, cells), F3dSamples::Crc(Field::VZ));  // colour blue
    const float* speed = f.frame->GetChannel(3);
    ASSERT_NE(speed, nullptr);
    const float x = -1.5f, y = 8.75f, z = -11.0f;
    EXPECT_FLOAT_EQ(speed[0], std::sqrt(x * x + y * y + z * z));
}

TEST_P(Encodings, SparseLayersMatchTheDenseOnes) {
    for (const char* file : {"sparse_smoke.f3d", "sparse_smoke_b2.f3d"}) {
        Frame sparse(newIKorWithChannelsMapping(Path(file).c_str(), "2,density;1,temperature;"));
        Frame dense(newIKorWithChannelsMapping(Path("dense_smoke.f3d").c_str(), "2,density;1,temperature;"));
        ASSERT_NE(sparse.frame, nullptr);
        ASSERT_NE(dense.frame, nullptr);
        for (int c : {1, 2})
            EXPECT_EQ(std::memcmp(sparse.frame->GetChannel(c), dense.frame->GetChannel(c), 24 * 20 * 16 * 4), 0);
    }
}

TEST_P(Encodings, OnlyVelocityXAndYLeavesNoVelocity) {
    Frame f(newIKorWithChannelsMapping(Path("dense_smoke.f3d").c_str(), "4,velocity(x);5,velocity(Y);2,density;"));
    ASSERT_NE(f.frame, nullptr);
    EXPECT_EQ(f.frame->HasChannel(4), 0);
    EXPECT_EQ(f.frame->HasChannel(5), 0);
    EXPECT_EQ(f.frame->HasChannel(2), 1);
}

TEST_P(Encodings, FailuresReturnNoFrame) {
    EXPECT_EQ(newIKorWithChannelsMapping(Path("dense_smoke.f3d").c_str(), "2,no_such_layer;"), nullptr);
    EXPECT_EQ(newIKorWithChannelsMapping(Path("missing.f3d").c_str(), "2,density;"), nullptr);
    EXPECT_EQ(newIKorWithChannelsMapping(Path("dense_smoke.f3d").c_str(), ""), nullptr);
}

INSTANTIATE_TEST_SUITE_P(F3dModule, Encodings, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& info) { return info.param ? "Hdf5" : "Ogawa"; });

TEST(F3dModule, AxisModeTwoTurnsTheTransform) {
    ASSERT_EQ(initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 2) & 1, 1);
    // Another mapping string, so that the frame cache does not hand back a
    // frame made under axis mode 0.
    Frame f(newIKorWithChannelsMapping(F3dSamples::SamplePath(false, "window.f3d").c_str(), "2,density;1,nothing;"));
    ASSERT_EQ(initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 0) & 1, 1);
    ASSERT_NE(f.frame, nullptr);
    float t[12];
    f.frame->GetTransform(t);
    // b := c, c := -b.
    EXPECT_NEAR(t[3], 0.0f, 1e-7);
    EXPECT_NEAR(t[5], 0.1f, 1e-7);
    EXPECT_NEAR(t[7], -0.1f, 1e-7);
    EXPECT_NEAR(t[8], 0.0f, 1e-7);
}

TEST(F3dModule, DamagedFilesGiveNoFrameAndNoLayers) {
    KorTest::TempDir dir;
    std::ifstream in(F3dSamples::SamplePath(false, "dense_smoke.f3d"), std::ios::binary);
    const std::vector<char> good((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ifstream in5(F3dSamples::SamplePath(true, "dense_smoke.f3d"), std::ios::binary);
    const std::vector<char> good5((std::istreambuf_iterator<char>(in5)), std::istreambuf_iterator<char>());
    int n = 0;
    for (const auto* file : {&good, &good5}) {
        for (size_t cut : {size_t(0), size_t(5), size_t(16), file->size() / 2, file->size() - 1}) {
            const std::string path = dir.File("cut" + std::to_string(n++) + ".f3d");
            std::ofstream(path, std::ios::binary).write(file->data(), std::streamsize(cut));
            EXPECT_EQ(newIKorWithChannelsMapping(path.c_str(), "2,density;"), nullptr) << cut;
            char name[64];
            int flag = 0;
            // Listing may still find the layers of a file cut late (their
            // descriptions come first); it never fails harder than that.
            (void)korGet3rdPartyChannelName(name, sizeof name, &flag, path.c_str(), 0);
        }
    }
}

}  // namespace
