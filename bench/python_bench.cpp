// The Python module against the C++ interface on the same files, in one
// process and one run (an embedded interpreter imports the built module):
//
//   OpenSmokeChannel   kl.open(p).channel("smoke") on a 256^3 frame against
//                      newIKor(p) + GetChannel(2); a fresh frame every time
//                      (the array, or the frame, is given back at once), so
//                      both pay for decoding into new pages
//   GroupPositions     a 1M-particle group's channel("position") (decoded
//                      already: one copy per particle into a new array)
//                      against memcpy of its 12 MB into a new buffer
//   ParallelDecode     two Python threads decoding the two channels of a
//                      fresh 192^3 frame against one thread decoding both in
//                      turn: near 0.5 when decoding runs without the GIL
//                      and two cores are free
//
// Each iteration times both, in alternating order, as thread CPU time
// (wall time for ParallelDecode). Counters: python_ms and reference_ms per
// call, ratio = python / reference.
#include <benchmark/benchmark.h>
#include <pybind11/embed.h>
#include <pybind11/numpy.h>
#include <time.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "korloader/korloader.h"
#include "support/kor_writer.h"
#include "support/particle_writer.h"
#include "support/temp_dir.h"

namespace py = pybind11;

namespace {

constexpr int kSide = 256;
constexpr int kParticles = 1 << 20;

double Seconds(clockid_t clock) {
    timespec t;
    clock_gettime(clock, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

KorTest::TempDir& Dir() {
    static KorTest::TempDir dir;
    return dir;
}

// A side^3 frame with smoke-like channels: smoke (2), then temperature (1).
std::string GridFrame(const char* name, int side, int channels) {
    const std::string path = Dir().File(name);
    KorTest::SGGridOptions options;
    options.scale = 4096.0f;  // as bench_sg_decode
    KorTest::KorWriter writer;
    writer.Grid(side, side, side);
    for (int c = 0; c < channels; ++c)
        writer.GridChannel(c == 0 ? KOR_GRID_SMOKE : KOR_GRID_TEMPERATURE,
                           KorTest::MakeSmokeField(side, side, side, static_cast<uint32_t>(c + 1)), options);
    writer.WriteFile(path);
    return path;
}

const std::string& ParticleFrame() {
    static std::string path;
    if (path.empty()) {
        path = Dir().File("particles.kor");
        std::vector<float> position(size_t{kParticles} * 3);
        for (size_t i = 0; i < position.size(); ++i) position[i] = static_cast<float>(i % 1000) * 0.25f;
        KorTest::CompressedGroup group{"sparks", 0, kParticles, 0, {}};
        group.channels.push_back({0, 0, KorTest::EncodePlain(KorTest::FloatWords(position))});
        KorTest::KorWriter()
            .Grid(8, 8, 8)
            .Chunk(1000, KorTest::GroupDirectoryChunk({{"sparks", kParticles, 0x1, 0}}, {0, 0, 0, 8, 8, 8}))
            .AfterChunk(KorTest::Int32Bytes(100000))
            .Chunk(1002, KorTest::CompressedParticlesChunk({group}))
            .WriteFile(path);
    }
    return path;
}

// The interpreter, with the built package first on its path.
py::module_& Script() {
    static py::scoped_interpreter interpreter;
    static py::module_ script = [] {
        py::module_::import("sys").attr("path").attr("insert")(0, KOR_PYTHON_BUILD_DIR);
        py::module_ m = py::module_::import("__main__");
        py::exec(R"(
import korloader as kl
def open_smoke_channel(path):
    kl.open(path).channel("smoke")
def positions(group):
    group.channel("position")
def decode_in_threads(path):
    import threading
    f = kl.open(path)
    threads = [threading.Thread(target=f.channel, args=(key,)) for key in ("smoke", "temperature")]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
def decode_in_turn(path):
    f = kl.open(path)
    for key in ("smoke", "temperature"):
        f.channel(key)
)",
                 m.attr("__dict__"));
        return m;
    }();
    return script;
}

// Times `python` and `reference` alternately on `clock` and reports both.
template <class Python, class Reference>
void Compare(benchmark::State& state, Python python, Reference reference, clockid_t clock = CLOCK_THREAD_CPUTIME_ID) {
    double pythonSeconds = 0, referenceSeconds = 0;
    bool pythonFirst = false;
    for (auto _ : state) {
        pythonFirst = !pythonFirst;
        for (int turn = 0; turn < 2; ++turn) {
            const bool runPython = (turn == 0) == pythonFirst;
            const double start = Seconds(clock);
            if (runPython && !python()) state.SkipWithError("the Python call failed");
            if (!runPython && !reference()) state.SkipWithError("the reference failed");
            (runPython ? pythonSeconds : referenceSeconds) += Seconds(clock) - start;
        }
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["python_ms"] = 1e3 * pythonSeconds / n;
    state.counters["reference_ms"] = 1e3 * referenceSeconds / n;
    state.counters["ratio"] = pythonSeconds / referenceSeconds;
}

void OpenSmokeChannel(benchmark::State& state) {
    static const std::string path = GridFrame("smoke.kor", kSide, 1);
    py::object open = Script().attr("open_smoke_channel");
    const py::str pathText(path);
    Compare(
        state,
        [&] {
            open(pathText);
            return true;
        },
        [&] {
            IKor* frame = newIKor(path.c_str());
            const float* smoke = frame != nullptr ? frame->GetChannel(KOR_GRID_SMOKE) : nullptr;
            benchmark::DoNotOptimize(smoke);
            deleteIKor(frame);
            return smoke != nullptr;
        });
}

void GroupPositions(benchmark::State& state) {
    py::object frame = Script().attr("kl").attr("open")(ParticleFrame());
    py::object group = frame.attr("group")("sparks");
    py::object positions = Script().attr("positions");
    positions(group);  // decoded once, before timing
    const py::array decoded = group.attr("channel")("position");
    const size_t bytes = size_t{kParticles} * 12;
    Compare(
        state,
        [&] {
            positions(group);
            return true;
        },
        [&] {
            std::unique_ptr<char[]> copy(new char[bytes]);  // new pages, as numpy's array has
            std::memcpy(copy.get(), decoded.data(), bytes);
            benchmark::DoNotOptimize(copy.get());
            return true;
        });
}

void ParallelDecode(benchmark::State& state) {
    static const std::string file = GridFrame("two.kor", 192, 2);
    const py::str path(file);
    py::object inThreads = Script().attr("decode_in_threads"), inTurn = Script().attr("decode_in_turn");
    Compare(
        state,
        [&] {
            inThreads(path);
            return true;
        },
        [&] {
            inTurn(path);
            return true;
        },
        CLOCK_MONOTONIC);
}

}  // namespace

BENCHMARK(OpenSmokeChannel)->Unit(benchmark::kMillisecond)->MinTime(3.0);
BENCHMARK(GroupPositions)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(ParallelDecode)->Unit(benchmark::kMillisecond)->MinTime(2.0)->UseRealTime();

BENCHMARK_MAIN();
