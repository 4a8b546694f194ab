// kor2vdb round trips: frames written by the test writers, converted by the
// tool, read back with OpenVDB (every voxel and every particle attribute)
// and through vdbplug; sequences with missing and damaged frames; a run
// interrupted while it writes.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/points/PointAttribute.h>
#include <openvdb/points/PointDataGrid.h>
#include <openvdb/tools/Interpolation.h>
#include <string>
#include <thread>
#include <vector>

#include "korloader/korloader.h"
#include "support/kor_writer.h"
#include "support/particle_writer.h"
#include "support/sample_frames.h"
#include "support/sg_encoder.h"
#include "support/temp_dir.h"
#include "tool_process.h"

namespace {

using Kor2VdbTest::RunTool;
using Kor2VdbTest::ToolRun;
using openvdb::Coord;

constexpr int kNx = 20, kNy = 12, kNz = 10;  // not whole leaves: blocks at the edges are partial
constexpr size_t kCells = size_t(kNx) * kNy * kNz;
const KorTest::Transform kTransform = {0.5f, 0, 0, 0, 0.5f, 0.25f, 0, 0, 0.5f, 1, -2, 3};
constexpr float kTolerance = 0.01f;

uint32_t Bits(float v) {
    uint32_t b;
    std::memcpy(&b, &v, 4);
    return b;
}

// a - b, zero where both are.
std::vector<float> Difference(const std::vector<float>& a, const std::vector<float>& b) {
    std::vector<float> d(a.size());
    for (size_t n = 0; n < a.size(); ++n) d[n] = a[n] - b[n];
    return d;
}

struct Particle {
    float p[3];
    float v[3], size, age, colour[3], extra;
    int64_t id;
    uint32_t label, raw;
};

// Scalars, vectors, a triple with a component missing, an unnamed channel,
// packed colour, and two particle groups: one with every kind of channel
// (and a particle without a finite position), one sampling the grid velocity.
KorTest::Bytes RichFrame() {
    using KorTest::SGGridOptions;
    SGGridOptions fine;
    fine.scale = 4096.0f;
    const auto smoke = [](uint32_t seed) { return KorTest::MakeSmokeField(kNx, kNy, kNz, seed); };
    std::vector<float> temperature = smoke(2);
    for (float& t : temperature) t = 300.0f + 100.0f * t;
    KorTest::Bytes bgra(kCells * 4, 0);
    const std::vector<float> tint = smoke(8);
    for (size_t n = 0; n < kCells; ++n)
        for (int c = 0; c < 3; ++c) bgra[4 * n + c] = static_cast<uint8_t>(tint[n] * (60 + 40 * c));

    const Particle sparks[] = {
        {{1.25f, 2.5f, 3.75f}, {1, 2, 3}, 0.5f, 0.1f, {1, 0, 0}, -7.5f, int64_t(1) << 40, 0xFFFFFFF0u, 0x7FC00001u},
        {{0, 0, 0}, {-1, 0, 1}, 0.25f, 0.2f, {0, 1, 0}, 0.0f, -3, 0, 0},
        {{19.9f, 11.5f, 9.5f}, {0, 0, 0}, 2.0f, 3.0f, {0, 0, 1}, 1e30f, 42, 7, 0xFFFFFFFFu},
        {{NAN, 1, 1}, {9, 9, 9}, 9.0f, 9.0f, {9, 9, 9}, 9.0f, 99, 9, 9},
        {{-4.5f, 30.0f, 2.0f}, {0.5f, 0.25f, 0.125f}, 1.0f, 4.0f, {0.5f, 0.5f, 0.5f}, -0.0f, 5, 1, 2},
    };
    constexpr int kSparks = 5;
    std::vector<float> p, v, size, age, colour, extra;
    std::vector<int64_t> ids;
    KorTest::Words labels, raws;
    for (const Particle& s : sparks) {
        p.insert(p.end(), s.p, s.p + 3);
        v.insert(v.end(), s.v, s.v + 3);
        colour.insert(colour.end(), s.colour, s.colour + 3);
        size.push_back(s.size);
        age.push_back(s.age);
        extra.push_back(s.extra);
        ids.push_back(s.id);
        labels.push_back(s.label);
        raws.push_back(s.raw);
    }
    using KorTest::EncodePlain;
    using KorTest::FloatWords;
    KorTest::CompressedGroup all{"sparks", 0, kSparks, 0, {}};
    all.channels = {{0, 0, EncodePlain(FloatWords(p))},      {1, 0, EncodePlain(FloatWords(v))},
                    {2, 0, EncodePlain(FloatWords(size))},   {3, 0, EncodePlain(FloatWords(age))},
                    {4, 0, EncodePlain(FloatWords(colour))}, {5, 0, EncodePlain(FloatWords(extra))},
                    {10, 0, EncodePlain(KorTest::Int64Words(ids))}, {12, 0, EncodePlain(labels)},
                    {20, 0, EncodePlain(raws)}};
    // Particles exactly at cells, sampling the grid velocity there.
    const std::vector<float> atCells = {3, 4, 5, 0, 0, 0, kNx - 1, kNy - 1, kNz - 1, 7, 2, 1};
    KorTest::CompressedGroup sampling{"sampling", 0x30000, 4, 0, {{0, 0, EncodePlain(FloatWords(atCells))}}};

    KorTest::KorWriter w;
    w.Grid(kNx, kNy, kNz)
        .GridTransform(kTransform)
        .GridChannel(KOR_GRID_SMOKE, smoke(1), fine)
        .GridChannel(KOR_GRID_TEMPERATURE, temperature)
        .GridChannel(KOR_GRID_VELOCITY_X, Difference(smoke(3), smoke(4)), fine)
        .GridChannel(KOR_GRID_VELOCITY_Y, smoke(5), fine)
        .GridChannel(KOR_GRID_VELOCITY_Z, Difference(smoke(6), smoke(3)), fine)
        .GridChannel(KOR_GRID_ORIGIN_X, smoke(9))
        .GridChannel(KOR_GRID_ORIGIN_Y, smoke(10))
        .GridChannel(22, smoke(11), fine)
        .PackedColour(bgra)
        .FrameNumber(7)
        .Time(0.25f)
        .InfoText("round trip")
        .Chunk(1002, KorTest::CompressedParticlesChunk({all, sampling}));
    return w.Build();
}

// A small valid frame: density only.
KorTest::Bytes SmallFrame(uint32_t seed) {
    return KorTest::KorWriter()
        .Grid(4, 4, 4)
        .GridChannel(KOR_GRID_SMOKE, KorTest::MakeSmokeField(4, 4, 4, seed))
        .Build();
}

openvdb::GridPtrVecPtr ReadGrids(const std::string& path, openvdb::MetaMap::Ptr* fileMetadata = nullptr) {
    openvdb::initialize();
    openvdb::io::File file(path);
    file.open();
    openvdb::GridPtrVecPtr grids = file.getGrids();
    if (fileMetadata) *fileMetadata = file.getMetadata();
    file.close();
    return grids;
}

template <class GridT>
typename GridT::Ptr Find(const openvdb::GridPtrVecPtr& grids, const std::string& name) {
    for (const openvdb::GridBase::Ptr& g : *grids)
        if (g->getName() == name) return openvdb::gridPtrCast<GridT>(g);
    return nullptr;
}

// The grids' names, sorted (OpenVDB lists a file's grids by name).
std::vector<std::string> Names(const openvdb::GridPtrVecPtr& grids) {
    std::vector<std::string> names;
    for (const openvdb::GridBase::Ptr& g : *grids) names.push_back(g->getName());
    std::sort(names.begin(), names.end());
    return names;
}

// Every voxel of the box: active with the channels' exact bits where any
// component is above the tolerance, inactive background 0 elsewhere; and no
// active voxel anywhere else.
template <class GridT>
void ExpectVoxels(const GridT& grid, std::vector<const float*> channels, float tolerance) {
    using ValueT = typename GridT::ValueType;
    auto access = grid.getConstAccessor();
    uint64_t active = 0;
    int wrong = 0;
    for (int k = 0; k < kNz; ++k)
        for (int j = 0; j < kNy; ++j)
            for (int i = 0; i < kNx; ++i) {
                const size_t n = size_t(i) + size_t(kNx) * j + size_t(kNx) * kNy * k;
                bool on = false;
                for (const float* c : channels) on = on || !(std::fabs(c[n]) <= tolerance);
                ValueT value;
                const bool gotOn = access.probeValue(Coord(i, j, k), value);
                const float* got = reinterpret_cast<const float*>(&value);
                bool same = gotOn == on;
                for (size_t c = 0; c < channels.size(); ++c)
                    same = same && Bits(got[c]) == Bits(on ? channels[c][n] : 0.0f);
                if (!same && wrong++ < 3)
                    ADD_FAILURE() << grid.getName() << " voxel (" << i << "," << j << "," << k << ") active " << gotOn
                                  << " value " << got[0] << ", expected " << on << " " << channels[0][n];
                active += on;
            }
    EXPECT_EQ(grid.activeVoxelCount(), active) << grid.getName();
}

// The points of a point data grid, in world space, with their attributes.
struct ReadPoint {
    openvdb::Vec3d world;
    std::map<std::string, std::vector<double>> values;
};

template <class T>
void ReadAttribute(const openvdb::points::PointDataTree::LeafNodeType& leaf, const std::string& name,
                   openvdb::Index index, ReadPoint& point) {
    const size_t at = leaf.attributeSet().find(name);
    if (at == openvdb::points::AttributeSet::INVALID_POS) return;
    openvdb::points::AttributeHandle<T> handle(leaf.constAttributeArray(at));
    const T value = handle.get(index);
    if constexpr (std::is_same_v<T, openvdb::Vec3f>)
        point.values[name] = {value[0], value[1], value[2]};
    else
        point.values[name] = {static_cast<double>(value)};
}

std::vector<ReadPoint> ReadPoints(const openvdb::points::PointDataGrid& grid) {
    std::vector<ReadPoint> points;
    for (auto leaf = grid.tree().cbeginLeaf(); leaf; ++leaf) {
        openvdb::points::AttributeHandle<openvdb::Vec3f> position(leaf->constAttributeArray("P"));
        for (auto index = leaf->beginIndexOn(); index; ++index) {
            ReadPoint point;
            point.world = grid.transform().indexToWorld(index.getCoord().asVec3d() + position.get(*index));
            for (const char* name : {"v", "Cd"}) ReadAttribute<openvdb::Vec3f>(*leaf, name, *index, point);
            for (const char* name : {"pscale", "age", "channel_5"}) ReadAttribute<float>(*leaf, name, *index, point);
            for (const char* name : {"id", "channel_12"}) ReadAttribute<int64_t>(*leaf, name, *index, point);
            ReadAttribute<int32_t>(*leaf, "channel_20", *index, point);
            points.push_back(std::move(point));
        }
    }
    return points;
}

openvdb::Vec3d ExpectedWorld(const float p[3]) {
    const KorTest::Transform& t = kTransform;
    openvdb::Vec3d w;
    for (int a = 0; a < 3; ++a)
        w[a] = double(t[9 + a]) + p[0] * double(t[a]) + p[1] * double(t[3 + a]) + p[2] * double(t[6 + a]);
    return w;
}

class Kor2Vdb : public ::testing::Test {
protected:
    // One frame, converted once with the default tolerance and the particles
    // in their own file, and once with a tolerance and everything together.
    static void SetUpTestSuite() {
        dir_ = new KorTest::TempDir();
        input_ = dir_->File("rich_0007.kor");
        ASSERT_TRUE(KorTest::WriteFileBytes(input_, RichFrame()));
        exact_ = RunTool({"--points", "separate", "--json", input_, dir_->File("exact.vdb")}, dir_->Path().string());
        tolerant_ = RunTool({"--tolerance", "0.01", input_, dir_->File("tolerant.vdb")}, dir_->Path().string());
        modules_ = initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 0);
        original_ = newIKor(input_.c_str());
    }
    static void TearDownTestSuite() {
        deleteIKor(original_);
        delete dir_;
    }
    static const float* Channel(int id) { return original_->GetChannel(id); }

    static KorTest::TempDir* dir_;
    static std::string input_;
    static ToolRun exact_, tolerant_;
    static int modules_;
    static IKor* original_;
};
KorTest::TempDir* Kor2Vdb::dir_ = nullptr;
std::string Kor2Vdb::input_;
ToolRun Kor2Vdb::exact_, Kor2Vdb::tolerant_;
int Kor2Vdb::modules_ = 0;
IKor* Kor2Vdb::original_ = nullptr;

TEST_F(Kor2Vdb, EveryVoxelRoundTripsBitForBit) {
    ASSERT_EQ(exact_.status, 0) << exact_.err;
    ASSERT_EQ(tolerant_.status, 0) << tolerant_.err;
    ASSERT_NE(original_, nullptr);
    EXPECT_NE(exact_.out.find("\"ok\":true"), std::string::npos) << exact_.out;
    for (const auto& run : {std::pair{"exact.vdb", 0.0f}, std::pair{"tolerant.vdb", kTolerance}}) {
        const char* file = run.first;
        const float tolerance = run.second;
        SCOPED_TRACE(file);
        openvdb::MetaMap::Ptr fileMetadata;
        const openvdb::GridPtrVecPtr grids = ReadGrids(dir_->File(file), &fileMetadata);
        // Speed is derived from velocity here, not stored: it is not written.
        std::vector<std::string> expected = {"Cd", "channel_22", "density", "rest.x", "rest.y", "temperature", "vel"};
        if (tolerance > 0) expected = {"Cd", "channel_22", "density", "rest.x", "rest.y", "sampling", "sparks",
                                       "temperature", "vel"};
        EXPECT_EQ(Names(grids), expected);

        const auto scalar = [&](const char* name, int id) {
            const auto g = Find<openvdb::FloatGrid>(grids, name);
            ASSERT_NE(g, nullptr) << name;
            EXPECT_EQ(g->getGridClass(), openvdb::GRID_FOG_VOLUME);
            EXPECT_EQ(g->background(), 0.0f);
            ExpectVoxels(*g, {Channel(id)}, tolerance);
        };
        scalar("temperature", KOR_GRID_TEMPERATURE);
        scalar("density", KOR_GRID_SMOKE);
        scalar("rest.x", KOR_GRID_ORIGIN_X);
        scalar("rest.y", KOR_GRID_ORIGIN_Y);
        scalar("channel_22", 22);
        const auto vel = Find<openvdb::Vec3SGrid>(grids, "vel");
        const auto cd = Find<openvdb::Vec3SGrid>(grids, "Cd");
        ASSERT_TRUE(vel && cd);
        EXPECT_EQ(vel->getVectorType(), openvdb::VEC_CONTRAVARIANT_RELATIVE);
        ExpectVoxels(*vel, {Channel(4), Channel(5), Channel(6)}, tolerance);
        ExpectVoxels(*cd, {Channel(7), Channel(8), Channel(9)}, tolerance);

        // Index to world by the frame's transform, exactly.
        const float corner[3] = {3, 5, 7};
        EXPECT_EQ(vel->transform().indexToWorld(Coord(3, 5, 7)), ExpectedWorld(corner));
        for (const auto* meta : {static_cast<const openvdb::MetaMap*>(fileMetadata.get()),
                                 static_cast<const openvdb::MetaMap*>(vel.get())}) {
            EXPECT_EQ(meta->metaValue<int32_t>("frame"), 7);
            EXPECT_EQ(meta->metaValue<double>("time"), 0.25);
            EXPECT_EQ(meta->metaValue<std::string>("info"), "round trip");
        }
    }
}

TEST_F(Kor2Vdb, EveryParticleAttributeRoundTrips) {
    ASSERT_EQ(exact_.status, 0) << exact_.err;
    // The particle without a finite position is left out, and said so.
    EXPECT_NE(exact_.err.find("left out 1 particles of group 'sparks'"), std::string::npos) << exact_.err;
    EXPECT_NE(exact_.out.find("\"particles\":8"), std::string::npos) << exact_.out;
    const openvdb::GridPtrVecPtr together = ReadGrids(dir_->File("tolerant.vdb"));
    const openvdb::GridPtrVecPtr separate = ReadGrids(dir_->File("exact.points.vdb"));
    EXPECT_EQ(Names(separate), (std::vector<std::string>{"sampling", "sparks"}));
    for (const openvdb::GridPtrVecPtr& grids : {together, separate}) {
        const auto sparks = Find<openvdb::points::PointDataGrid>(grids, "sparks");
        ASSERT_NE(sparks, nullptr);
        IOstrelPrtGroup* group = original_->GetParticleGroupByName("sparks");
        ASSERT_NE(group, nullptr);
        const std::vector<ReadPoint> points = ReadPoints(*sparks);
        ASSERT_EQ(points.size(), 4u);
        for (const ReadPoint& point : points) {
            ASSERT_EQ(point.values.count("id"), 1u);
            const int index = group->FindParticleByID(static_cast<long long>(point.values.at("id")[0]));
            ASSERT_GE(index, 0);
            float p[3], v[3], size, age, colour[3], extra;
            uint32_t label, raw;
            group->GetParticleChannel(index, 0, p);
            group->GetParticleChannel(index, 1, v);
            group->GetParticleChannel(index, 2, &size);
            group->GetParticleChannel(index, 3, &age);
            group->GetParticleChannel(index, 4, colour);
            group->GetParticleChannel(index, 5, &extra);
            group->GetParticleChannel(index, 12, &label);
            group->GetParticleChannel(index, 20, &raw);
            const openvdb::Vec3d world = ExpectedWorld(p);
            for (int a = 0; a < 3; ++a) EXPECT_NEAR(point.world[a], world[a], 1e-5);
            EXPECT_EQ(point.values.at("v"), (std::vector<double>{v[0], v[1], v[2]}));
            EXPECT_EQ(point.values.at("Cd"), (std::vector<double>{colour[0], colour[1], colour[2]}));
            EXPECT_EQ(point.values.at("pscale")[0], size);
            EXPECT_EQ(point.values.at("age")[0], age);
            EXPECT_EQ(Bits(static_cast<float>(point.values.at("channel_5")[0])), Bits(extra));
            EXPECT_EQ(point.values.at("channel_12")[0], label);  // unsigned 32-bit, as int64
            EXPECT_EQ(static_cast<uint32_t>(static_cast<int32_t>(point.values.at("channel_20")[0])), raw);
        }
    }
}

TEST_F(Kor2Vdb, AParticleAtTheCentreOfAVoxelSamplesThatVoxel) {
    ASSERT_EQ(exact_.status, 0) << exact_.err;
    const auto vel = Find<openvdb::Vec3SGrid>(ReadGrids(dir_->File("exact.vdb")), "vel");
    const auto sampling = Find<openvdb::points::PointDataGrid>(ReadGrids(dir_->File("exact.points.vdb")), "sampling");
    ASSERT_TRUE(vel && sampling);
    const std::vector<ReadPoint> points = ReadPoints(*sampling);
    ASSERT_EQ(points.size(), 4u);
    for (const ReadPoint& point : points) {
        // P lies on the centre of a voxel of the grids ...
        const openvdb::Vec3d index = vel->transform().worldToIndex(point.world);
        const Coord voxel = Coord::round(index);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(index[a], voxel[a], 1e-5);
        // ... and its velocity, sampled from the grid by the library, is that voxel's.
        const openvdb::Vec3f expected = vel->tree().getValue(voxel);
        EXPECT_EQ(point.values.at("v"), (std::vector<double>{expected[0], expected[1], expected[2]})) << voxel;
        const openvdb::Vec3f sampled = openvdb::tools::BoxSampler::sample(vel->tree(), index);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(sampled[a], expected[a], 1e-4);
    }
}

TEST_F(Kor2Vdb, VdbplugReadsTheChannelsBackOnTheCoveredBox) {
    ASSERT_EQ(exact_.status, 0) << exact_.err;
    ASSERT_EQ(modules_ & 2, 2) << "vdbplug not loaded from " KOR_MODULE_DIR;
    const std::string vdb = dir_->File("exact.vdb");
    // The default mapping finds density and temperature; vectors and the
    // unnamed channel are mapped by name.
    for (const char* mapping : {static_cast<const char*>(nullptr), "4,vel;7,Cd;22,channel_22;"}) {
        SCOPED_TRACE(mapping ? mapping : "default mapping");
        IKor* frame = mapping ? newIKorWithChannelsMapping(vdb.c_str(), mapping) : newIKor(vdb.c_str());
        ASSERT_NE(frame, nullptr);
        const std::vector<int> ids = mapping ? std::vector<int>{4, 5, 6, 7, 8, 9, 22} : std::vector<int>{1, 2};
        // The module's box: the active voxels of the grids it read.
        int lo[3] = {kNx, kNy, kNz}, hi[3] = {-1, -1, -1};
        for (int k = 0; k < kNz; ++k)
            for (int j = 0; j < kNy; ++j)
                for (int i = 0; i < kNx; ++i)
                    for (int id : ids)
                        if (Channel(id)[size_t(i) + size_t(kNx) * j + size_t(kNx) * kNy * k] != 0.0f) {
                            const int c[3] = {i, j, k};
                            for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], c[a]), hi[a] = std::max(hi[a], c[a]);
                        }
        int dims[3];
        frame->GetGridDim(dims);
        for (int a = 0; a < 3; ++a) EXPECT_EQ(dims[a], hi[a] - lo[a] + 1);
        float t[12];
        frame->GetTransform(t);
        const float first[3] = {float(lo[0]), float(lo[1]), float(lo[2])};
        for (int a = 0; a < 9; ++a) EXPECT_EQ(t[a], kTransform[a]);
        for (int a = 0; a < 3; ++a) EXPECT_NEAR(t[9 + a], ExpectedWorld(first)[a], 1e-5);
        int wrong = 0;
        for (int id : ids) {
            const float* got = frame->GetChannel(id);
            ASSERT_NE(got, nullptr) << id;
            for (int k = 0; k < dims[2]; ++k)
                for (int j = 0; j < dims[1]; ++j)
                    for (int i = 0; i < dims[0]; ++i) {
                        const float want = Channel(id)[size_t(i + lo[0]) + size_t(kNx) * (j + lo[1]) +
                                                       size_t(kNx) * kNy * (k + lo[2])];
                        const float have = got[size_t(i) + size_t(dims[0]) * j + size_t(dims[0]) * dims[1] * k];
                        if (have != want && wrong++ < 3) ADD_FAILURE() << id << " at " << i << "," << j << "," << k;
                    }
        }
        deleteIKor(frame);
    }
}

bool Exists(const std::string& path) { return std::filesystem::exists(path); }

std::vector<std::string> Temporaries(const std::filesystem::path& dir) {
    std::vector<std::string> found;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (it->path().extension() == ".tmp") found.push_back(it->path().filename().string());
    return found;
}

TEST(Kor2VdbSequence, MissingAndDamagedFramesFailAloneAndLeaveNothing) {
    KorTest::TempDir dir;
    const std::string scratch = dir.Path().string();
    ASSERT_TRUE(KorTest::WriteFileBytes(dir.File("seq_0001.kor"), SmallFrame(1)));
    ASSERT_TRUE(KorTest::WriteFileBytes(dir.File("seq_0002.kor"), SmallFrame(2)));
    // 3 is missing; 4 is not a cache frame; 5 holds a channel that does not decode.
    ASSERT_TRUE(KorTest::WriteFileBytes(dir.File("seq_0004.kor"), KorTest::Bytes(64, 0x5A)));
    ASSERT_TRUE(KorTest::KorWriter()
                    .Grid(4, 4, 4)
                    .GridChannel(KOR_GRID_SMOKE, KorTest::MakeSmokeField(4, 4, 4, 5))
                    .Channel(KOR_GRID_TEMPERATURE, KorTest::Bytes{1, 2, 3, 4, 5, 6, 7, 8})
                    .WriteFile(dir.File("seq_0005.kor")));
    const std::string input = dir.File("seq_####.kor"), output = dir.File("out_####.vdb");

    ToolRun run = RunTool({"-j", "2", "--quiet", input, output}, scratch);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("seq_0003.kor: missing file"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("seq_0004.kor: cannot be read: damaged or not a cache frame"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("seq_0005.kor: channel temperature (1) does not decode"), std::string::npos) << run.err;
    for (int f = 1; f <= 5; ++f) EXPECT_EQ(Exists(dir.File("out_000" + std::to_string(f) + ".vdb")), f <= 2) << f;
    EXPECT_EQ(Temporaries(dir.Path()), std::vector<std::string>{});

    // With --skip-bad-channels frame 5 is written without the channel, and says so.
    run = RunTool({"--skip-bad-channels", "--frames", "5", input, output}, scratch);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.err.find("left out channel temperature (1): it does not decode"), std::string::npos) << run.err;
    EXPECT_EQ(Names(ReadGrids(dir.File("out_0005.vdb"))), std::vector<std::string>{"density"});

    // Shard 1 of 2 takes frames 2 and 4 of 1..5.
    for (int f : {1, 2, 5}) std::filesystem::remove(dir.File("out_000" + std::to_string(f) + ".vdb"));
    run = RunTool({"--shard", "1/2", "--quiet", input, output}, scratch);
    EXPECT_EQ(run.status, 1) << run.err;
    for (int f = 1; f <= 5; ++f) EXPECT_EQ(Exists(dir.File("out_000" + std::to_string(f) + ".vdb")), f == 2) << f;
}

TEST(Kor2VdbSequence, HostileFramesFailOrConvertButNeverCrashTheTool) {
    KorTest::TempDir dir;
    std::vector<KorTest::SampleFile> hostile = KorTest::HostileFrames();
    // Transforms that no OpenVDB transform can be: placing particles on them
    // would turn NaN into grid coordinates.
    const KorTest::CompressedGroup group{"g", 0, 1, 0, {{0, 0, KorTest::EncodePlain(KorTest::FloatWords({1, 1, 1}))}}};
    for (const KorTest::Transform& t : {KorTest::Transform{}, KorTest::Transform{1, 0, 0, 0, NAN, 0, 0, 0, 1, 0, 0, 0}})
        hostile.push_back({"", KorTest::KorWriter()
                                   .Grid(2, 2, 2)
                                   .GridTransform(t)
                                   .GridChannel(KOR_GRID_SMOKE, std::vector<float>(8, 1.0f))
                                   .Chunk(1002, KorTest::CompressedParticlesChunk({group}))
                                   .Build()});
    for (size_t f = 0; f < hostile.size(); ++f) {
        char name[48];
        std::snprintf(name, sizeof name, "hostile_%03zu.kor", f + 1);
        ASSERT_TRUE(KorTest::WriteFileBytes(dir.File(name), hostile[f].bytes));
    }
    const ToolRun run = RunTool({"--quiet", "-j", "2", dir.File("hostile_###.kor"), dir.File("out_###.vdb")},
                                dir.Path().string());
    EXPECT_EQ(run.status, 1) << run.err;  // some fail, each on a line of its own; none ends the run
    EXPECT_NE(run.err.find("cannot be converted: its transform is singular"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("cannot be converted: its transform is not finite"), std::string::npos) << run.err;
    EXPECT_EQ(Temporaries(dir.Path()), std::vector<std::string>{});
}

TEST(Kor2VdbSequence, AnInterruptedWriteLeavesNoFileAndKeepsTheOldOne) {
    KorTest::TempDir dir;
    const std::string scratch = dir.Path().string();
    // Frames of noise that zip compresses slowly, so that a write lasts.
    constexpr int kFrames = 12, kSide = 48;
    std::vector<float> noise(size_t(kSide) * kSide * kSide);
    for (size_t n = 0; n < noise.size(); ++n) noise[n] = 1.0f + static_cast<float>((n * 2654435761u) % 1000) / 7.0f;
    KorTest::KorWriter writer;
    writer.Grid(kSide, kSide, kSide);
    for (int id : {1, 2, 4, 5, 6, 10}) writer.Channel(id, KorTest::SGRawStream(noise.data(), noise.size()));
    const KorTest::Bytes frame = writer.Build();
    const std::string old = "an older file that must survive";
    for (int f = 1; f <= kFrames; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "in_%02d.kor", f);
        ASSERT_TRUE(KorTest::WriteFileBytes(dir.File(name), frame));
        std::snprintf(name, sizeof name, "out_%02d.vdb", f);
        ASSERT_TRUE(KorTest::WriteFileBytes(dir.File(name), KorTest::Bytes(old.begin(), old.end())));
    }

    // Stop the tool while a temporary exists, then end it with SIGTERM.
    const pid_t pid = Kor2VdbTest::StartTool(
        {"-j", "1", "--compression", "zip", dir.File("in_##.kor"), dir.File("out_##.vdb")}, scratch + "/out",
        scratch + "/err");
    ASSERT_GT(pid, 0);
    std::string interrupted;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (interrupted.empty() && std::chrono::steady_clock::now() < deadline) {
        if (Temporaries(dir.Path()).empty()) continue;
        kill(pid, SIGSTOP);
        const std::vector<std::string> temporaries = Temporaries(dir.Path());
        if (!temporaries.empty()) {
            // ".out_05.vdb.kor2vdb-<pid>-<n>.tmp": the frame being written.
            interrupted = temporaries[0].substr(1, temporaries[0].find(".kor2vdb-") - 1);
            kill(pid, SIGTERM);
        }
        kill(pid, SIGCONT);
    }
    const int status = Kor2VdbTest::WaitTool(pid);
    ASSERT_FALSE(interrupted.empty()) << "the tool ended before a write was seen: "
                                      << Kor2VdbTest::ReadFile(scratch + "/err");
    EXPECT_EQ(status, 128 + SIGTERM);
    EXPECT_EQ(Temporaries(dir.Path()), std::vector<std::string>{});
    EXPECT_EQ(Kor2VdbTest::ReadFile(dir.File(interrupted)), old) << interrupted;
    // Every other output is the old file or a whole new one.
    for (int f = 1; f <= kFrames; ++f) {
        char name[32];
        std::snprintf(name, sizeof name, "out_%02d.vdb", f);
        if (Kor2VdbTest::ReadFile(dir.File(name)) != old) {
            EXPECT_EQ(ReadGrids(dir.File(name))->size(), 4u) << name;
        }
    }
}

TEST(Kor2VdbUsage, BadUsageExitsWithTwoAndHelpWithZero) {
    KorTest::TempDir dir;
    const std::string scratch = dir.Path().string();
    const ToolRun help = RunTool({"--help"}, scratch);
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("Usage: kor2vdb", 0), 0u) << help.out;
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {},
             {"--bogus", "a.kor", "a.vdb"},
             {"--frames", "9-1", "a_####.kor", "a_####.vdb"},
             {"a_####.kor", "a.vdb"},
             {"a.kor", "a.exr"},
             {"--channels", "density,nonsense", "a.kor", "a.vdb"},
             {"--name", "5=vy", "a.kor", "a.vdb"},
             {"--name", "1=density", "a.kor", "a.vdb"},
             {"--shard", "2/2", "a.kor", "a.vdb"}}) {
        const ToolRun run = RunTool(args, scratch);
        EXPECT_EQ(run.status, 2) << (args.empty() ? "" : args[0]) << ": " << run.err;
        EXPECT_NE(run.err.find("kor2vdb: "), std::string::npos);
    }
}

}  // namespace
