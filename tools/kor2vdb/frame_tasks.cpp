#include "frame_tasks.h"

#include <cstdint>
#include <set>

#include "common/sequence.h"
#include "paths/frame_paths.h"

namespace Kor2Vdb {

namespace {

// More frames than any sequence has: a typing error, not a job.
constexpr int64_t kMaxFrames = 10000000;

FrameTasks Usage(const std::string& why) {
    FrameTasks t;
    t.error = why;
    t.badUsage = true;
    return t;
}

std::vector<int> FramesOf(const FrameRange& r) {
    std::vector<int> frames;
    for (int64_t f = r.first; f <= r.last; f += r.step) frames.push_back(static_cast<int>(f));
    return frames;
}

}  // namespace

std::string PointsPathFor(const std::string& output) {
    return output.substr(0, output.size() - 4) + ".points" + output.substr(output.size() - 4);
}

FrameTasks PlanFrameTasks(const Options& o) {
    const bool inputTemplate = KorTools::IsSequenceTemplate(o.input);
    const bool outputTemplate = KorTools::IsSequenceTemplate(o.output);
    if (std::string(GetExtension(o.output.c_str()).c_str()) != "vdb") return Usage("OUTPUT must be a .vdb path");
    if (inputTemplate && !outputTemplate)
        return Usage("OUTPUT must be a sequence template (####, %04d, <frame04>) when INPUT is one");
    if (o.frames && (int64_t(o.frames->last) - o.frames->first) / o.frames->step >= kMaxFrames)
        return Usage("--frames: more than " + std::to_string(kMaxFrames) + " frames");

    std::vector<int> frames;
    bool numbered = true;
    if (inputTemplate) {
        if (o.frames) {
            frames = FramesOf(*o.frames);
        } else {
            const std::vector<KorTools::SequenceFile> found = KorTools::ListSequence(o.input);
            FrameTasks none;
            none.error = "no frame of " + o.input + " found";
            if (found.empty()) return none;
            // Every frame from the first to the last: a hole is a failed frame.
            if (int64_t(found.back().frame) - found.front().frame >= kMaxFrames)
                return Usage("the frames found span more than " + std::to_string(kMaxFrames) +
                             " numbers: give --frames");
            frames = FramesOf({found.front().frame, found.back().frame, 1});
        }
    } else {
        const int number = ParseFrameNumber(o.input.c_str());
        numbered = number != KorPaths::kNoFrame;
        if (!numbered && (outputTemplate || o.frames))
            return Usage(std::string("INPUT's name holds no frame number for ") +
                         (outputTemplate ? "OUTPUT's template" : "--frames"));
        const bool inRange = !o.frames || (number >= o.frames->first && number <= o.frames->last &&
                                           (int64_t(number) - o.frames->first) % o.frames->step == 0);
        if (inRange) frames.push_back(number);
    }

    FrameTasks result;
    for (size_t k = static_cast<size_t>(o.shard.index); k < frames.size(); k += static_cast<size_t>(o.shard.count)) {
        FrameTask t;
        t.number = frames[k];
        t.hasNumber = numbered;
        t.input = inputTemplate ? KorTools::SequenceFramePath(o.input, t.number) : o.input;
        t.output = outputTemplate ? KorTools::SequenceFramePath(o.output, t.number) : o.output;
        t.pointsOutput = PointsPathFor(t.output);
        result.tasks.push_back(std::move(t));
    }
    // A placeholder in a directory name only is not replaced: every frame
    // would overwrite one file.
    std::set<std::string> outputs;
    for (const FrameTask& t : result.tasks)
        if (!outputs.insert(t.output).second)
            return Usage("two frames would be written to " + t.output +
                         ": put OUTPUT's placeholder in its file name");
    return result;
}

}  // namespace Kor2Vdb
