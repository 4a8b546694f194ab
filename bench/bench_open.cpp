// Opening a large frame (about 1 GiB of compressed channel words) against a
// plain read of the same file into a fresh buffer, in the same run. Opening
// reads the channel block in one bulk read and decodes nothing, so the two
// should be close.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "api/frame_cache.h"
#include "support/kor_writer.h"
#include "support/temp_dir.h"

namespace {

constexpr int32_t kWords = 256 * 1024 * 1024;  // 1 GiB of channel words

const std::string& LargeFrame() {
    static KorTest::TempDir dir;
    static std::string path;
    if (path.empty()) {
        path = dir.File("large.kor");
        // One channel record whose body fills the block (content is never decoded here).
        std::vector<int32_t> words(static_cast<size_t>(kWords));
        words[0] = 2;
        words[1] = kWords - 2;
        for (size_t i = 2; i < words.size(); ++i) words[i] = static_cast<int32_t>(i * 2654435761u);
        KorTest::KorWriter().Grid(512, 512, 1024).RawChannelBlock(words).InfoText("large").WriteFile(path);
    }
    return path;
}

void OpenFrame(benchmark::State& state) {
    const std::string& path = LargeFrame();
    for (auto _ : state) {
        IKor* frame = OstrelFrame::OpenFrame(path.c_str(), "");
        if (frame == nullptr) state.SkipWithError("open failed");
        benchmark::DoNotOptimize(frame);
        OstrelFrame::ReleaseFrame(frame);
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWords} * 4);
}

void PlainRead(benchmark::State& state) {
    const std::string& path = LargeFrame();
    for (auto _ : state) {
        FILE* f = std::fopen(path.c_str(), "rb");
        std::fseek(f, 0, SEEK_END);
        const long size = std::ftell(f);
        std::fseek(f, 0, SEEK_SET);
        std::unique_ptr<char[]> buffer(new char[static_cast<size_t>(size)]);
        const size_t got = std::fread(buffer.get(), 1, static_cast<size_t>(size), f);
        std::fclose(f);
        benchmark::DoNotOptimize(buffer.get());
        if (got != static_cast<size_t>(size)) state.SkipWithError("short read");
    }
    state.SetBytesProcessed(state.iterations() * int64_t{kWords} * 4);
}

}  // namespace

BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(OpenFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(PlainRead)->Unit(benchmark::kMillisecond)->MinTime(2.0);

BENCHMARK_MAIN();
