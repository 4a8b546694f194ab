// The importers' own rules: readiness, status codes, log lines and what
// they leave in the frame. Scenarios that load modules run in a fresh
// process each (a module is loaded once per process).
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "frame/ostrel_frame_data.h"
#include "import/default_mappings.h"
#include "import/importers.h"
#include "log_capture.h"
#include "support/fresh_process.h"
#include "support/temp_dir.h"
#include "support/test_grid_file.h"

namespace {

using KorTest::InFreshProcess;

const std::string kGood = std::string(KOR_TEST_MODULES_DIR) + "/good";

std::vector<std::pair<int, std::string>> Parsed(const char* text) {
    CacheIO::GridMappings list;
    EXPECT_TRUE(ParseMappingString(text, list));
    std::vector<std::pair<int, std::string>> out;
    for (const CacheIO::GridMapping& m : list) {
        EXPECT_EQ(m.scale, 1.0f);
        EXPECT_EQ(m.extra, 0);
        out.emplace_back(m.channel, m.name.c_str());
    }
    return out;
}

TEST(Importers, ParsingAndComposingMappingStrings) {
    using Entries = std::vector<std::pair<int, std::string>>;
    EXPECT_EQ(Parsed(nullptr), Entries{});
    EXPECT_EQ(Parsed(""), Entries{});
    EXPECT_EQ(Parsed("2,density;4,vel.x;"), (Entries{{2, "density"}, {4, "vel.x"}}));
    EXPECT_EQ(Parsed("1,a,b,c;1,a,b,c"), (Entries{{1, "a,b,c"}, {1, "a,b,c"}}));
    EXPECT_EQ(Parsed("3,x;junk"), (Entries{{3, "x"}}));
    EXPECT_EQ(Parsed("+5,x;"), (Entries{{5, "x"}}));

    CacheIO::GridMappings list;
    ParseMappingString("2,density;10,fu,el;", list);
    ZUtils::String text;
    EXPECT_TRUE(ComposeMappingString(list, text));
    EXPECT_STREQ(text.c_str(), "2,density;10,fu,el;");

    ZUtils::FailAllocationAt(1, true);
    CacheIO::GridMappings starved;
    EXPECT_FALSE(ParseMappingString("2,density;", starved));
    ZUtils::FailAllocationAt(0);
}

TEST(Importers, WithoutModulesNothingIsReadyAndTheFrameIsStillReset) {
    EXPECT_FALSE(IsF3dPluginReady());
    EXPECT_FALSE(IsVdbPluginReady());
    OstrelFrameData frame;
    EXPECT_EQ(frame.frameNumber, KorFrame::kNeverLoaded);
    EXPECT_EQ(ImportVDB("x.vdb", &frame, "2,density;", 0), 2);
    EXPECT_EQ(frame.frameNumber, 0);
    EXPECT_EQ(ImportF3D("x.f3d", &frame, "2,density;", 0), 2);
    EXPECT_EQ(ImportVDB("x.vdb", nullptr, "2,density;", 0), 3);
    ZUtils::String mapping("stale");
    EXPECT_TRUE(GenerateDefaultMappings("a.kor", mapping));
    EXPECT_STREQ(mapping.c_str(), "");
    iArray<CacheIO::AvailableChannels> list;
    GetVdbAvailableChannels("x.vdb", list);
    EXPECT_EQ(list.Count(), 0);
    ReleaseImportPlugins();  // nothing loaded: nothing to release
}

TEST(Importers, NoMappingIsRefusedWithItsLogLine) {
    InFreshProcess([] {
        KorTest::TempDir dir;
        const std::string vdb = dir.File("a.vdb"), f3d = dir.File("a.f3d");
        ASSERT_TRUE(KorTest::WriteTestGridFile(vdb, KorTest::GridsNamed({"density"})));
        ASSERT_TRUE(KorTest::WriteTestGridFile(f3d, KorTest::GridsNamed({"density"})));
        ASSERT_EQ(LoadImportPlugins(3, kGood.c_str(), "test", 0), 3);
        EXPECT_TRUE(IsF3dPluginReady());
        EXPECT_TRUE(IsVdbPluginReady());
        LogCapture log;
        OstrelFrameData frame;
        EXPECT_EQ(ImportVDB(vdb.c_str(), &frame, "", 0), 9);
        EXPECT_TRUE(log.Logged("Trying to import VDB files with no mappings specified!\n"));
        EXPECT_EQ(ImportF3D(f3d.c_str(), &frame, nullptr, 0), 9);
        EXPECT_TRUE(log.Logged("Trying to import F3D files with no mappings specified!\n"));
        EXPECT_EQ(ImportF3D(f3d.c_str(), &frame, "7", 0), 9);
    });
}

TEST(Importers, ModuleCodesPassThroughAndSuccessLeavesAOneWordBlock) {
    InFreshProcess([] {
        KorTest::TempDir dir;
        KorTest::TestGridFile failing = KorTest::GridsNamed({"density"});
        failing.importStatus = 42;
        const std::string bad = dir.File("bad.vdb"), good = dir.File("good.vdb");
        ASSERT_TRUE(KorTest::WriteTestGridFile(bad, failing));
        ASSERT_TRUE(KorTest::WriteTestGridFile(good, KorTest::GridsNamed({"density", "vel.x"})));
        ASSERT_EQ(LoadImportPlugins(2, kGood.c_str(), "test", 1), 2);  // Field3D not asked for
        EXPECT_FALSE(IsF3dPluginReady());

        OstrelFrameData failed;
        LogCapture log;
        EXPECT_EQ(ImportVDB(bad.c_str(), &failed, "2,density;", 0), 42);
        EXPECT_TRUE(log.Logged("VDB import of " + bad + " failed: module code 42\n"));
        EXPECT_EQ(failed.compressedLength, 0);
        EXPECT_EQ(failed.transform[4], 1.0f);  // no axis turn after a failure
        OstrelFrameData missing;
        EXPECT_EQ(ImportVDB(dir.File("none.vdb").c_str(), &missing, "2,density;", 0), 5);  // the module's code

        OstrelFrameData frame;
        EXPECT_EQ(ImportVDB(good.c_str(), &frame, "2,density;4,vel.x;", 0), 0);
        EXPECT_EQ(frame.compressedLength, 1);
        ASSERT_NE(frame.compressedBlock, nullptr);
        EXPECT_EQ(frame.channelMask, 1u << 2);  // a lone velocity component is dropped
        EXPECT_EQ(frame.channels[4], nullptr);
        EXPECT_NE(frame.channels[2], nullptr);
        EXPECT_EQ(frame.frameNumber, 0);
        // Axis mode 1 with the module's axis result 0: b := -c, c := b.
        EXPECT_EQ(frame.transform[4], 0.0f);
        EXPECT_TRUE(std::signbit(frame.transform[4]));
        EXPECT_EQ(frame.transform[5], -1.0f);
        EXPECT_EQ(frame.transform[7], 1.0f);
        EXPECT_EQ(frame.transform[8], 0.0f);
        EXPECT_FALSE(std::signbit(frame.transform[8]));
    });
}

}  // namespace
