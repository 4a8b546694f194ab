#include "run.h"

#include <malloc.h>
#include <sched.h>
#include <tbb/global_control.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

#include "common/json_writer.h"
#include "common/module_dir.h"
#include "common/progress.h"
#include "frame_converter.h"
#include "frame_tasks.h"
#include "library.h"
#include "pending_file.h"

namespace Kor2Vdb {

namespace {

int Cores() {
    cpu_set_t set;
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) return CPU_COUNT(&set);
    return std::max(1u, std::thread::hardware_concurrency());
}

bool NeedsModules(const std::vector<FrameTask>& tasks) {
    for (const FrameTask& t : tasks) {
        const std::string extension = ExtensionOf(t.input);
        if (extension == "vdb" || extension == "f3d") return true;
    }
    return false;
}

std::string JsonLine(const FrameTask& task, const FrameResult& r, bool pointsSeparate) {
    KorTools::JsonWriter json;
    json.BeginObject().Key("frame");
    if (task.hasNumber)
        json.Int(task.number);
    else
        json.Null();
    json.Key("input").String(task.input).Key("output").String(task.output);
    if (pointsSeparate && r.wrotePoints) json.Key("points_output").String(task.pointsOutput);
    json.Key("ok").Bool(r.ok);
    if (!r.ok) json.Key("error").String(r.error);
    uint64_t voxels = 0, particles = 0;
    json.Key("grids").BeginArray();
    for (const GridSummary& g : r.grids) {
        json.BeginObject().Key("name").String(g.name).Key("type").String(g.type);
        json.Key(g.type == "points" ? "particles" : "active_voxels").Int(static_cast<int64_t>(g.count)).EndObject();
        (g.type == "points" ? particles : voxels) += g.count;
    }
    json.EndArray();
    json.Key("active_voxels").Int(static_cast<int64_t>(voxels)).Key("particles").Int(static_cast<int64_t>(particles));
    json.Key("left_out").BeginArray();
    for (const std::string& n : r.notes) json.String(n);
    json.EndArray();
    json.Key("seconds").Number(r.seconds).EndObject();
    return json.Text();
}

// What the workers report, one frame at a time.
class Reporter {
public:
    Reporter(size_t frames, const Options& o) : progress_(static_cast<int>(frames), "frames", o.quiet), json_(o.json),
                                                pointsSeparate_(o.pointsSeparate) {}

    void Done(const FrameTask& task, const FrameResult& r) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!r.ok || !r.notes.empty()) progress_.Finish();
        for (const std::string& note : r.notes)
            std::fprintf(stderr, "kor2vdb: %s: %s\n", task.input.c_str(), note.c_str());
        if (!r.ok) {
            std::fprintf(stderr, "kor2vdb: %s: %s\n", task.input.c_str(), r.error.c_str());
            ++failed_;
        }
        if (json_) {
            std::printf("%s\n", JsonLine(task, r, pointsSeparate_).c_str());
            std::fflush(stdout);
        }
        progress_.Update(++done_);
    }
    int Failed() const { return failed_; }
    bool ProgressVisible() const { return progress_.Visible(); }

private:
    std::mutex mutex_;
    KorTools::Progress progress_;
    bool json_, pointsSeparate_;
    int done_ = 0, failed_ = 0;
};

}  // namespace

void KeepFreedMemoryForReuse() {
#if defined(__GLIBC__)
    // Large blocks from the heap rather than their own mappings, and a heap
    // that is not trimmed: freed channels stay for the next frame.
    mallopt(M_MMAP_THRESHOLD, 1 << 30);
    mallopt(M_TRIM_THRESHOLD, 1 << 30);
#endif
}

int Run(const Options& options) {
    const FrameTasks planned = PlanFrameTasks(options);
    if (!planned.error.empty()) {
        std::fprintf(stderr, "kor2vdb: %s\n", planned.error.c_str());
        return planned.badUsage ? 2 : 1;
    }
    const std::vector<FrameTask>& tasks = planned.tasks;
    if (tasks.empty()) return 0;  // a shard with no frame of its own

    KeepFreedMemoryForReuse();
    Library library;
    if (NeedsModules(tasks)) library.LoadModules(options.plugins ? *options.plugins : KorTools::DefaultModuleDir());

    // -j N threads in all: N frames at once, or fewer frames, each with the
    // threads left over for OpenVDB's own work inside a frame (TBB counts
    // the calling thread as one of its own).
    const int jobs = options.jobs > 0 ? options.jobs : Cores();
    const int workers = static_cast<int>(std::min<size_t>(static_cast<size_t>(jobs), tasks.size()));
    tbb::global_control threads(tbb::global_control::max_allowed_parallelism,
                                static_cast<size_t>(jobs - workers + 1));

    Reporter reporter(tasks.size(), options);
    PrepareOutputs(2 * workers, reporter.ProgressVisible());
    std::atomic<size_t> next{0};
    const auto work = [&]() {
        for (size_t k; (k = next++) < tasks.size();) reporter.Done(tasks[k], ConvertFrame(tasks[k], options, library));
    };
    std::vector<std::thread> others;
    for (int w = 1; w < workers; ++w) others.emplace_back(work);
    work();
    for (std::thread& t : others) t.join();
    return reporter.Failed() > 0 ? 1 : 0;
}

}  // namespace Kor2Vdb
