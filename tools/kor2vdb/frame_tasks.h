// The frames of one run: which input file goes to which output, after the
// sequence template, --frames and --shard.
#pragma once
#include <string>
#include <vector>

#include "options.h"

namespace Kor2Vdb {

struct FrameTask {
    int number = 0;           // the frame number in the input's name
    bool hasNumber = false;   // false for a plain input without one
    std::string input;
    std::string output;
    std::string pointsOutput;  // NAME.points.vdb beside the output
};

struct FrameTasks {
    std::vector<FrameTask> tasks;
    // Set when there is nothing to run: a usage error (exit 2) or a
    // sequence without any frame (exit 1).
    std::string error;
    bool badUsage = false;
};

FrameTasks PlanFrameTasks(const Options& options);

// OUTPUT with ".vdb" replaced by ".points.vdb".
std::string PointsPathFor(const std::string& output);

}  // namespace Kor2Vdb
