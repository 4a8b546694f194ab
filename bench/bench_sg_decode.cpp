// Decoding a 256^3 smoke-like grid channel (quantised, 1 to 4 differencing
// passes, as one stream and as zones of 16 slices) against memcpy of the
// same decoded bytes, measured in the same run; and grids of other shapes
// and pass counts, down to the narrow many-pass ones hostile streams ask for.
//
// Counters per decode benchmark:
//   memcpy_ratio  decode time / time of one memcpy of the decoded floats
//                 (both as thread CPU time, so that a loaded machine does
//                 not skew the ratio; best of 5 memcpy runs)
//   peak_MiB      growth of the process's peak resident memory during one
//                 decode into a fresh destination (the destination itself
//                 is 64 MiB of it)
//   stream_MiB    size of the compressed stream
#include <benchmark/benchmark.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "codecs/entropy_coder.h"
#include "codecs/sg_compressor.h"
#include "support/byte_writer.h"
#include "support/entropy_encoder.h"
#include "support/sg_encoder.h"

namespace {

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

constexpr int kSide = 256;
constexpr size_t kCells = size_t(kSide) * kSide * kSide;
constexpr float kScale = 4096.0f;  // 12 bits over the unit density range

const std::vector<float>& Field() {
    static const std::vector<float> field = KorTest::MakeSmokeField(kSide, kSide, kSide, 1);
    return field;
}

const std::vector<uint8_t>& Stream(int passes, bool zoned) {
    static std::vector<uint8_t> streams[2][5];
    std::vector<uint8_t>& s = streams[zoned][passes];
    if (s.empty()) {
        KorTest::SGGridOptions o;
        o.scale = kScale;
        o.passes = passes;
        o.zoneSlices = zoned ? 16 : 0;
        s = KorTest::SGGridStream(kSide, kSide, kSide, Field().data(), o);
    }
    return s;
}

// Decode destinations start on a cache line, as the library's own channel
// arrays do.
struct AlignedDelete {
    void operator()(float* p) const noexcept { ::operator delete[](p, std::align_val_t{64}); }
};
using Floats = std::unique_ptr<float[], AlignedDelete>;
Floats NewFloats(size_t n) {
    return Floats(static_cast<float*>(::operator new[](n * sizeof(float), std::align_val_t{64})));
}

// Peak resident memory (VmHWM) and current (VmRSS), in KiB; Linux only.
long StatusKiB(const char* key) {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(key, 0) == 0) return std::stol(line.substr(std::strlen(key)));
    return -1;
}
bool ResetPeak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return static_cast<bool>(clear);
}

double PeakDecodeMiB(const std::vector<uint8_t>& stream) {
    Floats out = NewFloats(kCells);  // untouched: its pages count when the decoder writes them
    if (!ResetPeak()) return -1;
    const long before = StatusKiB("VmRSS:");
    SGCompressor<3> decoder;
    const bool ok = decoder.Decompress(stream.data(), stream.size(), out.get(), kCells);
    const long peak = StatusKiB("VmHWM:");
    return ok && before >= 0 && peak >= 0 ? (peak - before) / 1024.0 : -1;
}

double MemcpySeconds(const float* from) {
    static std::unique_ptr<float[]> to(new float[kCells]);
    double best = 1e9;
    for (int i = 0; i < 5; ++i) {
        const double t0 = ThreadSeconds();
        std::memcpy(to.get(), from, kCells * sizeof(float));
        benchmark::DoNotOptimize(to.get());
        benchmark::ClobberMemory();
        best = std::min(best, ThreadSeconds() - t0);
    }
    return best;
}

// Decodes the stream into out (n floats) once per iteration, by one reused
// decoder, and returns the thread CPU seconds of one decode; -1 (and the
// benchmark skipped) when the stream does not decode.
double SecondsPerDecode(benchmark::State& state, const std::vector<uint8_t>& stream, float* out, size_t n) {
    SGCompressor<3> decoder;
    if (!decoder.Decompress(stream.data(), stream.size(), out, n)) {
        state.SkipWithError("decode failed");
        return -1;
    }
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        decoder.Decompress(stream.data(), stream.size(), out, n);
        benchmark::DoNotOptimize(out);
        seconds += ThreadSeconds() - t0;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * n * sizeof(float)));
    return seconds / static_cast<double>(state.iterations());
}

void BM_Decode(benchmark::State& state) {
    const int passes = static_cast<int>(state.range(0));
    const bool zoned = state.range(1) != 0;
    const std::vector<uint8_t>& stream = Stream(passes, zoned);
    const Floats out = NewFloats(kCells);
    const double seconds = SecondsPerDecode(state, stream, out.get(), kCells);
    if (seconds < 0) return;
    state.counters["memcpy_ratio"] = seconds / MemcpySeconds(out.get());
    state.counters["peak_MiB"] = PeakDecodeMiB(stream);
    state.counters["stream_MiB"] = static_cast<double>(stream.size()) / (1 << 20);
}
BENCHMARK(BM_Decode)
    ->ArgNames({"passes", "zoned"})
    ->Args({1, 0})
    ->Args({2, 0})
    ->Args({3, 0})
    ->Args({4, 0})
    ->Args({1, 1})
    ->Args({2, 1})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The entropy expansion alone of the same streams, a piece of 64 KiB at a
// time into one small buffer, as the decoder stages it: what no work on the
// passes can take off a decode.
void BM_ExpandOnly(benchmark::State& state) {
    const std::vector<uint8_t>& stream = Stream(static_cast<int>(state.range(0)), false);
    constexpr size_t kHeaderBytes = 28, kPiece = 16384;
    std::vector<int32_t> piece(kPiece + EntropyCoder::kExpandSlack);
    double seconds = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        EntropyCoder coder;
        bool ok = coder.InitDecoder(stream.data() + kHeaderBytes, stream.size() - kHeaderBytes) &&
                  coder.BeginExpand(kCells, 0);
        for (size_t done = 0; ok && done < kCells; done += kPiece)
            ok = coder.ExpandNext(piece.data(), kPiece, EntropyCoder::kExpandSlack);
        benchmark::DoNotOptimize(piece.data());
        seconds += ThreadSeconds() - t0;
        if (!ok) {
            state.SkipWithError("expansion failed");
            return;
        }
    }
    const std::vector<float>& field = Field();
    state.counters["memcpy_ratio"] = seconds / static_cast<double>(state.iterations()) / MemcpySeconds(field.data());
}
BENCHMARK(BM_ExpandOnly)->ArgName("passes")->DenseRange(1, 4)->Unit(benchmark::kMillisecond)->UseRealTime();

// A quantised stream of nx x ny x nz small random tokens with the given
// pass count, written directly (the test encoder's differencing would take
// long with many passes). The decoded values are of no interest, the time is.
// With `zeros`, every token is 0: the expansion is one long run, and the
// time is that of the passes and the conversion.
std::vector<uint8_t> ShapeStream(int32_t nx, int32_t ny, int32_t nz, int passes, bool zeros = false) {
    const size_t n = static_cast<size_t>(nx) * ny * nz;
    std::vector<int32_t> values(n);
    uint32_t x = 12345;
    for (int32_t& v : values) {
        x = x * 1664525u + 1013904223u;
        v = zeros ? 0 : static_cast<int32_t>(x >> 28);
    }
    const std::vector<uint8_t> block = KorTest::EncodeEntropyBlock(KorTest::Tokenize(values.data(), n));
    KorTest::ByteWriter s;
    s.Get().reserve(32 + block.size());
    s.Put<uint16_t>(0xFC01).Put<uint8_t>(2).Put(nx).Put(ny).Put(nz).Put(1.0f).Put(0.0f).Put<int32_t>(0);
    s.Put(static_cast<uint8_t>(passes)).PutBytes(block);
    return s.Get();
}

// The passes alone over the 256^3 grid, against memcpy of its floats; and
// over 16 of its slices, which the caches hold, per cell.
void BM_PassesOnly(benchmark::State& state) {
    const int32_t nz = static_cast<int32_t>(state.range(0));
    const size_t n = static_cast<size_t>(kSide) * kSide * nz;
    const std::vector<uint8_t> stream = ShapeStream(kSide, kSide, nz, static_cast<int>(state.range(1)), true);
    const Floats out = NewFloats(n);
    const double seconds = SecondsPerDecode(state, stream, out.get(), n);
    if (seconds < 0) return;
    if (n == kCells) state.counters["memcpy_ratio"] = seconds / MemcpySeconds(Field().data());
    state.counters["ns_per_cell"] = seconds / static_cast<double>(n) * 1e9;
}
BENCHMARK(BM_PassesOnly)
    ->ArgNames({"nz", "passes"})
    ->ArgsProduct({{kSide, 16}, {0, 1, 2, 4}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// Decode time of one shape, per cell as well.
void BM_DecodeShape(benchmark::State& state) {
    const int32_t nx = static_cast<int32_t>(state.range(0)), ny = static_cast<int32_t>(state.range(1)),
                  nz = static_cast<int32_t>(state.range(2));
    const int passes = static_cast<int>(state.range(3));
    const size_t n = static_cast<size_t>(nx) * ny * nz;
    const std::vector<uint8_t> stream = ShapeStream(nx, ny, nz, passes);
    const Floats out = NewFloats(n);
    const double seconds = SecondsPerDecode(state, stream, out.get(), n);
    if (seconds < 0) return;
    state.counters["ns_per_cell"] = seconds / static_cast<double>(n) * 1e9;
}
// Hostile shapes of 1 MiB (2^18 cells): narrow rows, many passes.
BENCHMARK(BM_DecodeShape)
    ->ArgNames({"nx", "ny", "nz", "passes"})
    ->Args({2, 3, 43690, 255})
    ->Args({1, 2, 131072, 255})
    ->Args({3, 1, 87381, 255})
    ->Args({4, 4, 16384, 255})
    ->Args({16, 16, 1024, 255})
    ->Args({2, 3, 43690, 17})
    ->Args({1, 2, 131072, 17})
    ->Args({3, 1, 87381, 17})
    ->Args({4, 4, 16384, 17})
    ->Args({16, 16, 1024, 17})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
// Row widths around the choice between the decoders: 4 MiB grids with
// slices of 64 rows, 1 to 5 passes.
void WidthSweep(benchmark::internal::Benchmark* b) {
    for (int nx : {4, 8, 16, 32, 64, 128, 256})
        for (int passes : {1, 2, 3, 4, 5}) b->Args({nx, 64, (1 << 20) / 64 / nx, passes});
}
// And 64 MiB grids, which no cache holds, around the same choice.
void WidthSweepLarge(benchmark::internal::Benchmark* b) {
    for (int nx : {16, 32, 64, 128})
        for (int passes : {1, 2, 4}) b->Args({nx, 64, (1 << 24) / 64 / nx, passes});
    b->Args({2, 3, 2796202, 255});
}
BENCHMARK(BM_DecodeShape)
    ->Name("BM_DecodeWidthLarge")
    ->ArgNames({"nx", "ny", "nz", "passes"})
    ->Apply(WidthSweepLarge)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK(BM_DecodeShape)
    ->Name("BM_DecodeWidth")
    ->ArgNames({"nx", "ny", "nz", "passes"})
    ->Apply(WidthSweep)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// The reference: memcpy of the decoded floats into another array.
void BM_Memcpy(benchmark::State& state) {
    const std::vector<float>& field = Field();
    std::unique_ptr<float[]> to(new float[kCells]);
    std::memcpy(to.get(), field.data(), kCells * sizeof(float));
    for (auto _ : state) {
        std::memcpy(to.get(), field.data(), kCells * sizeof(float));
        benchmark::DoNotOptimize(to.get());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kCells * sizeof(float)));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
