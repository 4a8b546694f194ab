// One frame in, one .vdb (and with --points separate a .points.vdb) out.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "frame_tasks.h"
#include "library.h"
#include "options.h"

namespace Kor2Vdb {

struct GridSummary {
    std::string name;
    std::string type;  // "float", "vec3s", "points"
    uint64_t count = 0;  // active voxels, or points
};

struct FrameResult {
    bool ok = false;
    std::string error;               // why the frame failed
    std::vector<std::string> notes;  // what was left out, and why
    std::vector<GridSummary> grids;
    bool wrotePoints = false;  // --points separate wrote the task's pointsOutput
    double seconds = 0;
};

// Converts the frame of `task` as `options` say. Never throws: any failure
// is in the result, and then no output file was written or changed.
FrameResult ConvertFrame(const FrameTask& task, const Options& options, Library& library);

}  // namespace Kor2Vdb
