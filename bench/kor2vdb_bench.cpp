// kor2vdb on a 256^3 smoke frame (density, temperature, velocity) against
// OpenVDB's own way of making the same file, measured in the same run:
//
//   BM_Kor2Vdb          one frame as the tool converts it: open the .kor,
//                       decode the channels, build the grids, write the .vdb
//   BM_OpenVdbReference the channels already decoded into dense arrays:
//                       tools::copyFromDense into each grid, io::File::write
//
// Both write with the same compression (the tool's default) and the same
// thread budget (the machine's cores, as the tool uses them for one frame),
// with the tool's allocator settings (run.h).
// Counters: file_MiB, the size of the file written. The program ends with
// the ratio of the two times (medians when run with repetitions).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <openvdb/io/File.h>
#include <openvdb/openvdb.h>
#include <openvdb/tools/Dense.h>
#include <string>
#include <vector>

#include "frame_converter.h"
#include "korloader/korloader.h"
#include "run.h"
#include "support/kor_writer.h"
#include "support/sg_encoder.h"

namespace {

constexpr int kSide = 256;
constexpr size_t kCells = size_t(kSide) * kSide * kSide;
const KorTest::Transform kTransform = {0.05f, 0, 0, 0, 0.05f, 0, 0, 0, 0.05f, -6.4f, 0, -6.4f};

std::filesystem::path g_dir;
std::string g_frame;
// The frame's channels as GetChannel decodes them, for the reference.
std::vector<float> g_density, g_temperature;
std::vector<openvdb::Vec3f> g_velocity;

// A smoke frame as a simulation writes it: density and temperature in the
// puffs (about half the cells), velocity around them, zero elsewhere.
void WriteFrame() {
    const std::vector<float> density = KorTest::MakeSmokeField(kSide, kSide, kSide, 1);
    std::vector<float> temperature(kCells), vx(kCells), vy(kCells), vz(kCells);
    const std::vector<float> swirl = KorTest::MakeSmokeField(kSide, kSide, kSide, 2);
    for (size_t n = 0; n < kCells; ++n) {
        temperature[n] = density[n] > 0 ? 300.0f + 600.0f * density[n] : 0.0f;
        vx[n] = swirl[n] - 0.5f * density[n];
        vy[n] = 1.5f * density[n];
        vz[n] = 0.5f * density[n] - 0.25f * swirl[n];
    }
    KorTest::SGGridOptions fine, velocity;
    fine.scale = 4096.0f;
    velocity.scale = 1024.0f;
    velocity.passes = 2;
    KorTest::KorWriter w;
    w.Grid(kSide, kSide, kSide)
        .GridTransform(kTransform)
        .GridChannel(KOR_GRID_SMOKE, density, fine)
        .GridChannel(KOR_GRID_TEMPERATURE, temperature, fine)
        .GridChannel(KOR_GRID_VELOCITY_X, vx, velocity)
        .GridChannel(KOR_GRID_VELOCITY_Y, vy, velocity)
        .GridChannel(KOR_GRID_VELOCITY_Z, vz, velocity)
        .FrameNumber(1);
    w.WriteFile(g_frame);
}

bool DecodeFrame() {
    IKor* frame = newIKor(g_frame.c_str());
    if (frame == nullptr) return false;
    const float* d = frame->GetChannel(KOR_GRID_SMOKE);
    const float* t = frame->GetChannel(KOR_GRID_TEMPERATURE);
    const float* v[3] = {frame->GetChannel(4), frame->GetChannel(5), frame->GetChannel(6)};
    if (!d || !t || !v[0] || !v[1] || !v[2]) return false;
    g_density.assign(d, d + kCells);
    g_temperature.assign(t, t + kCells);
    g_velocity.resize(kCells);
    for (size_t n = 0; n < kCells; ++n) g_velocity[n] = openvdb::Vec3f(v[0][n], v[1][n], v[2][n]);
    deleteIKor(frame);
    return true;
}

double MiB(const std::string& path) { return static_cast<double>(std::filesystem::file_size(path)) / (1 << 20); }

void BM_Kor2Vdb(benchmark::State& state) {
    Kor2Vdb::Library library;
    Kor2Vdb::Options options;
    options.particles = false;
    Kor2Vdb::FrameTask task;
    task.input = g_frame;
    task.output = (g_dir / "kor2vdb.vdb").string();
    for (auto _ : state) {
        const Kor2Vdb::FrameResult result = Kor2Vdb::ConvertFrame(task, options, library);
        if (!result.ok) {
            state.SkipWithError(result.error.c_str());
            break;
        }
    }
    state.counters["file_MiB"] = MiB(task.output);
}
BENCHMARK(BM_Kor2Vdb)->Unit(benchmark::kMillisecond)->UseRealTime();

template <class GridT, class ValueT>
typename GridT::Ptr FromDense(std::vector<ValueT>& values, const openvdb::math::Transform& transform,
                              const char* name) {
    const openvdb::CoordBBox box(openvdb::Coord(0), openvdb::Coord(kSide - 1));
    openvdb::tools::Dense<ValueT, openvdb::tools::LayoutXYZ> dense(box, values.data());  // x fastest, as the frame
    typename GridT::Ptr grid = GridT::create(openvdb::zeroVal<ValueT>());
    openvdb::tools::copyFromDense(dense, *grid, openvdb::zeroVal<ValueT>());
    grid->setTransform(transform.copy());
    grid->setName(name);
    return grid;
}

void BM_OpenVdbReference(benchmark::State& state) {
    openvdb::Mat4d m = openvdb::Mat4d::identity();
    for (int row = 0; row < 4; ++row)
        for (int k = 0; k < 3; ++k) m[row][k] = kTransform[3 * row + k];
    const openvdb::math::Transform::Ptr transform = openvdb::math::Transform::createLinearTransform(m);
    const std::string path = (g_dir / "reference.vdb").string();
    const uint32_t compression = openvdb::io::COMPRESS_ACTIVE_MASK | (openvdb::io::Archive::hasBloscCompression()
                                                                          ? openvdb::io::COMPRESS_BLOSC
                                                                          : openvdb::io::COMPRESS_ZIP);
    for (auto _ : state) {
        openvdb::GridPtrVec grids;
        grids.push_back(FromDense<openvdb::FloatGrid>(g_temperature, *transform, "temperature"));
        grids.push_back(FromDense<openvdb::FloatGrid>(g_density, *transform, "density"));
        grids.push_back(FromDense<openvdb::Vec3SGrid>(g_velocity, *transform, "vel"));
        openvdb::io::File file(path);
        file.setCompression(compression);
        file.write(grids);
        file.close();
    }
    state.counters["file_MiB"] = MiB(path);
}
BENCHMARK(BM_OpenVdbReference)->Unit(benchmark::kMillisecond)->UseRealTime();

// Keeps each benchmark's time per iteration (the median when repeated).
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (median || (run.run_type == Run::RT_Iteration && !medians_.count(run.run_name.function_name)))
                times_[run.run_name.function_name] = run.GetAdjustedRealTime();
            if (median) medians_[run.run_name.function_name] = true;
        }
    }
    double Time(const std::string& name) const { return times_.count(name) ? times_.at(name) : 0; }

private:
    std::map<std::string, double> times_;
    std::map<std::string, bool> medians_;
};

}  // namespace

int main(int argc, char** argv) {
    openvdb::initialize();
    Kor2Vdb::KeepFreedMemoryForReuse();  // as the tool runs
    g_dir = std::filesystem::temp_directory_path() / "kor2vdb_bench";
    std::filesystem::create_directories(g_dir);
    g_frame = (g_dir / "smoke_0001.kor").string();
    WriteFrame();
    if (!DecodeFrame()) {
        std::fprintf(stderr, "cannot read the frame %s\n", g_frame.c_str());
        return 1;
    }
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const double ours = reporter.Time("BM_Kor2Vdb"), reference = reporter.Time("BM_OpenVdbReference");
    if (ours > 0 && reference > 0)
        std::printf("ratio kor2vdb / OpenVDB copyFromDense+write: %.3f (frame file %.1f MiB)\n", ours / reference,
                    MiB(g_frame));
    std::error_code ec;
    std::filesystem::remove_all(g_dir, ec);
    benchmark::Shutdown();
    return 0;
}
