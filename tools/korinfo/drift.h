// Drift between consecutive frames of a sequence: the grid's dimensions or
// transform change, a channel appears or disappears, or a channel's range
// grows or shrinks by more than a factor.
#pragma once
#include <string>
#include <vector>

#include "frame_facts.h"

namespace KorInfo {

enum class DriftKind { Grid, Transform, ChannelAppears, ChannelDisappears, Range };

struct DriftWarning {
    int frame = 0;     // where it drifts
    int previous = 0;  // the frame it is compared with
    DriftKind kind = DriftKind::Grid;
    int channel = -1;  // for the channel kinds
    std::string text;  // for people: what changed, from what to what
};

const char* DriftKindName(DriftKind kind);

// What drifts from `before` (frame `previousFrame`) to `after` (frame
// `frame`). A channel's range is its decoded range when measured, else its
// stored one; two ranges are compared by their magnitudes, max(|min|, |max|),
// and only when both are above 0.
std::vector<DriftWarning> FindDrift(const FrameFacts& before, int previousFrame, const FrameFacts& after, int frame,
                                    double factor);

}  // namespace KorInfo
