// What only the Windows platform layer can show: names that are not plain
// ASCII, and bytes that are not UTF-8 at all, reaching the wide-character
// calls by the conversion rule and coming back unchanged; and the debugger
// output seen through the system's own call.
#if defined(_WIN32)

#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#undef FreeModule

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "diag/log.h"
#include "platform/platform.h"
#include "util/alloc.h"

namespace {

namespace fs = std::filesystem;

// "é中" and the byte 0xFF, which starts no UTF-8 sequence. On the file system
// the byte is the code point U+100000 + 0xFF, as a surrogate pair.
const std::string kOddNameUtf8 = "\xC3\xA9\xE4\xB8\xAD\xFF";
const std::wstring kOddNameWide = L"\u00E9\u4E2D\xDBC0\xDCFF";

std::string Utf8Of(const std::wstring& wide) {
    // The wide names here are built from known parts; convert them the same
    // way the test's expectations are written.
    std::string out;
    for (size_t i = 0; i < wide.size(); ++i) {
        const unsigned u = wide[i];
        if (u == 0xDBC0 && i + 1 < wide.size() && wide[i + 1] >= 0xDC00 && wide[i + 1] <= 0xDCFF) {
            out += static_cast<char>(wide[++i] - 0xDC00);  // U+100000 + byte
        } else if (u < 0x80) {
            out += static_cast<char>(u);
        } else if (u < 0x800) {
            out += static_cast<char>(0xC0 | (u >> 6));
            out += static_cast<char>(0x80 | (u & 0x3F));
        } else {
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

// A fresh folder under the temporary folder, removed afterwards.
class OddNamesTest : public ::testing::Test {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / (L"kor_win_" + std::to_wstring(GetCurrentProcessId()) + L"_" + kOddNameWide);
        fs::remove_all(root_);
        ASSERT_TRUE(fs::create_directories(root_));
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    void WriteWide(const fs::path& path, const std::string& bytes) {
        FILE* f = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(f, nullptr);
        ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
        std::fclose(f);
    }

    std::string RootUtf8() const { return Utf8Of(root_.wstring()); }

    fs::path root_;
};

TEST_F(OddNamesTest, HelperMatchesTheConversionRule) {
    EXPECT_EQ(Utf8Of(kOddNameWide), kOddNameUtf8);
}

TEST_F(OddNamesTest, FileNamedWithInvalidByteOpensThroughItsUtf8Bytes) {
    const std::string content = "KORA-content";
    WriteWide(root_ / (kOddNameWide + L".kor"), content);

    const std::string path = RootUtf8() + "\\" + kOddNameUtf8 + ".kor";
    EXPECT_TRUE(KorPlatform::FileExists(path.c_str()));
    KorPlatform::File* file = KorPlatform::OpenFileForReading(path.c_str());
    ASSERT_NE(file, nullptr);
    char buffer[32] = {};
    EXPECT_EQ(KorPlatform::ReadFile(file, buffer, sizeof buffer), content.size());
    EXPECT_EQ(std::string(buffer), content);
    EXPECT_TRUE(KorPlatform::SeekFile(file, -3, KorPlatform::SeekFrom::End));
    EXPECT_EQ(KorPlatform::TellFile(file), static_cast<int64_t>(content.size() - 3));
    KorPlatform::CloseFile(file);

    // The byte must not be dropped or replaced: the name without it, or with
    // U+FFFD in its place, is another file.
    const std::string dropped = RootUtf8() + "\\\xC3\xA9\xE4\xB8\xAD.kor";
    const std::string replaced = RootUtf8() + "\\\xC3\xA9\xE4\xB8\xAD\xEF\xBF\xBD.kor";
    EXPECT_FALSE(KorPlatform::FileExists(dropped.c_str()));
    EXPECT_FALSE(KorPlatform::FileExists(replaced.c_str()));
    EXPECT_EQ(KorPlatform::OpenFileForReading(dropped.c_str()), nullptr);
}

TEST_F(OddNamesTest, NamesOfCommonLengthOpenWithoutAllocating) {
    // The wide copy of a name is made on the stack unless the name is long,
    // so opening behaves as on systems that take narrow names directly.
    WriteWide(root_ / (kOddNameWide + L".kor"), "x");
    const std::string path = RootUtf8() + "\\" + kOddNameUtf8 + ".kor";
    ZUtils::FailAllocationAt(1, true);
    KorPlatform::File* file = KorPlatform::OpenFileForReading(path.c_str());
    const bool exists = KorPlatform::FileExists(path.c_str());
    ZUtils::FailAllocationAt(0);
    EXPECT_TRUE(exists);
    ASSERT_NE(file, nullptr);
    KorPlatform::CloseFile(file);

    // A long name takes a heap buffer; when that fails the file simply
    // cannot be opened.
    const std::string longPath = RootUtf8() + "\\" + std::string(3000, 'n') + ".kor";
    EXPECT_EQ(KorPlatform::OpenFileForReading(longPath.c_str()), nullptr);
    EXPECT_FALSE(KorPlatform::FileExists(longPath.c_str()));
    ZUtils::FailAllocationAt(1, true);
    EXPECT_EQ(KorPlatform::OpenFileForReading(longPath.c_str()), nullptr);
    EXPECT_FALSE(KorPlatform::FileExists(longPath.c_str()));
    std::vector<std::string> names;
    EXPECT_FALSE(KorPlatform::ListDirectory((longPath + "\\*").c_str(), [](void*, const char*) {}, &names));
    ZUtils::FailAllocationAt(0);
}

TEST_F(OddNamesTest, ForwardSlashesWorkAsSeparators) {
    WriteWide(root_ / L"a.kor", "x");
    const std::string path = RootUtf8() + "/a.kor";
    KorPlatform::File* file = KorPlatform::OpenFileForReading(path.c_str());
    ASSERT_NE(file, nullptr);
    KorPlatform::CloseFile(file);
}

TEST_F(OddNamesTest, FileSeekAndTellPassFourGigabytes) {
    // A sparse-free way to get past 32 bits: seek far beyond the end of a
    // small file; the C run-time allows it and tell reports the 64-bit place.
    WriteWide(root_ / L"big.kor", "0123456789");
    const std::string path = RootUtf8() + "\\big.kor";
    KorPlatform::File* file = KorPlatform::OpenFileForReading(path.c_str());
    ASSERT_NE(file, nullptr);
    const int64_t beyond = (int64_t{1} << 32) + 5;
    EXPECT_TRUE(KorPlatform::SeekFile(file, beyond, KorPlatform::SeekFrom::Start));
    EXPECT_EQ(KorPlatform::TellFile(file), beyond);
    char c;
    EXPECT_EQ(KorPlatform::ReadFile(file, &c, 1), 0u);
    KorPlatform::CloseFile(file);
}

TEST_F(OddNamesTest, ListingGivesNamesBackInUtf8WithTheInvalidByte) {
    WriteWide(root_ / (kOddNameWide + L"_0001.kor"), "1");
    WriteWide(root_ / (L"plain_0002.kor"), "2");
    WriteWide(root_ / (L"other.txt"), "3");

    std::vector<std::string> names;
    const auto collect = [](void* context, const char* name) {
        static_cast<std::vector<std::string>*>(context)->push_back(name);
    };
    const std::string pattern = RootUtf8() + "\\*.kor";
    ASSERT_TRUE(KorPlatform::ListDirectory(pattern.c_str(), collect, &names));
    std::sort(names.begin(), names.end());
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(names[0], "plain_0002.kor");
    EXPECT_EQ(names[1], kOddNameUtf8 + "_0001.kor");

    // The directory's own name holds the odd characters; listing everything
    // includes "." and "..", which the caller filters.
    names.clear();
    const std::string all = RootUtf8() + "\\*";
    ASSERT_TRUE(KorPlatform::ListDirectory(all.c_str(), collect, &names));
    EXPECT_NE(std::find(names.begin(), names.end(), "."), names.end());
    EXPECT_NE(std::find(names.begin(), names.end(), ".."), names.end());
    EXPECT_EQ(names.size(), 5u);

    const std::string missing = RootUtf8() + "\\nothing\\*";
    EXPECT_FALSE(KorPlatform::ListDirectory(missing.c_str(), collect, &names));
    const std::string none = RootUtf8() + "\\*.vdb";
    EXPECT_FALSE(KorPlatform::ListDirectory(none.c_str(), collect, &names));
}

TEST_F(OddNamesTest, ModuleLoadsFromDirectoryWithOddName) {
    // Any real module will do: copy the system's own version library into a
    // plug-in directory whose name holds the odd characters.
    wchar_t system[MAX_PATH];
    const UINT n = GetSystemDirectoryW(system, MAX_PATH);
    ASSERT_GT(n, 0u);
    const fs::path source = fs::path(system) / L"version.dll";
    const fs::path pluginDir = root_ / (L"plugins_" + kOddNameWide);
    ASSERT_TRUE(fs::create_directories(pluginDir));
    const fs::path copy = pluginDir / (kOddNameWide + L".dll");
    ASSERT_TRUE(fs::copy_file(source, copy));

    EXPECT_STREQ(KorPlatform::ModuleExtension(), ".dll");
    const std::string path = RootUtf8() + "/plugins_" + kOddNameUtf8 + "/" + kOddNameUtf8 + ".dll";
    void* module = KorPlatform::LoadModule(path.c_str());
    ASSERT_NE(module, nullptr);
    EXPECT_NE(KorPlatform::FindModuleSymbol(module, "GetFileVersionInfoSizeW"), nullptr);
    EXPECT_EQ(KorPlatform::FindModuleSymbol(module, "NoSuchEntryPoint"), nullptr);
    KorPlatform::FreeModule(module);

    const std::string dropped = RootUtf8() + "/plugins_\xC3\xA9\xE4\xB8\xAD/\xC3\xA9\xE4\xB8\xAD.dll";
    EXPECT_EQ(KorPlatform::LoadModule(dropped.c_str()), nullptr);
    EXPECT_EQ(KorPlatform::LoadModule(""), nullptr);
    EXPECT_EQ(KorPlatform::LoadModule(nullptr), nullptr);
}

// --- Debugger output. OutputDebugStringA raises DBG_PRINTEXCEPTION_C with the
// text for a debugger to pick up; a vectored handler sees it first.

std::mutex g_seenMutex;
std::vector<std::string>* g_seen = nullptr;

LONG CALLBACK SeeDebuggerText(EXCEPTION_POINTERS* info) {
    const EXCEPTION_RECORD* record = info->ExceptionRecord;
    if (record->ExceptionCode == DBG_PRINTEXCEPTION_C && record->NumberParameters >= 2) {
        const char* text = reinterpret_cast<const char*>(record->ExceptionInformation[1]);
        const size_t length = static_cast<size_t>(record->ExceptionInformation[0]);  // with the terminator
        std::lock_guard<std::mutex> lock(g_seenMutex);
        if (g_seen != nullptr && text != nullptr && length > 0) g_seen->emplace_back(text, length - 1);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

class DebuggerOutputTest : public ::testing::Test {
protected:
    void SetUp() override {
        {
            std::lock_guard<std::mutex> lock(g_seenMutex);
            g_seen = &seen_;
        }
        handler_ = AddVectoredExceptionHandler(1, SeeDebuggerText);
        ASSERT_NE(handler_, nullptr);
    }
    void TearDown() override {
        RemoveVectoredExceptionHandler(handler_);
        std::lock_guard<std::mutex> lock(g_seenMutex);
        g_seen = nullptr;
    }
    std::vector<std::string> Seen() {
        std::lock_guard<std::mutex> lock(g_seenMutex);
        return seen_;
    }

    void* handler_ = nullptr;
    std::vector<std::string> seen_;
};

TEST_F(DebuggerOutputTest, HashMessagesReachTheDebuggerWithTheirHash) {
    LogPrint("#x=%d\n", 5);
    LogPrint("x=%d\n", 5);
    // Sizes and 64-bit numbers print as C99 says, whichever run-time prints.
    LogPrint("#%zu %lld\n", size_t{42}, -7LL);
    const std::vector<std::string> seen = Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "#x=5\n");
    EXPECT_EQ(seen[1], "#42 -7\n");
}

TEST_F(DebuggerOutputTest, HashMessageIsCutTo1023Characters) {
    const std::string longName(3000, 'g');
    LogPrint("#bad particles found in group %s, count:%d\n", longName.c_str(), 7);
    const std::vector<std::string> seen = Seen();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].size(), 1023u);
    EXPECT_EQ(seen[0], ("#bad particles found in group " + longName).substr(0, 1023));
}

TEST_F(DebuggerOutputTest, DebugPrintSendsOneStringCutTo4095Characters) {
    DebugPrint("Please check the %s implementation.\n", "MTComputeParticlesBbox");
    const std::string longText(5000, 'a');
    DebugPrint("%s", longText.c_str());
    const std::vector<std::string> seen = Seen();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], "Please check the MTComputeParticlesBbox implementation.\n");
    EXPECT_EQ(seen[1], std::string(4095, 'a'));
}

TEST_F(DebuggerOutputTest, TextWithoutDebuggerDoesNotStopTheProcess) {
    // No debugger is attached: the call must come back, from many threads.
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([t] {
            for (int i = 0; i < 50; ++i) LogPrint("#thread %d line %d\n", t, i);
        });
    for (std::thread& thread : threads) thread.join();
    const std::vector<std::string> seen = Seen();
    EXPECT_EQ(seen.size(), 400u);
    for (const std::string& line : seen) EXPECT_EQ(line.rfind("#thread ", 0), 0u) << line;
}

}  // namespace

#endif  // _WIN32
