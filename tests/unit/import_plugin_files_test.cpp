// Where the import modules are looked for: candidate names and their order.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "import/plugin_files.h"
#include "platform/platform.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> Directories(const char* list) {
    iArray<ZUtils::String> out;
    KorImport::SplitPluginDirectories(list, out);
    std::vector<std::string> result;
    for (const ZUtils::String& s : out) result.emplace_back(s.c_str());
    return result;
}

std::vector<std::string> Candidates(const char* base, const char* directories, const char* suffix,
                                    bool* search = nullptr) {
    iArray<ZUtils::String> out;
    bool searchDirectories = false;
    KorImport::PluginFileCandidates(base, directories, suffix, out, searchDirectories);
    if (search) *search = searchDirectories;
    std::vector<std::string> result;
    for (const ZUtils::String& s : out) result.emplace_back(s.c_str());
    return result;
}

const std::string ext = KorPlatform::ModuleExtension();

TEST(PluginFiles, DirectoryListSplitting) {
    EXPECT_EQ(Directories("C:/a;C:/b/"), (std::vector<std::string>{"C:/a", "C:/b/"}));
    EXPECT_EQ(Directories(";;x1;;"), (std::vector<std::string>{"x1"}));
    // A one-character entry is skipped when a ';' follows it, kept at the end.
    EXPECT_EQ(Directories("a;bb;c"), (std::vector<std::string>{"bb", "c"}));
    EXPECT_EQ(Directories("a;"), (std::vector<std::string>{}));
    EXPECT_EQ(Directories(""), (std::vector<std::string>{}));
    EXPECT_EQ(Directories(nullptr), (std::vector<std::string>{}));
    EXPECT_EQ(Directories(" ; "), (std::vector<std::string>{" "}));  // the last one is kept
    EXPECT_EQ(Directories("  ;"), (std::vector<std::string>{"  "}));
}

TEST(PluginFiles, LongDirectoriesAndListsAreCut) {
    const std::string longDir(2000, 'd');
    const auto cut = Directories((longDir + ";e2").c_str());
    ASSERT_EQ(cut.size(), 2u);
    EXPECT_EQ(cut[0], std::string(1023, 'd'));
    EXPECT_EQ(cut[1], "e2");
    // Only the first 51200 characters count: an entry cut there is shortened,
    // and what follows is never read.
    std::string list(51190, 'x');
    list += ";abcdefghijklmnop;zz";
    const auto limited = Directories(list.c_str());
    ASSERT_EQ(limited.size(), 2u);
    EXPECT_EQ(limited[1], "abcdefghi");
}

TEST(PluginFiles, CandidateNames) {
    bool search = true;
    EXPECT_EQ(Candidates("f3dplug", nullptr, nullptr, &search), (std::vector<std::string>{"f3dplug" + ext}));
    EXPECT_FALSE(search);
    EXPECT_EQ(Candidates("vdbplug", "C:/a;C:/b", nullptr, &search), (std::vector<std::string>{"vdbplug" + ext}));
    EXPECT_FALSE(search);
    EXPECT_EQ(Candidates("vdbplug", nullptr, "2018", &search), (std::vector<std::string>{"vdbplug_2018" + ext}));
    EXPECT_FALSE(search);
    EXPECT_EQ(Candidates("vdbplug", "", "2018"), (std::vector<std::string>{"vdbplug_2018" + ext}));
    EXPECT_EQ(Candidates("f3dplug", "C:/a;C:/b/;C:\\c\\", "x", &search),
              (std::vector<std::string>{"C:/a/f3dplug_x" + ext, "C:/b/f3dplug_x" + ext, "C:\\c\\f3dplug_x" + ext}));
    EXPECT_TRUE(search);
    EXPECT_EQ(Candidates("f3dplug", ";;", "x"), (std::vector<std::string>{}));
}

TEST(PluginFiles, NamesAreCutTo1023Characters) {
    const std::string suffix(3000, 's');
    const auto plain = Candidates("vdbplug", nullptr, suffix.c_str());
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0], ("vdbplug_" + suffix).substr(0, 1023));
    const std::string dir(1023, 'd');
    const auto inDir = Candidates("vdbplug", dir.c_str(), "x");
    ASSERT_EQ(inDir.size(), 1u);
    EXPECT_EQ(inDir[0], dir);  // the '/' and the name fall past the end
}

TEST(PluginFiles, TheFirstExistingCandidateIsChosen) {
    KorTest::TempDir root;
    for (const char* d : {"a", "b", "c"}) std::filesystem::create_directories(root.Path() / d);
    std::ofstream(root.File("b/f3dplug_x" + ext)) << "not really a module";
    std::ofstream(root.File("c/f3dplug_x" + ext)) << "not really a module";
    const std::string list = root.File("a") + ";" + root.File("missing") + ";" + root.File("c") + "/;" + root.File("b");
    ZUtils::String chosen;
    ASSERT_TRUE(KorImport::ChoosePluginFile("f3dplug", list.c_str(), "x", chosen));
    EXPECT_STREQ(chosen.c_str(), (root.File("c") + "/f3dplug_x" + ext).c_str());
    EXPECT_FALSE(KorImport::ChoosePluginFile("vdbplug", list.c_str(), "x", chosen));
    EXPECT_FALSE(KorImport::ChoosePluginFile("f3dplug", list.c_str(), "y", chosen));
    // Without a directory search the name is handed to the system as it is.
    ASSERT_TRUE(KorImport::ChoosePluginFile("vdbplug", list.c_str(), nullptr, chosen));
    EXPECT_STREQ(chosen.c_str(), ("vdbplug" + ext).c_str());
}

}  // namespace
