// Reading grid channels as a host does: through the public header, a fresh
// frame every iteration, page faults included. Against memcpy of the same
// 64 MiB into a warm (already faulted) destination and into fresh memory,
// measured in the same run.
//
//   FirstRead        open a frame, time its first GetChannel (the channel's
//                    array is new memory), give the frame back
//   SequencePlayback frame N given back, frame N + 1 opened, the same
//                    channel read: the GetChannel is timed
//   TwoHostThreads   one frame, two host threads reading two channels each,
//                    the four reads timed together
//
// Counters: memcpy_ratio (time / warm memcpy of the bytes read, one
// thread), fresh_ratio (time / memcpy into fresh memory of the same bytes),
// worst_ms (the slowest iteration: a stall shows here, not in the mean).
// Times are wall-clock: a host waits for faults as for decoding.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "korloader/korloader.h"
#include "support/kor_writer.h"
#include "support/temp_dir.h"

namespace {

constexpr int kSide = 256;
constexpr size_t kCells = size_t(kSide) * kSide * kSide;
constexpr size_t kBytes = kCells * sizeof(float);
constexpr int kChannels[4] = {KOR_GRID_SMOKE, KOR_GRID_TEMPERATURE, KOR_GRID_FUEL, KOR_GRID_SPEED};

double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// Two frames (a sequence of two) of the same four 256^3 smoke-like channels.
const std::string& FramePath(int frame) {
    static KorTest::TempDir dir;
    static std::string paths[2];
    if (paths[0].empty()) {
        KorTest::SGGridOptions o;
        o.scale = 4096.0f;  // 12 bits over the unit density range
        KorTest::KorWriter w;
        w.Grid(kSide, kSide, kSide);
        for (int c = 0; c < 4; ++c)
            w.GridChannel(kChannels[c], KorTest::MakeSmokeField(kSide, kSide, kSide, static_cast<uint32_t>(c + 1)), o);
        for (int f = 0; f < 2; ++f) {
            paths[f] = dir.File("smoke." + std::to_string(f + 1) + ".kor");
            w.FrameNumber(f + 1).WriteFile(paths[f]);
        }
    }
    return paths[frame];
}

// Best of five, in seconds: memcpy of `bytes` into a destination faulted in
// beforehand, and into memory fresh from the allocator.
double WarmMemcpySeconds(size_t bytes) {
    static std::vector<char> from(4 * kBytes, 1), to(4 * kBytes, 0);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t0 = Now();
        std::memcpy(to.data(), from.data(), bytes);
        benchmark::DoNotOptimize(to.data());
        benchmark::ClobberMemory();
        best = std::min(best, Now() - t0);
    }
    return best;
}
double FreshMemcpySeconds(size_t bytes) {
    static std::vector<char> from(4 * kBytes, 1);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t0 = Now();
        std::unique_ptr<char[]> to(new char[bytes]);
        std::memcpy(to.get(), from.data(), bytes);
        benchmark::DoNotOptimize(to.get());
        benchmark::ClobberMemory();
        best = std::min(best, Now() - t0);
    }
    return best;
}

void Ratios(benchmark::State& state, double seconds, double worst, size_t bytes) {
    if (state.iterations() == 0) return;
    state.counters["worst_ms"] = worst * 1e3;
    const double each = seconds / static_cast<double>(state.iterations());
    state.counters["memcpy_ratio"] = each / WarmMemcpySeconds(bytes);
    state.counters["fresh_ratio"] = each / FreshMemcpySeconds(bytes);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

bool ReadChannel(IKor* frame, int channel) {
    const float* values = frame != nullptr ? frame->GetChannel(channel) : nullptr;
    benchmark::DoNotOptimize(values);
    return values != nullptr;
}

void FirstRead(benchmark::State& state) {
    const std::string& path = FramePath(0);
    double seconds = 0, worst = 0;
    for (auto _ : state) {
        IKor* frame = newIKor(path.c_str());
        const double t0 = Now();
        const bool ok = ReadChannel(frame, KOR_GRID_SMOKE);
        const double t = Now() - t0;
        state.SetIterationTime(t);
        seconds += t;
        worst = std::max(worst, t);
        deleteIKor(frame);
        if (!ok) state.SkipWithError("no channel");
    }
    Ratios(state, seconds, worst, kBytes);
}
BENCHMARK(FirstRead)->Unit(benchmark::kMillisecond)->UseManualTime();

void SequencePlayback(benchmark::State& state) {
    int next = 0;
    IKor* frame = newIKor(FramePath(next).c_str());
    ReadChannel(frame, KOR_GRID_SMOKE);
    double seconds = 0, worst = 0;
    for (auto _ : state) {
        deleteIKor(frame);
        next ^= 1;
        frame = newIKor(FramePath(next).c_str());
        const double t0 = Now();
        const bool ok = ReadChannel(frame, KOR_GRID_SMOKE);
        const double t = Now() - t0;
        state.SetIterationTime(t);
        seconds += t;
        worst = std::max(worst, t);
        if (!ok) state.SkipWithError("no channel");
    }
    deleteIKor(frame);
    Ratios(state, seconds, worst, kBytes);
}
BENCHMARK(SequencePlayback)->Unit(benchmark::kMillisecond)->UseManualTime();

void TwoHostThreads(benchmark::State& state) {
    const std::string& path = FramePath(0);
    double seconds = 0, worst = 0;
    for (auto _ : state) {
        IKor* frame = newIKor(path.c_str());
        bool ok[2] = {false, false};
        const double t0 = Now();
        std::thread second([&] { ok[1] = ReadChannel(frame, kChannels[2]) && ReadChannel(frame, kChannels[3]); });
        ok[0] = ReadChannel(frame, kChannels[0]) && ReadChannel(frame, kChannels[1]);
        second.join();
        const double t = Now() - t0;
        state.SetIterationTime(t);
        seconds += t;
        worst = std::max(worst, t);
        deleteIKor(frame);
        if (!ok[0] || !ok[1]) state.SkipWithError("no channel");
    }
    Ratios(state, seconds, worst, 4 * kBytes);
}
BENCHMARK(TwoHostThreads)->Unit(benchmark::kMillisecond)->UseManualTime();

// The references on their own, for the table.
void WarmMemcpy(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(WarmMemcpySeconds(kBytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(WarmMemcpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

void FreshMemcpy(benchmark::State& state) {
    for (auto _ : state) state.SetIterationTime(FreshMemcpySeconds(kBytes));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(kBytes));
}
BENCHMARK(FreshMemcpy)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

}  // namespace

BENCHMARK_MAIN();
