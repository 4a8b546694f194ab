#include "sequence_report.h"

#include "common/progress.h"
#include "common/sequence.h"

namespace KorInfo {

bool SequenceReport::Failed() const {
    if (frames.empty()) return true;
    for (const Inspection& frame : frames)
        if (frame.failed) return true;
    return false;
}

SequenceReport InspectSequence(const std::string& templatePath, Inspector& inspector, double driftFactor, bool quiet) {
    SequenceReport report;
    report.templatePath = templatePath;
    const std::vector<KorTools::SequenceFile> files = KorTools::ListSequence(templatePath);
    KorTools::Progress progress(static_cast<int>(files.size()), "frames", quiet);
    for (size_t i = 0; i < files.size(); ++i) {
        if (i > 0 && static_cast<int64_t>(files[i].frame) > static_cast<int64_t>(files[i - 1].frame) + 1) {
            report.missing.emplace_back(files[i - 1].frame + 1, files[i].frame - 1);
            report.missingCount += static_cast<int64_t>(files[i].frame) - files[i - 1].frame - 1;
        }
        report.frames.push_back(inspector.Inspect(files[i].path, files[i].frame, false));
        progress.Update(static_cast<int>(i + 1));
    }
    progress.Finish();

    // Each frame that loaded is compared with the one that loaded before it.
    const Inspection* previous = nullptr;
    for (const Inspection& frame : report.frames) {
        if (!frame.facts) continue;
        if (previous != nullptr) {
            std::vector<DriftWarning> found =
                FindDrift(*previous->facts, previous->frame, *frame.facts, frame.frame, driftFactor);
            report.warnings.insert(report.warnings.end(), found.begin(), found.end());
        }
        previous = &frame;
    }
    return report;
}

}  // namespace KorInfo
