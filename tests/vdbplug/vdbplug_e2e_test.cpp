// OpenVDB files written by OpenVDB, read back by a host through the shared
// library and the vdbplug module.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "korloader/korloader.h"
#include "vdb_test_writer.h"

namespace {

using VdbTest::Fill;
using VdbTest::GridSpec;
using VdbTest::ValueType;
using VdbTest::Voxel;

GridSpec Grid(const std::string& name, ValueType type, double background, std::vector<Voxel> voxels) {
    GridSpec g;
    g.name = name;
    g.type = type;
    g.background[0] = background;
    g.voxels = std::move(voxels);
    return g;
}

struct Channel {
    std::string name;
    int flag;
};

class VdbImport : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        // A directory that does not exist comes first: the module is found in the second.
        const std::string dirs = std::string(KOR_MODULE_DIR) + "/missing;" + KOR_MODULE_DIR;
        loaderResult_ = initalizeKoraLoader(dirs.c_str(), KOR_MODULE_SUFFIX, 0);
    }
    void SetUp() override {
        ASSERT_EQ(loaderResult_ & 2, 2) << "vdbplug_" KOR_MODULE_SUFFIX " not loaded from " KOR_MODULE_DIR;
        dir_ = VdbTest::MakeScratchDir("e2e");
    }
    void TearDown() override {
        for (IKor* f : frames_) deleteIKor(f);
        initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 0);
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    std::string Write(const std::string& name, const std::vector<GridSpec>& grids) {
        const std::string path = dir_ + "/" + name;
        EXPECT_TRUE(VdbTest::WriteVdb(path, grids));
        return path;
    }
    IKor* Open(const std::string& path, const char* mapping = nullptr) {
        IKor* f = mapping ? newIKorWithChannelsMapping(path.c_str(), mapping) : newIKor(path.c_str());
        if (f) frames_.push_back(f);
        return f;
    }
    static std::vector<Channel> Channels(const std::string& path) {
        std::vector<Channel> out;
        char name[256];
        int flag = -1;
        for (int i = 0; korGet3rdPartyChannelName(name, sizeof name, &flag, path.c_str(), i) == 1; ++i)
            out.push_back({name, flag});
        return out;
    }
    static std::string DefaultMapping(const std::string& path) {
        char text[1024];
        EXPECT_EQ(korGenerateDefaultChannelMappings(text, sizeof text, path.c_str()), 1);
        return text;
    }
    static float At(IKor* f, int channel, int i, int j, int k) {
        int d[3];
        f->GetGridDim(d);
        const float* data = f->GetChannel(channel);
        return data ? data[i + int64_t(d[0]) * (j + int64_t(d[1]) * k)] : -12345.0f;
    }

    static int loaderResult_;
    std::string dir_;
    std::vector<IKor*> frames_;
};
int VdbImport::loaderResult_ = 0;

TEST_F(VdbImport, ListsTheGridsOfAFileWithTheNotScalarFlag) {
    GridSpec vel = Grid("vel", ValueType::Vec3f, 0, {{0, 0, 0, {1, 2, 3}}});
    const std::string path = Write("list.vdb", {Grid("temperature", ValueType::Float, 0, {{0, 0, 0, {1}}}), vel,
                                                Grid("heat", ValueType::Double, 0, {{0, 0, 0, {1}}}),
                                                Grid("mask", ValueType::Bool, 0, {{0, 0, 0, {1}}})});
    const std::vector<Channel> grids = Channels(path);
    ASSERT_EQ(grids.size(), 4u);
    EXPECT_EQ(grids[0].name, "temperature");
    EXPECT_EQ(grids[0].flag, 0);
    EXPECT_EQ(grids[1].name, "vel");
    EXPECT_EQ(grids[1].flag, 1);
    EXPECT_EQ(grids[2].flag, 0);
    EXPECT_EQ(grids[3].name, "mask");
    EXPECT_EQ(grids[3].flag, 1);
    char name[8];
    int flag = 0;
    EXPECT_EQ(korGet3rdPartyChannelName(name, sizeof name, &flag, path.c_str(), 4), -1);
    EXPECT_EQ(korGet3rdPartyChannelName(name, 3, &flag, path.c_str(), 0), 0);  // cut
    EXPECT_STREQ(name, "te");

    // The default mapping: the table first, then the first scalar left over as smoke.
    EXPECT_EQ(DefaultMapping(path), "1,temperature;2,heat;");
    const std::string two = Write("two.vdb", {Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                                              Grid("smoke2", ValueType::Float, 0, {{0, 0, 0, {1}}})});
    EXPECT_EQ(DefaultMapping(two), "2,density;");
}

TEST_F(VdbImport, ASparseGridArrivesWithItsValuesDimsAndTransform) {
    GridSpec g = Grid("density", ValueType::Float, 0.125, {{-2, 3, 10, {1.5}}, {4, 5, 12, {-7}}, {0, 4, 11, {9}}});
    g.voxelSize[0] = 0.5;
    g.voxelSize[1] = 0.25;
    g.voxelSize[2] = 2.0;
    g.translation[0] = 10;
    g.translation[1] = -1;
    g.translation[2] = 3;
    GridSpec t = Grid("temperature", ValueType::HalfFloat, 0, {{100, 100, 100, {5}}});  // unmapped below
    std::copy(g.voxelSize, g.voxelSize + 3, t.voxelSize);
    std::copy(g.translation, g.translation + 3, t.translation);
    const std::string path = Write("sparse.vdb", {g, t});
    IKor* f = Open(path, "2,density;");
    ASSERT_NE(f, nullptr);
    int dims[3];
    f->GetGridDim(dims);
    EXPECT_EQ(dims[0], 7);
    EXPECT_EQ(dims[1], 3);
    EXPECT_EQ(dims[2], 3);
    EXPECT_EQ(f->HasChannel(2), 1);
    EXPECT_EQ(f->HasChannel(1), 0);
    EXPECT_EQ(At(f, 2, 0, 0, 0), 1.5f);
    EXPECT_EQ(At(f, 2, 6, 2, 2), -7.0f);
    EXPECT_EQ(At(f, 2, 2, 1, 1), 9.0f);
    EXPECT_EQ(At(f, 2, 1, 1, 1), 0.125f);  // background between the voxels
    float xf[12];
    f->GetTransform(xf);
    const float expected[12] = {0.5f, 0, 0, 0, 0.25f, 0, 0, 0, 2.0f, 9.0f, -0.25f, 23.0f};
    for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(xf[i], expected[i]) << i;

    // By default the half-stored temperature joins and widens the box.
    IKor* all = Open(path);
    ASSERT_NE(all, nullptr);
    all->GetGridDim(dims);
    EXPECT_EQ(dims[0], 103);
    EXPECT_EQ(At(all, 1, 102, 97, 90), 5.0f);
    EXPECT_EQ(At(all, 2, 0, 0, 0), 1.5f);
}

TEST_F(VdbImport, VectorAndSeveralGridsWithTheirOwnTransforms) {
    GridSpec density = Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {3, 3, 3, {2}}});
    GridSpec vel = Grid("vel", ValueType::Vec3d, 0, {{1, 2, 3, {-1, 0.5, 4}}});
    GridSpec colour = Grid("Cd", ValueType::Vec3f, 1, {});
    // Coarse voxels: voxel (0,0,0) is centred on fine cell (1,1,1) and spans cells 0 to 2.
    colour.voxelSize[0] = colour.voxelSize[1] = colour.voxelSize[2] = 2.0;
    colour.translation[0] = colour.translation[1] = colour.translation[2] = 1.0;
    colour.voxels.push_back({0, 0, 0, {0.25, 0.5, 0.75}});
    colour.background[1] = colour.background[2] = 1;
    const std::string path = Write("vectors.vdb", {density, vel, colour});
    IKor* f = Open(path, "2,density;4,vel;7,Cd;");
    ASSERT_NE(f, nullptr);
    int dims[3];
    f->GetGridDim(dims);
    EXPECT_EQ(dims[0], 4);
    for (int c : {2, 4, 5, 6, 7, 8, 9}) EXPECT_EQ(f->HasChannel(c), 1) << c;
    EXPECT_EQ(At(f, 4, 1, 2, 3), -1.0f);
    EXPECT_EQ(At(f, 5, 1, 2, 3), 0.5f);
    EXPECT_EQ(At(f, 6, 1, 2, 3), 4.0f);
    EXPECT_EQ(At(f, 6, 0, 0, 0), 0.0f);
    // The colour grid is resampled: its voxel's centre holds the value, half
    // a coarse voxel away it is halfway to the background.
    EXPECT_FLOAT_EQ(At(f, 7, 1, 1, 1), 0.25f);
    EXPECT_FLOAT_EQ(At(f, 9, 1, 1, 1), 0.75f);
    EXPECT_FLOAT_EQ(At(f, 8, 0, 1, 1), 0.5f * 0.5f + 0.5f * 1.0f);
    EXPECT_FLOAT_EQ(At(f, 8, 3, 3, 3), 1.0f);
}

TEST_F(VdbImport, VelocityNeedsAllThreeComponents) {
    const std::string path = Write("velxy.vdb", {Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                                                 Grid("vel.x", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                                                 Grid("vel.y", ValueType::Float, 0, {{0, 0, 0, {2}}})});
    EXPECT_EQ(DefaultMapping(path), "2,density;4,vel.x;5,vel.y;");
    IKor* f = Open(path);
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(f->HasChannel(2), 1);
    for (int c = 4; c <= 6; ++c) {
        EXPECT_EQ(f->HasChannel(c), 0) << c;
        EXPECT_EQ(f->GetChannel(c), nullptr) << c;
    }

    const std::string full = Write("velxyz.vdb", {Grid("vel.x", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                                                  Grid("vel.y", ValueType::Float, 0, {{0, 0, 0, {2}}}),
                                                  Grid("vel.z", ValueType::Float, 0, {{0, 0, 0, {3}}})});
    IKor* g = Open(full);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(At(g, 6, 0, 0, 0), 3.0f);
}

TEST_F(VdbImport, AxisModeOneTurnsTheImportedAxes) {
    GridSpec g = Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}});
    g.voxelSize[0] = 1;
    g.voxelSize[1] = 2;
    g.voxelSize[2] = 3;
    g.translation[0] = 5;
    const std::string path = Write("axes.vdb", {g});
    ASSERT_EQ(initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 1) & 2, 2);
    IKor* f = Open(path);
    ASSERT_NE(f, nullptr);
    float xf[12];
    f->GetTransform(xf);
    // b := -c and c := b; a and the offset stay.
    const float expected[12] = {1, 0, 0, -0.0f, -0.0f, -3, 0, 2, 0, 5, 0, 0};
    for (int i = 0; i < 12; ++i) {
        EXPECT_EQ(xf[i], expected[i]) << i;
        EXPECT_EQ(std::signbit(xf[i]), std::signbit(expected[i])) << i;
    }
}

TEST_F(VdbImport, ASequenceIsListedAndMappedThroughItsTemplate) {
    Write("Cache_0001.vdb", {Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                             Grid("temperature", ValueType::Float, 0, {{1, 0, 0, {300}}})});
    Write("Cache_0002.vdb", {Grid("density", ValueType::Float, 0, {{0, 0, 0, {2}}}),
                             Grid("vel.x", ValueType::Float, 0, {{0, 0, 0, {1}}}),
                             Grid("vel.y", ValueType::Float, 0, {{0, 0, 0, {2}}}),
                             Grid("vel.z", ValueType::Float, 0, {{0, 0, 0, {3}}})});
    const std::string pattern = dir_ + "/Cache_####.vdb";
    const std::vector<Channel> grids = Channels(pattern);
    ASSERT_EQ(grids.size(), 5u);
    std::vector<std::string> names;
    for (const Channel& c : grids) names.push_back(c.name);
    EXPECT_EQ(std::count(names.begin(), names.end(), "density"), 1);
    EXPECT_EQ(std::count(names.begin(), names.end(), "vel.z"), 1);
    const std::string mapping = DefaultMapping(pattern);
    for (const char* entry : {"2,density;", "1,temperature;", "4,vel.x;", "5,vel.y;", "6,vel.z;"})
        EXPECT_NE(mapping.find(entry), std::string::npos) << mapping;

    IKor* first = Open(dir_ + "/Cache_0001.vdb", mapping.c_str());
    IKor* second = Open(dir_ + "/Cache_0002.vdb", mapping.c_str());
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(first->HasChannel(1), 1);
    EXPECT_EQ(first->HasChannel(4), 0);
    EXPECT_EQ(At(first, 1, 1, 0, 0), 300.0f);
    EXPECT_EQ(second->HasChannel(1), 0);
    EXPECT_EQ(At(second, 2, 0, 0, 0), 2.0f);
    EXPECT_EQ(At(second, 5, 0, 0, 0), 2.0f);
}

TEST_F(VdbImport, MissingDamagedAndOversizedFilesGiveNoFrame) {
    EXPECT_EQ(Open(dir_ + "/absent.vdb", "2,density;"), nullptr);
    EXPECT_EQ(Open(dir_ + "/absent.vdb"), nullptr);
    const std::string text = dir_ + "/text.vdb";
    std::ofstream(text) << "not a volume";
    EXPECT_EQ(Open(text, "2,density;"), nullptr);
    EXPECT_EQ(Channels(text).size(), 0u);

    const std::string good = Write("good.vdb", {Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {9, 9, 9, {1}}})});
    std::ifstream in(good, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::string cut = dir_ + "/cut.vdb";
    std::ofstream(cut, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size() - 1));
    EXPECT_EQ(Open(cut, "2,density;"), nullptr);

    const std::string huge =
        Write("huge.vdb", {Grid("density", ValueType::Float, 0, {{0, 0, 0, {1}}, {2000, 2000, 2000, {1}}})});
    EXPECT_EQ(Open(huge), nullptr);
    EXPECT_EQ(Open(good, "2,nothing;"), nullptr);
    ASSERT_NE(Open(good), nullptr);
}

// A FIFO would block its reader until a writer came: opening refuses
// anything but a regular file, for the library's own files and the module's.
TEST_F(VdbImport, AFifoNamedLikeACacheIsRefusedWithoutBlocking) {
    for (const char* name : {"x.kor", "x.vdb"}) {
        const std::string path = dir_ + "/" + name;
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        auto opened = std::async(std::launch::async, [&] {
            return newIKorWithChannelsMapping(path.c_str(), "1,density;");
        });
        if (opened.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            // Unblock the reader so the test can end, then fail.
            const int fd = open(path.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) close(fd);
            ADD_FAILURE() << name << ": the open blocked";
        }
        EXPECT_EQ(opened.get(), nullptr) << name;
    }
}

}  // namespace
