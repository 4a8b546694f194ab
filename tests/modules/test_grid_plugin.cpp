// An import plug-in module for the tests: it reads the test grid format of
// tests/support/test_grid_file.h and fills frames exactly as vdbplug and
// f3dplug do with their formats. Built several times with different
// definitions:
//   KOR_TEST_MODULE_TAG     a text the module reports for "@tag" grids
//   KOR_TEST_INIT_RESULT    what Initialize returns (0 = ready)
//   KOR_TEST_OMIT_LISTING   leave GetAvailableChannels out (an entry point missing)
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_sdk/kor_plugin.h"
#include "support/test_grid_file.h"

#ifndef KOR_TEST_MODULE_TAG
#define KOR_TEST_MODULE_TAG "untagged"
#endif
#ifndef KOR_TEST_INIT_RESULT
#define KOR_TEST_INIT_RESULT 0
#endif

namespace {

constexpr int kUnreadable = 5;   // the file is missing or not a test grid file
constexpr int kBadFlag = 77;     // the library passed a non-zero flag

int g_initializeCalls = 0;

struct Grid {
    std::string name;
    uint8_t flag = 0;
    const uint8_t* values = nullptr;  // cells floats, unaligned
};

struct Parsed {
    std::vector<uint8_t> bytes;
    int32_t importStatus = 0, axisResult = 0, nx = 0, ny = 0, nz = 0;
    float transform[12] = {};
    std::vector<Grid> grids;
    size_t cells = 0;
};

class Reader {
public:
    explicit Reader(const std::vector<uint8_t>& bytes) : bytes_(bytes) {}
    bool Take(void* to, size_t n) {
        if (n > bytes_.size() - at_) return false;
        std::memcpy(to, bytes_.data() + at_, n);
        at_ += n;
        return true;
    }
    const uint8_t* Skip(size_t n) {
        if (n > bytes_.size() - at_) return nullptr;
        const uint8_t* p = bytes_.data() + at_;
        at_ += n;
        return p;
    }

private:
    const std::vector<uint8_t>& bytes_;
    size_t at_ = 0;
};

bool ReadWholeFile(const char* path, std::vector<uint8_t>& bytes) {
    if (path == nullptr) return false;
#if defined(_WIN32)
    // Names reach the module as the library's narrow strings; Windows wants
    // them in UTF-16 by the library's rule, as the library opens its own files.
    const ZUtils::String name(path);
    const char16_t* wide = name.Wide();
    FILE* f = wide != nullptr ? _wfopen(reinterpret_cast<const wchar_t*>(wide), L"rb") : nullptr;
#else
    FILE* f = std::fopen(path, "rb");
#endif
    if (f == nullptr) return false;
    uint8_t chunk[4096];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(f);
    return true;
}

bool Parse(const char* path, Parsed& out) {
    if (!ReadWholeFile(path, out.bytes)) return false;
    Reader in(out.bytes);
    char magic[4];
    int32_t count = 0;
    if (!in.Take(magic, 4) || std::memcmp(magic, KorTest::kTestGridMagic, 4) != 0) return false;
    if (!in.Take(&out.importStatus, 4) || !in.Take(&out.axisResult, 4) || !in.Take(&out.nx, 4) ||
        !in.Take(&out.ny, 4) || !in.Take(&out.nz, 4) || !in.Take(out.transform, sizeof out.transform) ||
        !in.Take(&count, 4))
        return false;
    if (out.nx < 0 || out.ny < 0 || out.nz < 0 || count < 0) return false;
    const uint64_t cells = static_cast<uint64_t>(out.nx) * static_cast<uint64_t>(out.ny) * static_cast<uint64_t>(out.nz);
    if (cells > out.bytes.size()) return false;
    out.cells = static_cast<size_t>(cells);
    for (int32_t g = 0; g < count; ++g) {
        Grid grid;
        int32_t nameLength = 0;
        if (!in.Take(&grid.flag, 1) || !in.Take(&nameLength, 4) || nameLength < 0) return false;
        const uint8_t* name = in.Skip(static_cast<size_t>(nameLength));
        grid.values = in.Skip(out.cells * 4);
        if (name == nullptr || grid.values == nullptr) return false;
        grid.name.assign(reinterpret_cast<const char*>(name), static_cast<size_t>(nameLength));
        out.grids.push_back(std::move(grid));
    }
    return true;
}

int Import(const char* path, OstrelFrameData* frame, int* axisResult, unsigned char flag,
           const CacheIO::GridMapping* mappings, int count) {
    if (flag != 0) return kBadFlag;
    Parsed file;
    if (!Parse(path, file)) return kUnreadable;
    if (axisResult != nullptr) *axisResult = file.axisResult;
    if (file.importStatus != 0) return file.importStatus;
    KorPlugin::SetGrid(frame, file.nx, file.ny, file.nz, file.transform);
    for (int m = 0; m < count; ++m) {
        for (const Grid& grid : file.grids) {
            if (!mappings[m].name.Equals(grid.name.c_str())) continue;
            float* array = KorPlugin::NewChannelArray(file.cells);
            if (array == nullptr) return kUnreadable;
            for (size_t n = 0; n < file.cells; ++n) {
                float value;
                std::memcpy(&value, grid.values + 4 * n, 4);
                array[n] = value * mappings[m].scale;
            }
            KorPlugin::SetChannel(frame, mappings[m].channel, array);
            break;
        }
    }
    return 0;
}

}  // namespace

KOR_PLUGIN_EXPORT int Initialize(void) {
    ++g_initializeCalls;
    return KOR_TEST_INIT_RESULT;
}

KOR_PLUGIN_EXPORT void SetThreadManager(void*) {}

KOR_PLUGIN_EXPORT void ReleaseThreadManager(void) {}

KOR_PLUGIN_EXPORT int ImportFrameVDB(const char* path, OstrelFrameData* frame, int* axisResult, unsigned char flag,
                                     const CacheIO::GridMapping* mappings, int count) {
    try {
        return Import(path, frame, axisResult, flag, mappings, count);
    } catch (...) {
        return kUnreadable;
    }
}

KOR_PLUGIN_EXPORT int ImportFrameF3D(const char* path, OstrelFrameData* frame, unsigned char flag,
                                     const CacheIO::GridMapping* mappings, int count) {
    try {
        return Import(path, frame, nullptr, flag, mappings, count);
    } catch (...) {
        return kUnreadable;
    }
}

#if !defined(KOR_TEST_OMIT_LISTING)
KOR_PLUGIN_EXPORT void GetAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>* list) {
    try {
        Parsed file;
        if (!Parse(path, file)) return;
        for (const Grid& grid : file.grids) {
            std::string name = grid.name;
            if (name == "@tag") name += "=" KOR_TEST_MODULE_TAG;
            if (name == "@init") name += "=" + std::to_string(g_initializeCalls);
            KorPlugin::AppendAvailableChannel(list, name.c_str(), grid.flag);
        }
    } catch (...) {
    }
}
#endif
