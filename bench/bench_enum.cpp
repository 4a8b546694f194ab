// Enumerating a cache sequence (template matching over a directory listing)
// against the plain directory listing it is built on, and parsing a long
// mapping string against a plain scan of the same bytes.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "import/mapping_text.h"
#include "paths/enum_files.h"
#include "support/temp_dir.h"

namespace {

constexpr int kFrames = 2000;

// A directory with a 2000-frame sequence and as many other files.
const KorTest::TempDir& Sequence() {
    static KorTest::TempDir dir;
    static bool made = false;
    if (!made) {
        char name[64];
        for (int i = 0; i < kFrames; ++i) {
            std::snprintf(name, sizeof name, "Cache_%04d.vdb", i);
            std::ofstream(dir.File(name)) << "x";
            std::snprintf(name, sizeof name, "Other_%d.txt", i);
            std::ofstream(dir.File(name)) << "x";
        }
        made = true;
    }
    return dir;
}

class Count : public OstrelEnum::EnumFiles {
public:
    void OnFile(const char*) noexcept override { ++files; }
    int files = 0;
};

void BM_EnumerateSequence(benchmark::State& state) {
    const std::string pattern = Sequence().File("Cache_####.vdb");
    for (auto _ : state) {
        Count c;
        c.Enumerate(pattern.c_str(), 1);
        if (c.files != kFrames) state.SkipWithError("wrong file count");
        benchmark::DoNotOptimize(c.files);
    }
    state.SetItemsProcessed(state.iterations() * kFrames * 2);
}
BENCHMARK(BM_EnumerateSequence)->Unit(benchmark::kMillisecond);

// Reference: listing the same directory and keeping the names that start
// with the sequence's prefix.
void BM_ReferenceDirectoryListing(benchmark::State& state) {
    const std::filesystem::path dir = Sequence().Path();
    for (auto _ : state) {
        int files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            if (entry.path().filename().string().rfind("Cache_", 0) == 0) ++files;
        benchmark::DoNotOptimize(files);
    }
    state.SetItemsProcessed(state.iterations() * kFrames * 2);
}
BENCHMARK(BM_ReferenceDirectoryListing)->Unit(benchmark::kMillisecond);

std::string LongMapping() {
    std::string text;
    for (int i = 0; i < 10000; ++i) text += std::to_string(i % 31) + ",grid_number_" + std::to_string(i) + ";";
    return text;
}

void BM_ParseMappingString(benchmark::State& state) {
    const std::string text = LongMapping();
    for (auto _ : state) {
        CacheIO::GridMappings list;
        ParseMappingString(text.c_str(), list);
        benchmark::DoNotOptimize(list.Count());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ParseMappingString);

// Reference: the same list built with the standard library (atoi on the
// channel text, names copied into a vector of strings).
void BM_ReferenceSplit(benchmark::State& state) {
    const std::string text = LongMapping();
    for (auto _ : state) {
        std::vector<std::pair<int, std::string>> list;
        for (const char* at = text.c_str(); *at != '\0';) {
            const char* comma = std::strchr(at, ',');
            const char* semicolon = std::strchr(comma, ';');
            list.emplace_back(std::atoi(at), std::string(comma + 1, semicolon));
            at = semicolon + 1;
        }
        benchmark::DoNotOptimize(list.data());
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(text.size()));
}
BENCHMARK(BM_ReferenceSplit);

}  // namespace

BENCHMARK_MAIN();
