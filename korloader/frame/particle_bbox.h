// The particle bounding box of a frame, computed from a group's positions by
// the job set MTComputeParticlesBbox when the file stores no group directory.
#pragma once
#include <cstdint>

#include "jobs/mt_jobs.h"

class OstrelFrameData;
class PGroup;

class MTComputeParticlesBbox : public MTJobs {
public:
    // One box (minimum x, y, z, maximum x, y, z) and one count of rejected
    // particles per job.
    struct Result {
        float box[6];
        int32_t bad;
    };

    ~MTComputeParticlesBbox() override = default;
    void ProcessJob(Job& job) override;
    const char* GetName() override { return "MTComputeParticlesBbox"; }

    // Inputs of a pass; `results` holds one entry per job.
    PGroup* group = nullptr;
    Result* results = nullptr;
};

namespace KorFrame {

// A position whose coordinate sum is not finite or reaches this size is bad.
constexpr float kBadParticleSum = 100000.0f;

// Widens the frame's particle bounding box by the group's positions (the
// frame's job set is made on first use and kept), logging the bad particles.
// False when memory runs out.
bool ComputeParticlesBbox(OstrelFrameData& frame, PGroup& group) noexcept;

}  // namespace KorFrame
