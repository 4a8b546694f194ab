// Particle channel decoding and lookups by ID:
//   - method 4's bit-plane rebuild (32 x 32 transposes through the PRTIN job
//     set, and on one thread at each vector width) and a bit-by-bit rebuild,
//     against memcpy of the element bytes;
//   - method 3's component-major reorder, against the same memcpy;
//   - FindParticleByID over a million particles whose IDs ascend or are
//     shuffled (the ordering is built once, outside the timed loop), and the
//     building of that ordering.
// Throughput is in particles (or lookups) per second.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <numeric>
#include <random>
#include <vector>

#include "codecs/particle_methods.h"
#include "particles/pgroup.h"

namespace {

constexpr int32_t kParticles = 1 << 20;
constexpr int kWords = 3;  // position, velocity, colour

const std::vector<uint32_t>& Source() {
    static std::vector<uint32_t> words = [] {
        std::vector<uint32_t> w(static_cast<size_t>(kParticles) * kWords);
        std::mt19937 random(1);
        for (uint32_t& v : w) v = random();
        return w;
    }();
    return words;
}

void MemcpyElements(benchmark::State& state) {
    const std::vector<uint32_t>& source = Source();
    std::vector<uint32_t> out(source.size());
    for (auto _ : state) {
        std::memcpy(out.data(), source.data(), source.size() * 4);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kParticles);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(source.size()) * 4);
}
BENCHMARK(MemcpyElements)->Unit(benchmark::kMillisecond);

void Method4Rebuild(benchmark::State& state) {
    const std::vector<uint32_t>& planes = Source();  // the array has the same size (n is a multiple of 32)
    std::vector<uint32_t> out(planes.size());
    for (auto _ : state) {
        KorParticles::PRTIN rebuild;
        rebuild.planes = planes.data();
        rebuild.count = kParticles;
        rebuild.words = kWords;
        rebuild.elements = out.data();
        if (!rebuild.InitJobs() || !rebuild.SetItemCount(kParticles) ||
            !rebuild.SetProcedure(&rebuild, &KorParticles::PRTIN::Rebuild))
            state.SkipWithError("no job");
        rebuild.RunProcedure(nullptr);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kParticles);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()) * 4);
}
BENCHMARK(Method4Rebuild)->Unit(benchmark::kMillisecond);

// The rebuild on one thread, with vectors of up to the given width (0: the
// 64-bit rows alone).
void Method4RebuildOneThread(benchmark::State& state) {
    const std::vector<uint32_t>& planes = Source();
    std::vector<uint32_t> out(planes.size());
    for (auto _ : state) {
        KorParticles::RebuildFromBitPlanes(planes.data(), kParticles, kWords, 0, kParticles, out.data(),
                                           static_cast<int>(state.range(0)));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kParticles);
}
BENCHMARK(Method4RebuildOneThread)->ArgName("bits")->Arg(0)->Arg(128)->Arg(256)->Arg(512)->Unit(benchmark::kMillisecond);

// The rebuild as the format describes it: one bit at a time.
void Method4RebuildBitByBit(benchmark::State& state) {
    const std::vector<uint32_t>& planes = Source();
    std::vector<uint32_t> out(planes.size());
    const size_t p = kParticles / 32;
    for (auto _ : state) {
        for (size_t i = 0; i < static_cast<size_t>(kParticles); ++i)
            for (int j = 0; j < kWords; ++j) {
                uint32_t word = 0;
                for (int b = 0; b < 32; ++b)
                    if ((planes[(32 * j + b) * p + i / 32] >> (i % 32)) & 1u) word |= 1u << b;
                out[i * kWords + j] = word;
            }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kParticles);
}
BENCHMARK(Method4RebuildBitByBit)->Unit(benchmark::kMillisecond);

void Method3Reorder(benchmark::State& state) {
    const std::vector<uint32_t>& componentMajor = Source();
    std::vector<uint32_t> out(componentMajor.size());
    for (auto _ : state) {
        KorParticles::ReorderComponentMajor(componentMajor.data(), kParticles, kWords, out.data());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kParticles);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(out.size()) * 4);
}
BENCHMARK(Method3Reorder)->Unit(benchmark::kMillisecond);

// --- Lookups by ID

constexpr int32_t kIdParticles = 1000000;

std::vector<int64_t> Ids(bool shuffled) {
    std::vector<int64_t> ids(kIdParticles);
    for (int32_t i = 0; i < kIdParticles; ++i) ids[i] = 3 * static_cast<int64_t>(i) + 17;
    if (shuffled) std::shuffle(ids.begin(), ids.end(), std::mt19937(7));
    return ids;
}

void FillIds(PGroup& group, const std::vector<int64_t>& ids) {
    group.SetParticleCount(static_cast<int32_t>(ids.size()));
    PGroup::Bytes bytes;
    bytes.SetSize(static_cast<int64_t>(ids.size()) * 8, nullptr, true);
    std::memcpy(bytes.Data(), ids.data(), ids.size() * 8);
    group.SetDecodedChannel(KOR_PARTICLE_ID, std::move(bytes));
}

void FindParticleById(benchmark::State& state) {
    const std::vector<int64_t> ids = Ids(state.range(0) != 0);
    PGroup group;
    FillIds(group, ids);
    group.FindParticleByID(ids[0]);  // the one ordering, outside the timing
    std::vector<int64_t> queries(4096);
    std::mt19937 random(3);
    for (int64_t& q : queries) q = ids[random() % ids.size()];
    size_t k = 0;
    int64_t found = 0;
    for (auto _ : state) {
        found += group.FindParticleByID(queries[k++ & 4095]) >= 0;
    }
    if (found != state.iterations()) state.SkipWithError("an ID was not found");
    state.SetItemsProcessed(state.iterations());
    state.SetLabel(state.range(0) ? "shuffled IDs" : "ascending IDs");
}
BENCHMARK(FindParticleById)->Arg(0)->Arg(1);

void BuildIdOrdering(benchmark::State& state) {
    const std::vector<int64_t> ids = Ids(true);
    for (auto _ : state) {
        state.PauseTiming();
        auto group = std::make_unique<PGroup>();
        FillIds(*group, ids);
        state.ResumeTiming();
        if (!group->EnsureIdOrder()) state.SkipWithError("no memory");
        benchmark::DoNotOptimize(group->IdOrder().Data());
        state.PauseTiming();
        group.reset();
        state.ResumeTiming();
    }
    state.SetItemsProcessed(state.iterations() * kIdParticles);
}
BENCHMARK(BuildIdOrdering)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
