// Enumeration of the files a cache path stands for.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "paths/enum_files.h"
#include "support/temp_dir.h"

namespace {

class Collect : public OstrelEnum::EnumFiles {
public:
    void Begin(const char* path, int mode) noexcept override {
        begun = path;
        beginMode = mode;
    }
    void OnFile(const char* fileName) noexcept override { files.emplace_back(fileName); }
    std::vector<std::string> Sorted() const {
        std::vector<std::string> sorted = files;
        std::sort(sorted.begin(), sorted.end());
        return sorted;
    }
    std::string begun;
    int beginMode = -1;
    std::vector<std::string> files;
};

class Enumeration : public ::testing::Test {
protected:
    std::string Touch(const std::string& name) {
        const std::string path = dir.File(name);
        std::ofstream(KorTest::NativePath(path)) << "x";
        return path;
    }
    KorTest::TempDir dir;
};

TEST_F(Enumeration, ATemplateAcceptsOnlyFilesItReproduces) {
    const std::string one = Touch("Cache_0001.vdb");
    const std::string two = Touch("Cache_0002.vdb");
    const std::string negative = Touch("Cache_-001.vdb");
    for (const char* other : {"Cache_3.vdb", "Cache_00004.vdb", "Cache_.vdb", "Cache_abcd.vdb", "XCache_0005.vdb",
                              "Cache_0006.vdb.bak", "Cache_2147483647.vdb"})
        Touch(other);
    Collect c;
    EXPECT_EQ(c.Enumerate(dir.File("Cache_####.vdb").c_str(), 1), 1);
    EXPECT_EQ(c.Sorted(), (std::vector<std::string>{negative, one, two}));
    EXPECT_EQ(c.begun, dir.File("Cache_####.vdb"));
    EXPECT_EQ(c.beginMode, 1);
    EXPECT_STREQ(c.resultPath.c_str(), "");
}

TEST_F(Enumeration, AListingWithoutAcceptedFilesStillCounts) {
    Touch("Cache_3.vdb");
    Collect c;
    c.resultPath.Assign("stale");
    EXPECT_EQ(c.Enumerate(dir.File("Cache_####.vdb").c_str(), 1), 1);
    EXPECT_TRUE(c.files.empty());
    EXPECT_STREQ(c.resultPath.c_str(), "");
}

TEST_F(Enumeration, MissingDirectoriesAndFiles) {
    Collect c;
    EXPECT_EQ(c.Enumerate(dir.File("nowhere/Cache_####.vdb").c_str(), 1), 0);
    EXPECT_EQ(c.Enumerate(dir.File("Cache_####.vdb").c_str(), 1), 0);  // empty directory
    EXPECT_EQ(c.Enumerate(dir.File("plain.vdb").c_str(), 1), 0);
    EXPECT_EQ(c.Enumerate(nullptr, 1), 0);
    EXPECT_EQ(c.begun, dir.File("plain.vdb"));  // Begin is not called for null
    EXPECT_EQ(c.Enumerate("", 1), 0);
    EXPECT_TRUE(c.files.empty());
}

TEST_F(Enumeration, APlainPathStandsForItself) {
    const std::string plain = Touch("plain.vdb");
    Collect c;
    EXPECT_EQ(c.Enumerate(plain.c_str(), 1), 1);
    EXPECT_EQ(c.files, (std::vector<std::string>{plain}));
    EXPECT_STREQ(c.resultPath.c_str(), plain.c_str());
}

TEST_F(Enumeration, PlaceholdersInDirectoriesAreTakenLiterally) {
    std::filesystem::create_directories(dir.Path() / "run_##");
    const std::string inside = Touch("run_##/Cache.vdb");
    const std::string numbered = Touch("run_##/Cache_07.vdb");
    Collect c;
    EXPECT_EQ(c.Enumerate(dir.File("run_##/Cache.vdb").c_str(), 1), 1);
    EXPECT_EQ(c.files, (std::vector<std::string>{inside}));
    Collect d;
    EXPECT_EQ(d.Enumerate(dir.File("run_##/Cache_##.vdb").c_str(), 1), 1);
    EXPECT_EQ(d.files, (std::vector<std::string>{numbered}));
}

TEST_F(Enumeration, NamesThatAreNotUtf8) {
    std::filesystem::create_directories(KorTest::NativePath(dir.File("\xff\xfe")));
    const std::string odd = Touch("\xff\xfe/\xc0\x80_0012.vdb");
    Collect c;
    EXPECT_EQ(c.Enumerate(dir.File("\xff\xfe/\xc0\x80_%04d.vdb").c_str(), 1), 1);
    EXPECT_EQ(c.files, (std::vector<std::string>{odd}));
}

TEST_F(Enumeration, FindFilesSkipsDotEntriesAndKeepsTheDirectoryPart) {
    const std::string visible = Touch("a.vdb");
    Touch("..hidden");
    iArray<ZUtils::String> files;
    ASSERT_TRUE(OstrelEnum::FindFiles(dir.File("*").c_str(), files));
    ASSERT_EQ(files.Count(), 1);
    EXPECT_STREQ(files[0].c_str(), visible.c_str());
    iArray<ZUtils::String> none;
    EXPECT_FALSE(OstrelEnum::FindFiles(dir.File("*.f3d").c_str(), none));
    EXPECT_FALSE(OstrelEnum::FindFiles(nullptr, none));
    EXPECT_EQ(none.Count(), 0);
}

}  // namespace
