// What a Windows host relies on beyond the calls themselves: the exports are
// found under their Microsoft x64 decorated names, and the library can be
// loaded from a folder with an odd name and freed again.
#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "korloader/korloader.h"
#include "support/byte_writer.h"
#include "support/kor_writer.h"
#include "support/native_path.h"

namespace {

namespace fs = std::filesystem;

struct DecoratedExport {
    const char* name;
    void* bound;  // the same function reached through the import library
};

HMODULE LibraryModule() { return GetModuleHandleW(L"korloader.dll"); }

TEST(WindowsDll, DecoratedNamesLeadToTheFunctionsTheHeaderDeclares) {
    HMODULE module = LibraryModule();
    ASSERT_NE(module, nullptr);
    const DecoratedExport exports[] = {
        {"?OstrelSDKGetVersionNumber@@YAIXZ", reinterpret_cast<void*>(&OstrelSDKGetVersionNumber)},
        {"?newIKor@@YAPEAVIKor@@PEBD@Z", reinterpret_cast<void*>(&newIKor)},
        {"?newIKorWithChannelsMapping@@YAPEAVIKor@@PEBD0@Z", reinterpret_cast<void*>(&newIKorWithChannelsMapping)},
        {"?deleteIKor@@YAXPEAVIKor@@@Z", reinterpret_cast<void*>(&deleteIKor)},
        {"?initalizeKoraLoader@@YAHPEBD0H@Z", reinterpret_cast<void*>(&initalizeKoraLoader)},
        {"?korGet3rdPartyChannelName@@YAHPEADHPEAHPEBDH@Z", reinterpret_cast<void*>(&korGet3rdPartyChannelName)},
        {"?korComposeChannelMappingsString@@YAHPEADHPEAHPEBQEBDH@Z",
         reinterpret_cast<void*>(&korComposeChannelMappingsString)},
        {"?korDecomposeChannelMappingsString@@YAHPEAHPEADHPEBDH@Z",
         reinterpret_cast<void*>(&korDecomposeChannelMappingsString)},
        {"?korGenerateDefaultChannelMappings@@YAHPEADHPEBD@Z",
         reinterpret_cast<void*>(&korGenerateDefaultChannelMappings)},
    };
    for (const DecoratedExport& e : exports) {
        void* found = reinterpret_cast<void*>(GetProcAddress(module, e.name));
        EXPECT_NE(found, nullptr) << e.name;
        EXPECT_EQ(found, e.bound) << e.name;
    }
    // This compiler's own names are not exported.
    EXPECT_EQ(GetProcAddress(module, "_Z7newIKorPKc"), nullptr);
    EXPECT_EQ(GetProcAddress(module, "newIKor"), nullptr);
}

// A copy of the library loaded by path as a second module, as a host that
// binds at run time does, then freed.
class LoadedCopy : public ::testing::Test {
protected:
    void SetUp() override {
        wchar_t original[MAX_PATH];
        const DWORD n = GetModuleFileNameW(LibraryModule(), original, MAX_PATH);
        ASSERT_GT(n, 0u);
        ASSERT_LT(n, static_cast<DWORD>(MAX_PATH));
        // "é中" and U+100000 + 0xFF, the form a non-UTF-8 byte takes.
        dir_ = fs::temp_directory_path() /
               (L"kor_dll_" + std::to_wstring(GetCurrentProcessId()) + L"_\u00E9\u4E2D\xDBC0\xDCFF");
        fs::remove_all(dir_);
        ASSERT_TRUE(fs::create_directories(dir_));
        copy_ = dir_ / L"korloader_copy.dll";
        ASSERT_TRUE(fs::copy_file(original, copy_));
        module_ = LoadLibraryW(copy_.c_str());
        ASSERT_NE(module_, nullptr);
        ASSERT_NE(module_, LibraryModule());
    }
    void TearDown() override {
        if (module_ != nullptr) FreeLibrary(module_);
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }
    template <class F>
    F Export(const char* name) {
        return reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(module_, name)));
    }

    fs::path dir_;
    fs::path copy_;
    HMODULE module_ = nullptr;
};

TEST_F(LoadedCopy, AnswersThroughDecoratedNamesAndUnloads) {
    using Version = unsigned int (*)();
    using Open = IKor* (*)(const char*);
    using Release = void (*)(IKor*);
    const Version version = Export<Version>("?OstrelSDKGetVersionNumber@@YAIXZ");
    const Open open = Export<Open>("?newIKor@@YAPEAVIKor@@PEBD@Z");
    const Release release = Export<Release>("?deleteIKor@@YAXPEAVIKor@@@Z");
    ASSERT_NE(version, nullptr);
    ASSERT_NE(open, nullptr);
    ASSERT_NE(release, nullptr);
    EXPECT_EQ(version(), 0x30400u);
    EXPECT_EQ(open(nullptr), nullptr);
    EXPECT_EQ(open(""), nullptr);
    release(nullptr);

    // A frame the host never gives back, in a file whose name holds the odd
    // characters: freeing the library reports and destroys it.
    const std::string file = KorTest::NarrowName(dir_ / L"kept_\u00E9\xDBC0\xDCFF_0003.kor");
    ASSERT_TRUE(KorTest::WriteFileBytes(file, KorTest::KorWriter().Grid(2, 2, 2).FrameNumber(3).Build()));
    IKor* kept = open(file.c_str());
    ASSERT_NE(kept, nullptr);
    int dims[3] = {0, 0, 0};
    kept->GetGridDim(dims);
    EXPECT_EQ(dims[0], 2);
    EXPECT_EQ(open(file.c_str()), kept);  // shared, now two references

    ASSERT_TRUE(FreeLibrary(module_));
    module_ = nullptr;
    // Nothing keeps the copy loaded once the host has freed it.
    EXPECT_EQ(GetModuleHandleW(copy_.c_str()), nullptr);
    // The first library is untouched.
    EXPECT_EQ(OstrelSDKGetVersionNumber(), 0x30400u);
}

}  // namespace

#endif  // _WIN32
