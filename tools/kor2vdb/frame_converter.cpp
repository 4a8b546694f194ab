#include "frame_converter.h"

#include <tbb/parallel_for.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "frame_metadata.h"
#include "korloader/korloader.h"
#include "particle_reader.h"
#include "pending_file.h"
#include "vdb_file.h"

namespace Kor2Vdb {

namespace {

bool SameFile(const std::string& a, const std::string& b) {
    std::error_code error;
    return std::filesystem::equivalent(a, b, error);
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) text += (text.empty() ? "" : ", ") + item;
    return text;
}

// The channels to convert: what was asked for (or, by default, everything
// the frame has, speed only when stored rather than derived), of those the
// frame has. Asked-for channels it lacks are noted.
ChannelSet ChosenChannels(IKor* frame, const Options& o, std::vector<std::string>& notes) {
    ChannelSet available = 0;
    for (int id = 0; id <= kLastChannel; ++id)
        if (frame->HasChannel(id)) available |= 1u << id;
    constexpr ChannelSet kSpeed = 1u << KOR_GRID_SPEED;
    const ChannelSet wanted = o.channels ? *o.channels : available & ~(kSpeed & ~StoredChannels(frame));
    for (int id = 0; id <= kLastChannel; ++id)
        if (Has(wanted & ~available, id)) notes.push_back("no channel " + ChannelLabel(id) + " in this frame");
    return wanted & available;
}

struct Outcome {
    FrameResult& result;
    bool Fail(const std::string& why) {
        result.error = why;
        return false;
    }
};

bool Convert(const FrameTask& task, const Options& o, Library& library, FrameResult& result) {
    Outcome out{result};
    const std::string problem = library.InputProblem(task.input);
    if (!problem.empty()) return out.Fail(problem);
    if (SameFile(task.input, task.output)) return out.Fail("INPUT and OUTPUT are the same file");
    const bool native = ExtensionOf(task.input) == "kor";

    OpenFrame frame(library, task.input);
    if (!frame)
        return out.Fail(native ? "cannot be read: damaged or not a cache frame"
                               : "cannot be read: damaged, or holds no grid the import module can use");
    int dims[3];
    float transform[12];
    frame->GetGridDim(dims);
    frame->GetTransform(transform);
    const std::string transformProblem = TransformProblem(transform);
    if (!transformProblem.empty()) return out.Fail("cannot be converted: " + transformProblem);
    VdbFile volumes(transform);
    std::unique_ptr<VdbFile> separatePoints;

    // Grids: the channels decode in parallel (each on one thread, inside
    // the library), then each grid is built with OpenVDB's threads.
    ChannelSet chosen = ChosenChannels(frame.get(), o, result.notes);
    if (dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) chosen = 0;
    const float* arrays[KOR_GRID_CHANNEL_COUNT] = {};
    tbb::parallel_for(0, kLastChannel + 1, [&](int id) {
        if (Has(chosen, id)) arrays[id] = frame->GetChannel(id);
    });
    ChannelSet decoded = 0;
    std::vector<std::string> bad;
    for (int id = 0; id <= kLastChannel; ++id) {
        if (!Has(chosen, id)) continue;
        if (arrays[id])
            decoded |= 1u << id;
        else
            bad.push_back("channel " + ChannelLabel(id));
    }
    for (const GridPlan& plan : PlanGrids(decoded, o.renames)) {
        const float* components[3] = {arrays[plan.channels[0]], arrays[plan.channels[1]], arrays[plan.channels[2]]};
        const uint64_t active =
            volumes.AddGrid(plan.name, plan.components, components, dims, o.tolerance, plan.velocity);
        result.grids.push_back({plan.name, plan.components == 3 ? "vec3s" : "float", active});
    }

    if (o.particles) {
        for (int g = 0; g < frame->GetNumParticleGroups(); ++g) {
            IOstrelPrtGroup* group = frame->GetParticleGroup(g);
            if (group == nullptr) continue;
            ParticleGroupData data;
            const GroupReadResult read = ReadParticleGroup(*group, data);
            bad.insert(bad.end(), read.badChannels.begin(), read.badChannels.end());
            result.notes.insert(result.notes.end(), read.notes.begin(), read.notes.end());
            if (!bad.empty() && !o.skipBadChannels) break;  // the frame fails: no need to read on
            if (!read.positions) continue;
            VdbFile* target = &volumes;
            if (o.pointsSeparate) {
                if (!separatePoints) separatePoints = std::make_unique<VdbFile>(transform);
                target = separatePoints.get();
            }
            result.grids.push_back({data.name, "points", target->AddPoints(data)});
        }
    }
    if (!bad.empty()) {
        if (!o.skipBadChannels) return out.Fail(Joined(bad) + (bad.size() > 1 ? " do" : " does") + " not decode");
        for (const std::string& b : bad) result.notes.push_back("left out " + b + ": it does not decode");
    }

    FrameMetadata metadata;
    metadata.frame = native ? StoredFrameNumber(frame.get()) : task.hasNumber ? task.number : 0;
    metadata.time = StoredTime(frame.get());
    frame.Close();  // the decoded channels are not needed to write
    if (native) metadata.info = ReadInfoText(task.input);
    volumes.SetMetadata(metadata);
    if (separatePoints) separatePoints->SetMetadata(metadata);

    // Both files are complete before either takes its final name.
    PendingFile file(task.output);
    std::unique_ptr<PendingFile> pointsFile;
    if (separatePoints) pointsFile = std::make_unique<PendingFile>(task.pointsOutput);
    if (!file.Ready() || (pointsFile && !pointsFile->Ready())) return out.Fail("the output path is too long");
    volumes.Write(file.TemporaryPath(), o.compression, o.half);
    if (pointsFile) separatePoints->Write(pointsFile->TemporaryPath(), o.compression, o.half);
    std::string error;
    if (pointsFile && !pointsFile->Commit(&error)) return out.Fail(error);
    if (!file.Commit(&error)) return out.Fail(error);
    result.wrotePoints = pointsFile != nullptr;
    return true;
}

}  // namespace

FrameResult ConvertFrame(const FrameTask& task, const Options& options, Library& library) {
    const auto start = std::chrono::steady_clock::now();
    FrameResult result;
    try {
        result.ok = Convert(task, options, library, result);
    } catch (const std::bad_alloc&) {
        result.error = "out of memory";
    } catch (const std::exception& e) {
        result.error = std::string("conversion failed: ") + e.what();
    } catch (...) {
        result.error = "conversion failed";
    }
    if (!result.ok) result.grids.clear();
    result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

}  // namespace Kor2Vdb
