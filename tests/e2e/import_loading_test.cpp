// initalizeKoraLoader as a host calls it: where the import modules are
// found, when they count as ready, and what a host sees before and after.
#include "import_fresh_process.h"

namespace {

using KorTest::GridName;
using KorTest::InFreshProcess;
using KorTest::ModuleSet;
using KorTest::TempDir;

// A file in `dir` whose grids tell which module listed it and how often
// that module was initialised.
std::string TagFile(const TempDir& dir, const std::string& name) {
    const std::string path = dir.File(name);
    EXPECT_TRUE(KorTest::WriteTestGridFile(path, KorTest::GridsNamed({"@tag", "@init", "density"})));
    return path;
}

std::string ModuleFile(const char* set, const char* base) {
    return ModuleSet(set) + "/" + base + KorTest::kModuleExtension;
}

TEST(ImportLoading, BeforeInitialisationForeignFilesCannotBeRead) {
    InFreshProcess([] {
        TempDir dir;
        const std::string vdb = TagFile(dir, "a.vdb");
        const std::string f3d = TagFile(dir, "a.f3d");
        EXPECT_EQ(newIKorWithChannelsMapping(vdb.c_str(), "2,density;"), nullptr);
        EXPECT_EQ(newIKorWithChannelsMapping(f3d.c_str(), "2,density;"), nullptr);
        EXPECT_EQ(newIKor(vdb.c_str()), nullptr);
        EXPECT_EQ(GridName(vdb, 0), "<-1>");
        EXPECT_EQ(KorTest::DefaultMapping(vdb), "");

        ASSERT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", 0), 3);
        EXPECT_EQ(GridName(vdb, 0), "@tag=good");
        EXPECT_EQ(GridName(f3d, 0), "@tag=good");
        IKor* frame = newIKor(vdb.c_str());
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->HasChannel(2), 1);
        deleteIKor(frame);
    });
}

TEST(ImportLoading, DirectoriesAreSearchedInOrderAndTheFirstExistingFileWins) {
    InFreshProcess([] {
        TempDir dir;
        const std::string file = TagFile(dir, "a.vdb");
        // Empty entries are skipped; "second/" already ends in a separator.
        const std::string list = ";" + dir.File("missing") + ";;" + ModuleSet("second") + "/;" + ModuleSet("good");
        EXPECT_EQ(initalizeKoraLoader(list.c_str(), "test", 0), 3);
        EXPECT_EQ(GridName(file, 0), "@tag=second");
        EXPECT_EQ(GridName(dir.File("a.vdb"), 1), "@init=1");
    });
}

TEST(ImportLoading, BackslashEndedDirectoriesAreUsedAsTheyAre) {
    InFreshProcess([] {
        TempDir dir;
        // "<dir>/good\" names "<dir>/good\vdbplug_test.so": a file name with a
        // backslash on POSIX, so the search goes on to the next directory.
        const std::string list = ModuleSet("second") + "\\;" + ModuleSet("good");
        EXPECT_EQ(initalizeKoraLoader(list.c_str(), "test", 0), 3);
#if !defined(_WIN32)
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=good");
#else
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=second");
#endif
    });
}

TEST(ImportLoading, ModulesAreLoadedAndInitialisedOncePerProcess) {
    InFreshProcess([] {
        TempDir dir;
        const std::string file = TagFile(dir, "a.f3d");
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", 0), 3);
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("second").c_str(), "test", 0), 3);
        EXPECT_EQ(initalizeKoraLoader(nullptr, nullptr, 0), 3);
        EXPECT_EQ(GridName(file, 0), "@tag=good");
        EXPECT_EQ(GridName(file, 1), "@init=1");
    });
}

TEST(ImportLoading, AModuleNotFoundCanBeLoadedByALaterCall) {
    InFreshProcess([] {
        TempDir dir;
        const std::string file = TagFile(dir, "a.vdb");
        EXPECT_EQ(initalizeKoraLoader((dir.File("x") + ";" + dir.File("y")).c_str(), "test", 0), 0);
        EXPECT_EQ(initalizeKoraLoader(";;;", "test", 0), 0);  // a list without a directory
        EXPECT_EQ(initalizeKoraLoader("a;b;", "test", 0), 0);  // one-character entries before ';' are skipped
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "nosuchsuffix", 0), 0);
        EXPECT_EQ(GridName(file, 0), "<-1>");
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", 0), 3);
        EXPECT_EQ(GridName(file, 0), "@tag=good");
    });
}

TEST(ImportLoading, ModulesMissingAnEntryPointOrFailingToInitialiseAreNeverReady) {
    InFreshProcess([] {
        TempDir dir;
        const std::string vdb = TagFile(dir, "a.vdb");
        const std::string f3d = TagFile(dir, "a.f3d");
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("broken").c_str(), "test", 0), 0);
        EXPECT_EQ(newIKorWithChannelsMapping(vdb.c_str(), "2,density;"), nullptr);
        EXPECT_EQ(newIKorWithChannelsMapping(f3d.c_str(), "2,density;"), nullptr);
        EXPECT_EQ(GridName(vdb, 0), "<-1>");
        EXPECT_EQ(GridName(f3d, 0), "<-1>");
        // They stay loaded, so working modules elsewhere are not taken, and
        // they are not reported ready either.
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", 0), 0);
        EXPECT_EQ(GridName(vdb, 0), "<-1>");
    });
}

TEST(ImportLoading, EachModuleIsReportedByItsOwnBit) {
    InFreshProcess([] {
        TempDir dir;
        namespace fs = std::filesystem;
        // Working OpenVDB module, Field3D module that fails to initialise.
        fs::create_directories(dir.Path() / "mixed");
        fs::copy_file(ModuleFile("good", "vdbplug_test"), dir.File("mixed/vdbplug_test") + KorTest::kModuleExtension);
        fs::copy_file(ModuleFile("broken", "f3dplug_test"), dir.File("mixed/f3dplug_test") + KorTest::kModuleExtension);
        EXPECT_EQ(initalizeKoraLoader(dir.File("mixed").c_str(), "test", 0), 2);
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=good");
        EXPECT_EQ(GridName(TagFile(dir, "a.f3d"), 0), "<-1>");
    });
    InFreshProcess([] {
        TempDir dir;
        namespace fs = std::filesystem;
        // Only a Field3D module in the directory.
        fs::create_directories(dir.Path() / "f3d");
        fs::copy_file(ModuleFile("second", "f3dplug_test"), dir.File("f3d/f3dplug_test") + KorTest::kModuleExtension);
        EXPECT_EQ(initalizeKoraLoader(dir.File("f3d").c_str(), "test", 0), 1);
        EXPECT_EQ(GridName(TagFile(dir, "a.f3d"), 0), "@tag=second");
    });
}

TEST(ImportLoading, ModuleDirectoriesWithBytesThatAreNotUtf8) {
    InFreshProcess([] {
        TempDir dir;
        namespace fs = std::filesystem;
        const std::string odd = dir.File("mod\xff\xc0\x80ules");
        fs::create_directories(KorTest::NativePath(odd));
        for (const char* base : {"vdbplug_test", "f3dplug_test"})
            fs::copy_file(ModuleFile("second", base),
                          KorTest::NativePath(odd + "/" + base + KorTest::kModuleExtension));
        EXPECT_EQ(initalizeKoraLoader(odd.c_str(), "test", 0), 3);
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=second");
    });
}

TEST(ImportLoading, WithoutASuffixThePlainNamesComeFromTheSystemSearch) {
    KorTest::ScopedEnvironment path(KorTest::kModuleSearchVariable, ModuleSet("plain"));
    InFreshProcess([] {
        TempDir dir;
        // The directory list is not searched without a suffix.
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), nullptr, 0), 3);
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=plain");
        EXPECT_EQ(GridName(TagFile(dir, "a.f3d"), 0), "@tag=plain");
    });
    InFreshProcess([] {
        TempDir dir;
        EXPECT_EQ(initalizeKoraLoader("", "", 0), 3);  // empty texts count as absent
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=plain");
    });
}

TEST(ImportLoading, ASuffixWithoutDirectoriesUsesTheSystemSearch) {
    KorTest::ScopedEnvironment path(KorTest::kModuleSearchVariable, ModuleSet("second"));
    InFreshProcess([] {
        TempDir dir;
        EXPECT_EQ(initalizeKoraLoader(nullptr, "test", 0), 3);
        EXPECT_EQ(GridName(TagFile(dir, "a.vdb"), 0), "@tag=second");
    });
}

TEST(ImportLoading, HostileDirectoryListsAndSuffixes) {
    InFreshProcess([] {
        // Longer than every limit: 60000 characters of list, directories and
        // a suffix far beyond the 1024-byte name buffer.
        std::string list(60000, 'd');
        for (size_t i = 0; i < list.size(); i += 3000) list[i] = ';';
        const std::string suffix(5000, 's');
        EXPECT_EQ(initalizeKoraLoader(list.c_str(), suffix.c_str(), 0), 0);
        EXPECT_EQ(initalizeKoraLoader(list.c_str(), "test", 0), 0);
        EXPECT_EQ(initalizeKoraLoader(";", "test", 0), 0);
        EXPECT_EQ(initalizeKoraLoader("\xff\xfe;\xc0", "\x80", 7), 0);
        EXPECT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", -1), 3);
    });
}

TEST(ImportLoading, FramesLeftOpenAreDestroyedBeforeTheModulesAtUnload) {
    InFreshProcess([] {
        TempDir dir;
        ASSERT_EQ(initalizeKoraLoader(ModuleSet("good").c_str(), "test", 0), 3);
        IKor* vdb = newIKor(TagFile(dir, "a.vdb").c_str());
        IKor* f3d = newIKor(TagFile(dir, "a.f3d").c_str());
        ASSERT_NE(vdb, nullptr);
        ASSERT_NE(f3d, nullptr);
        EXPECT_NE(vdb->GetChannel(2), nullptr);
        // Not released: exit() unloads the library with both frames open.
    });
}

}  // namespace
