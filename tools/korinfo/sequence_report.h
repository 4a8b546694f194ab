// A sequence template from start to end: its files in frame order, the
// frames missing inside its range, every frame inspected (without decoding,
// unless --stats or a picture asks for it) and the drift between them.
#pragma once
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "drift.h"
#include "examine.h"

namespace KorInfo {

struct SequenceReport {
    std::string templatePath;
    std::vector<Inspection> frames;            // in frame order
    std::vector<std::pair<int, int>> missing;  // runs of missing frames, first and last
    int64_t missingCount = 0;
    std::vector<DriftWarning> warnings;

    bool Failed() const;
};

// The progress bar shows on a terminal unless `quiet`.
SequenceReport InspectSequence(const std::string& templatePath, Inspector& inspector, double driftFactor, bool quiet);

}  // namespace KorInfo
