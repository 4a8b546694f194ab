// Importing foreign frames through a module, as a host sees it: default
// mappings from the name tables, the frame the module fills, the velocity
// check, the axis turns, sequences named by templates.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>

#include "import_fresh_process.h"

namespace {

using KorTest::DefaultMapping;
using KorTest::GridName;
using KorTest::GridNames;
using KorTest::GridsNamed;
using KorTest::InFreshProcess;
using KorTest::ModuleSet;
using KorTest::TempDir;
using KorTest::TestGridFile;

std::string Write(const TempDir& dir, const std::string& name, const TestGridFile& file) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(KorTest::WriteTestGridFile(path, file));
    return path;
}

std::string Write(const TempDir& dir, const std::string& name, const std::vector<std::string>& grids) {
    return Write(dir, name, GridsNamed(grids));
}

void LoadGoodModules(int axisMode = 0) {
    ASSERT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", axisMode), 3);
}

// The entries of a mapping string, in order.
std::vector<std::pair<int, std::string>> Entries(const std::string& mapping) {
    std::vector<std::pair<int, std::string>> entries;
    for (int i = 0;; ++i) {
        int id = 0;
        char name[256];
        if (korDecomposeChannelMappingsString(&id, name, sizeof name, mapping.c_str(), i) < 0) return entries;
        entries.emplace_back(id, name);
    }
}

std::string Composed(const std::vector<std::pair<const char*, int>>& table) {
    std::string text;
    for (const auto& [name, channel] : table) text += std::to_string(channel) + "," + name + ";";
    return text;
}

TEST(ImportFrames, TheModuleFillsTheFrameThroughTheDefaultMapping) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        TestGridFile file = GridsNamed({"density", "temperature", "vel.x", "vel.y", "vel.z", "unused"});
        file.nx = 3;
        file.ny = 2;
        file.nz = 1;
        for (auto& grid : file.grids) grid.values.resize(6, 0.0f);
        const float transform[12] = {2, 0, 0, 0, 3, 0, 0, 0, 4, -1, -2, -3};
        std::memcpy(file.transform, transform, sizeof transform);
        const std::string path = Write(dir, "smoke.vdb", file);
        EXPECT_EQ(DefaultMapping(path), "2,density;1,temperature;4,vel.x;5,vel.y;6,vel.z;");

        IKor* frame = newIKor(path.c_str());
        ASSERT_NE(frame, nullptr);
        int dims[3] = {};
        frame->GetGridDim(dims);
        EXPECT_EQ(dims[0], 3);
        EXPECT_EQ(dims[1], 2);
        EXPECT_EQ(dims[2], 1);
        float got[12];
        frame->GetTransform(got);
        EXPECT_EQ(std::memcmp(got, transform, sizeof got), 0);
        const int channels[] = {2, 1, 4, 5, 6};
        for (size_t g = 0; g < 5; ++g) {
            ASSERT_EQ(frame->HasChannel(channels[g]), 1);
            const float* values = frame->GetChannel(channels[g]);
            ASSERT_NE(values, nullptr);
            for (int n = 0; n < 6; ++n) EXPECT_EQ(values[n], file.grids[g].values[static_cast<size_t>(n)]);
        }
        EXPECT_EQ(frame->HasChannel(10), 0);
        EXPECT_EQ(frame->GetChannel(10), nullptr);
        // Speed comes from the three imported velocity components.
        const float* speed = frame->GetChannel(3);
        ASSERT_NE(speed, nullptr);
        const float* vx = frame->GetChannel(4);
        const float* vy = frame->GetChannel(5);
        const float* vz = frame->GetChannel(6);
        EXPECT_FLOAT_EQ(speed[1], std::sqrt(vx[1] * vx[1] + vy[1] * vy[1] + vz[1] * vz[1]));
        // The same path and mapping share the frame.
        EXPECT_EQ(newIKor(path.c_str()), frame);
        deleteIKor(frame);
        deleteIKor(frame);
    });
}

TEST(ImportFrames, ExplicitMappingsDecideWhichGridGoesWhere) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        const std::string path = Write(dir, "a.f3d", {"heat", "soot", "x"});
        // Grid soot twice, unknown grids and channels outside 0..30 are
        // ignored by the module; the mapping is the host's.
        IKor* frame = newIKorWithChannelsMapping(path.c_str(), "10,heat;2,soot;7,soot;31,x;-1,x;99,x;3,nothere;");
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->GetChannel(10)[0], 1.0f);
        EXPECT_EQ(frame->GetChannel(2)[0], 101.0f);
        EXPECT_EQ(frame->GetChannel(7)[7], 108.0f);
        EXPECT_EQ(frame->HasChannel(1), 0);
        EXPECT_EQ(frame->HasChannel(3), 0);
        EXPECT_EQ(frame->GetChannel(31), nullptr);
        // Another mapping gives another frame.
        IKor* other = newIKorWithChannelsMapping(path.c_str(), "1,heat;");
        ASSERT_NE(other, nullptr);
        EXPECT_NE(other, frame);
        EXPECT_EQ(other->HasChannel(10), 0);
        deleteIKor(other);
        deleteIKor(frame);
    });
}

TEST(ImportFrames, VelocityIsKeptOnlyWithAllThreeComponents) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        const std::string path = Write(dir, "a.vdb", {"density", "vel.x", "vel.y"});
        EXPECT_EQ(DefaultMapping(path), "2,density;4,vel.x;5,vel.y;");
        IKor* frame = newIKor(path.c_str());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->HasChannel(2), 1);
        for (int c : {3, 4, 5, 6}) {
            EXPECT_EQ(frame->HasChannel(c), 0) << c;
            EXPECT_EQ(frame->GetChannel(c), nullptr) << c;
        }
        deleteIKor(frame);
    });
}

TEST(ImportFrames, FailedImportsGiveNoFrame) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        TestGridFile failing = GridsNamed({"density"});
        failing.importStatus = 42;  // the module's own code
        const std::string path = Write(dir, "fail.vdb", failing);
        EXPECT_EQ(newIKor(path.c_str()), nullptr);
        EXPECT_EQ(newIKorWithChannelsMapping(dir.File("missing.vdb").c_str(), "2,density;"), nullptr);
        const std::string good = Write(dir, "good.vdb", {"density"});
        EXPECT_EQ(newIKorWithChannelsMapping(good.c_str(), ""), nullptr);  // no mapping
        EXPECT_EQ(newIKorWithChannelsMapping(good.c_str(), nullptr), nullptr);
        EXPECT_EQ(newIKorWithChannelsMapping(good.c_str(), "2"), nullptr);  // no entry either
        // Only flagged grids that no table knows: no default mapping, no frame.
        TestGridFile flagged = GridsNamed({"mystery"});
        flagged.grids[0].flag = 1;
        const std::string unmapped = Write(dir, "flagged.vdb", flagged);
        EXPECT_EQ(DefaultMapping(unmapped), "");
        EXPECT_EQ(newIKor(unmapped.c_str()), nullptr);
        // Extensions are lower-cased: the module reads A.VDB too.
        const std::string capitals = Write(dir, "A.VDB", {"density"});
        IKor* frame = newIKor(capitals.c_str());
        EXPECT_NE(frame, nullptr);
        deleteIKor(frame);
    });
}

struct Turn {
    int axisMode;
    int axisResult;
    const char* name;
    bool turned;
};

TEST(ImportFrames, AxisTurnsSwapTheSecondAndThirdAxisFlippingSignBits) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        const float a[3] = {1, 2, 3}, b[3] = {4, 0.0f, 6}, c[3] = {7, -8, 0.0f}, offset[3] = {10, 11, 12};
        const Turn turns[] = {
            {1, 0, "t.vdb", true},  {1, 5, "t.vdb", false}, {0, 0, "t.vdb", false}, {2, 0, "t.vdb", false},
            {2, 0, "t.f3d", true},  {1, 0, "t.f3d", false}, {3, 0, "t.f3d", false},
        };
        for (const Turn& turn : turns) {
            TestGridFile file = GridsNamed({"density"});
            for (int i = 0; i < 3; ++i) {
                file.transform[i] = a[i];
                file.transform[3 + i] = b[i];
                file.transform[6 + i] = c[i];
                file.transform[9 + i] = offset[i];
            }
            file.axisResult = turn.axisResult;
            const std::string path = Write(dir, turn.name, file);
            ASSERT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", turn.axisMode), 3);
            IKor* frame = newIKor(path.c_str());
            ASSERT_NE(frame, nullptr);
            float t[12];
            frame->GetTransform(t);
            deleteIKor(frame);
            const bool vdb = std::strstr(turn.name, "vdb") != nullptr;
            SCOPED_TRACE(std::string(turn.name) + " mode " + std::to_string(turn.axisMode));
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(t[i], a[i]);
                EXPECT_EQ(t[9 + i], offset[i]);
                float wantB = b[i], wantC = c[i];
                if (turn.turned && vdb) {
                    wantB = -c[i];  // b := -c, c := b
                    wantC = b[i];
                } else if (turn.turned) {
                    wantB = c[i];  // b := c, c := -b
                    wantC = -b[i];
                }
                EXPECT_EQ(t[3 + i], wantB) << i;
                EXPECT_EQ(std::signbit(t[3 + i]), std::signbit(wantB)) << i;
                EXPECT_EQ(t[6 + i], wantC) << i;
                EXPECT_EQ(std::signbit(t[6 + i]), std::signbit(wantC)) << i;
            }
        }
    });
}

TEST(ImportFrames, DefaultMappingsFollowTheTablesAndTheSmokeFallback) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        TestGridFile file = GridsNamed({"temperature", "vel", "heat"});
        file.grids[1].flag = 1;
        EXPECT_EQ(DefaultMapping(Write(dir, "a.vdb", file)), "1,temperature;2,heat;");
        EXPECT_EQ(DefaultMapping(Write(dir, "b.vdb", {"density", "smoke2"})), "2,density;");
        // Matching is case-sensitive: Density is no OpenVDB name.
        EXPECT_EQ(DefaultMapping(Write(dir, "c.vdb", {"Density", "fuel"})), "10,fuel;2,Density;");
        // The fallback is appended last, after every table hit.
        EXPECT_EQ(DefaultMapping(Write(dir, "d.vdb", {"x", "y", "fuel"})), "10,fuel;2,x;");
        // The Field3D table maps VelocitiesX and VelocitiesZ the other way round.
        EXPECT_EQ(DefaultMapping(Write(dir, "e.f3d", {"VelocitiesX", "VelocitiesY", "VelocitiesZ", "Density"})),
                  "6,VelocitiesX;5,VelocitiesY;4,VelocitiesZ;2,Density;");
        EXPECT_EQ(DefaultMapping(Write(dir, "e.vdb", {"VelocitiesX", "VelocitiesZ"})), "4,VelocitiesX;6,VelocitiesZ;");
        // "velocity(Y)" is written with a capital; the small one is unknown.
        EXPECT_EQ(DefaultMapping(Write(dir, "f.f3d", {"velocity(y)", "velocity(Y)", "velocity(x)"})),
                  "5,velocity(Y);4,velocity(x);2,velocity(y);");
        // Several grids may fill one channel; all are kept.
        EXPECT_EQ(DefaultMapping(Write(dir, "g.vdb", {"Smoke", "density", "Temperature"})),
                  "2,Smoke;2,density;1,Temperature;");
        // The extension of the path decides the table, whatever its case.
        EXPECT_EQ(DefaultMapping(Write(dir, "h.F3D", {"v_mac(x)"})), "4,v_mac(x);");
        EXPECT_EQ(DefaultMapping(Write(dir, "h.vdb", {"v_mac(x)"})), "2,v_mac(x);");
    });
}

TEST(ImportFrames, EveryTableNameMapsToItsChannel) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        const std::vector<std::pair<const char*, int>> vdb = {
            {"Temperature_ost", 1}, {"Smoke_ost", 2}, {"VelocityX_ost", 4}, {"VelocityY_ost", 5},
            {"VelocityZ_ost", 6}, {"ColorR_ost", 7}, {"ColorG_ost", 8}, {"ColorB_ost", 9},
            {"Fuel_ost", 10}, {"density", 2}, {"temperature", 1}, {"fluid_density", 1},
            {"surface", 1}, {"vel.x", 4}, {"vel.y", 5}, {"vel.z", 6}, {"vel(x)", 4}, {"vel(y)", 5},
            {"vel(z)", 6}, {"V(x)", 4}, {"V(y)", 5}, {"V(z)", 6}, {"color(x)", 7}, {"color(y)", 8},
            {"color(z)", 9}, {"Smoke", 2}, {"FireFuel", 10}, {"Temperature", 1}, {"VelocitiesX", 4},
            {"VelocitiesY", 5}, {"VelocitiesZ", 6}, {"ColorR", 7}, {"ColorG", 8}, {"ColorB", 9},
            {"fuel", 10}, {"velocity_x", 4}, {"velocity_y", 5}, {"velocity_z", 6},
            {"particle_count_per_cell", 1}, {"rest.x", 7}, {"rest.y", 8}, {"rest.z", 9}};
        const std::vector<std::pair<const char*, int>> f3d = {
            {"density", 2}, {"fuel", 10}, {"temperature", 1}, {"v_mac(x)", 4}, {"velocity(x)", 4},
            {"v_mac(y)", 5}, {"velocity(Y)", 5}, {"v_mac(z)", 6}, {"velocity(Z)", 6}, {"Smoke", 2},
            {"FireFuel", 10}, {"Temperature", 1}, {"VelocitiesX", 6}, {"VelocitiesY", 5}, {"VelocitiesZ", 4},
            {"ColorR", 7}, {"ColorG", 8}, {"ColorB", 9}, {"particle_count_per_cell", 1},
            {"fluid_velocity(x)", 4}, {"fluid_velocity(y)", 5}, {"fluid_velocity(z)", 6}, {"Velocity(x)", 4},
            {"Velocity(y)", 5}, {"Velocity(z)", 6}, {"Density", 2}, {"TextureCoord(x)", 7},
            {"TextureCoord(y)", 8}, {"TextureCoord(z)", 9}};
        for (const auto& [table, extension] : {std::make_pair(&vdb, ".vdb"), std::make_pair(&f3d, ".f3d")}) {
            std::vector<std::string> names;
            for (const auto& entry : *table) names.push_back(entry.first);
            // Backwards, so that list order (not table order) decides the text.
            std::reverse(names.begin(), names.end());
            std::vector<std::pair<const char*, int>> reversed(table->rbegin(), table->rend());
            EXPECT_EQ(DefaultMapping(Write(dir, std::string("all") + extension, names)), Composed(reversed));
        }
    });
}

TEST(ImportFrames, TemplatesStandForEveryWellNamedFileOfTheSequence) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        TestGridFile second = GridsNamed({"density", "vel.x", "heat"});
        second.grids[2].flag = 1;
        Write(dir, "Cache_0001.vdb", {"density", "temperature"});
        Write(dir, "Cache_0002.vdb", second);
        Write(dir, "Cache_-001.vdb", {"negative"});
        Write(dir, "Cache_3.vdb", {"badly_padded"});
        Write(dir, "Cache_00004.vdb", {"too_wide"});
        Write(dir, "Cache_.vdb", {"no_number"});
        Write(dir, "Cache_0005.f3d", {"other_extension"});
        Write(dir, "Other_0006.vdb", {"other_prefix"});
        const std::string pattern = dir.File("Cache_####.vdb");

        const std::vector<std::string> names = GridNames(pattern);
        const std::set<std::string> found(names.begin(), names.end());
        EXPECT_EQ(names.size(), found.size());  // each grid once
        EXPECT_EQ(found, (std::set<std::string>{"density", "temperature", "vel.x", "heat", "negative"}));
        for (size_t i = 0; i < names.size(); ++i) {
            int flag = -1;
            GridName(pattern, static_cast<int>(i), &flag);
            EXPECT_EQ(flag, names[i] == "heat" ? 1 : 0) << names[i];
        }
        // Within one file the order is the file's.
        const auto at = [&](const char* n) { return std::find(names.begin(), names.end(), n) - names.begin(); };
        EXPECT_LT(at("vel.x"), at("heat"));

        const auto entries = Entries(DefaultMapping(pattern));
        const std::set<std::pair<int, std::string>> mapped(entries.begin(), entries.end());
        EXPECT_EQ(mapped, (std::set<std::pair<int, std::string>>{{2, "density"}, {1, "temperature"}, {4, "vel.x"}}));

        for (const char* other : {"Cache_%04d.vdb", "Cache_<frame04>.vdb"}) {
            const std::vector<std::string> same = GridNames(dir.File(other));
            EXPECT_EQ(std::set<std::string>(same.begin(), same.end()), found) << other;
        }
        // -1 written unsigned is 4294967295, so Cache_-001 is no frame of this one.
        const std::vector<std::string> unsignedNames = GridNames(dir.File("Cache_%04u.vdb"));
        EXPECT_EQ(std::set<std::string>(unsignedNames.begin(), unsignedNames.end()),
                  (std::set<std::string>{"density", "temperature", "vel.x", "heat"}));
        const std::vector<std::string> unpadded = GridNames(dir.File("Cache_#.vdb"));
        EXPECT_EQ(std::set<std::string>(unpadded.begin(), unpadded.end()), (std::set<std::string>{"badly_padded"}));
        EXPECT_EQ(GridNames(dir.File("missing/Cache_####.vdb")).size(), 0u);
        EXPECT_EQ(GridNames(dir.File("Cache_####.kor")).size(), 0u);
    });
}

TEST(ImportFrames, PathsWithBytesThatAreNotUtf8) {
    InFreshProcess([] {
        TempDir dir;
        LoadGoodModules();
        std::filesystem::create_directories(KorTest::NativePath(dir.File("\xff\xfe run")));
        const std::string file = Write(dir, "\xff\xfe run/\xc0\x80" "Cache_0007.vdb", {"density"});
        EXPECT_EQ(GridName(dir.File("\xff\xfe run/\xc0\x80" "Cache_####.vdb"), 0), "density");
        EXPECT_EQ(DefaultMapping(dir.File("\xff\xfe run/\xc0\x80" "Cache_%04d.vdb")), "2,density;");
        IKor* frame = newIKor(file.c_str());
        ASSERT_NE(frame, nullptr);
        EXPECT_NE(frame->GetChannel(2), nullptr);
        deleteIKor(frame);
    });
}

}  // namespace
