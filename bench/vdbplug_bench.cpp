// A 256^3 density grid read from a .vdb file: through the library and the
// vdbplug module (newIKor + GetChannel), against OpenVDB's own read followed
// by its copy to a dense array, measured in the same run; and the module's
// walk over the grid's stored bytes alone, which every import does before
// OpenVDB reads the grid. The program ends with the ratios.
#include <benchmark/benchmark.h>

#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/tools/Dense.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>

#include "korloader/korloader.h"
#include "vdb_codes.h"
#include "vdb_layout.h"

namespace {

constexpr int kSide = 256;
std::string g_path;

void WriteDensityFile() {
    auto grid = openvdb::FloatGrid::create(0.0f);
    grid->setName("density");
    grid->setTransform(openvdb::math::Transform::createLinearTransform(0.1));
    auto acc = grid->getAccessor();
    // A smooth field, as a simulation writes: compresses, but not to nothing.
    for (int z = 0; z < kSide; ++z)
        for (int y = 0; y < kSide; ++y)
            for (int x = 0; x < kSide; ++x)
                acc.setValueOn(openvdb::Coord(x, y, z),
                               0.5f + 0.5f * std::sin(x * 0.05f) * std::cos(y * 0.07f) * std::sin(z * 0.03f + 1.0f));
    openvdb::io::File file(g_path);
    file.write({grid});
    file.close();
}

// OpenVDB's own path: read the one grid, copy it to a dense x-fastest array.
void BM_OpenVdbReadAndCopyToDense(benchmark::State& state) {
    const bool serial = state.range(0) != 0;
    for (auto _ : state) {
        openvdb::io::File file(g_path);
        file.open(false);
        auto grid = openvdb::gridPtrCast<openvdb::FloatGrid>(file.readGrid("density"));
        file.close();
        openvdb::tools::Dense<float, openvdb::tools::LayoutXYZ> dense(grid->evalActiveVoxelBoundingBox());
        openvdb::tools::copyToDense(*grid, dense, serial);
        benchmark::DoNotOptimize(dense.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * kSide * 4);
}
BENCHMARK(BM_OpenVdbReadAndCopyToDense)->Arg(0)->Arg(1)->ArgName("serial")->Unit(benchmark::kMillisecond);

// The host's path: default mapping, import through the module, the channel.
void BM_NewIKorGetChannel(benchmark::State& state) {
    for (auto _ : state) {
        IKor* frame = newIKor(g_path.c_str());
        if (frame == nullptr) {
            state.SkipWithError("newIKor failed");
            break;
        }
        benchmark::DoNotOptimize(frame->GetChannel(2));
        deleteIKor(frame);
    }
    state.SetBytesProcessed(state.iterations() * int64_t(kSide) * kSide * kSide * 4);
}
BENCHMARK(BM_NewIKorGetChannel)->Unit(benchmark::kMillisecond);

// The module's own checks alone: the file's layout, then the walk over the
// mapped grid's stored tree.
void BM_ModuleWalk(benchmark::State& state) {
    for (auto _ : state) {
        PluginIo::MappedFileSource source;  // as the module reads it
        VdbPlug::FileLayout layout;
        if (!source.Open(g_path.c_str()) || VdbPlug::ReadLayout(source, layout) != VdbPlug::kOk ||
            layout.grids.empty() || VdbPlug::CheckGrid(source, layout, layout.grids[0]) != VdbPlug::kOk) {
            state.SkipWithError("walk failed");
            break;
        }
    }
}
BENCHMARK(BM_ModuleWalk)->Unit(benchmark::kMillisecond);

// Collects each benchmark's real time per iteration for the closing ratio.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs)
            if (run.run_type == Run::RT_Iteration && run.iterations > 0)
                times[run.benchmark_name()] = run.GetAdjustedRealTime();
    }
    std::map<std::string, double> times;
};

}  // namespace

int main(int argc, char** argv) {
    openvdb::initialize();
    const auto dir = std::filesystem::temp_directory_path() / "vdbplug_bench";
    std::filesystem::create_directories(dir);
    g_path = (dir / "density_256.vdb").string();
    WriteDensityFile();
    if ((initalizeKoraLoader(KOR_MODULE_DIR, KOR_MODULE_SUFFIX, 0) & 2) == 0) {
        std::fprintf(stderr, "vdbplug_%s not found in %s\n", KOR_MODULE_SUFFIX, KOR_MODULE_DIR);
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.times["BM_NewIKorGetChannel"];
    const double parallel = reporter.times["BM_OpenVdbReadAndCopyToDense/serial:0"];
    const double serial = reporter.times["BM_OpenVdbReadAndCopyToDense/serial:1"];
    if (ours > 0 && parallel > 0 && serial > 0)
        std::printf("ratio newIKor+GetChannel / OpenVDB read+copyToDense: %.3f (parallel copy), %.3f (serial copy)\n",
                    ours / parallel, ours / serial);
    const double walk = reporter.times["BM_ModuleWalk"];
    if (walk > 0 && ours > 0) std::printf("ratio module walk / newIKor+GetChannel: %.4f\n", walk / ours);
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    benchmark::Shutdown();
    return 0;
}
