#include "frame/particle_bbox.h"

#include <cmath>
#include <cstring>
#include <new>

#include "diag/log.h"
#include "frame/ostrel_frame_data.h"
#include "particles/pgroup.h"
#include "util/iarray.h"
#include "util/nothrow_new.h"

void MTComputeParticlesBbox::ProcessJob(Job& job) {
    Result& result = results[job.index];
    float box[6] = {1e20f, 1e20f, 1e20f, -1e20f, -1e20f, -1e20f};
    int32_t bad = 0;
    for (int64_t i = job.start; i < job.end; ++i) {
        const uint8_t* element = group->ElementPointer(KOR_PARTICLE_POSITION, static_cast<int>(i));
        if (element == nullptr) continue;
        float p[3];
        std::memcpy(p, element, sizeof p);
        const float sum = p[0] + p[1] + p[2];
        if (!std::isfinite(sum) || std::fabs(sum) >= KorFrame::kBadParticleSum) {
            ++bad;
            continue;
        }
        for (int a = 0; a < 3; ++a) {
            if (p[a] < box[a]) box[a] = p[a];
            if (p[a] > box[3 + a]) box[3 + a] = p[a];
        }
    }
    std::memcpy(result.box, box, sizeof box);
    result.bad = bad;
}

namespace KorFrame {

bool ComputeParticlesBbox(OstrelFrameData& frame, PGroup& group) noexcept {
    // A group without positions has nothing to add.
    if (group.particleCount <= 0 || group.ElementPointer(KOR_PARTICLE_POSITION, 0) == nullptr) return true;
    if (frame.bboxJob == nullptr) {
        frame.bboxJob = newObject<MTComputeParticlesBbox>();
        if (frame.bboxJob == nullptr) return false;
    }
    MTComputeParticlesBbox& job = *frame.bboxJob;
    if (!job.InitJobs() || !job.SetItemCount(group.particleCount)) return false;
    iArray<MTComputeParticlesBbox::Result> results;
    if (!results.SetSize(job.JobCount(), nullptr, true)) return false;
    job.group = &group;
    job.results = results.Data();
    job.Run(0, nullptr);
    job.group = nullptr;
    job.results = nullptr;

    int64_t bad = 0;
    for (const MTComputeParticlesBbox::Result& r : results) {
        for (int a = 0; a < 3; ++a) {
            if (r.box[a] < frame.particleBbox[a]) frame.particleBbox[a] = r.box[a];
            if (r.box[3 + a] > frame.particleBbox[3 + a]) frame.particleBbox[3 + a] = r.box[3 + a];
        }
        bad += r.bad;
    }
    if (bad > 0) LogPrint("#bad particles found in group %s, count:%d\n", group.GetName(), static_cast<int>(bad));
    return true;
}

}  // namespace KorFrame
