#include "examine.h"

#include "common/sequence.h"
#include "frame/ostrel_frame_data.h"
#include "paths/frame_paths.h"
#include "png_file.h"
#include "preview.h"

namespace KorInfo {

namespace {

// Where the picture of frame `frame` goes: the --png path, or the template
// with the frame's number.
std::string PicturePath(const std::string& output, int frame) {
    return KorTools::IsSequenceTemplate(output) ? KorTools::SequenceFramePath(output, frame) : output;
}

}  // namespace

Inspector::Inspector(const Options& options, int previewChannel)
    : options_(options), previewChannel_(previewChannel), loader_(options.moduleDir) {}

Inspection Inspector::Inspect(const std::string& path, int frame, bool checkDecodes) {
    Inspection inspection;
    inspection.path = path;
    inspection.frame = frame;
    LoadedFrame loaded = loader_.Load(path);
    if (loaded.frame == nullptr) {
        inspection.failed = true;
        inspection.status = loaded.status;
        inspection.reason = loaded.reason;
        inspection.log = loaded.log;
        return inspection;
    }
    GatherOptions gather;
    gather.checkDecodes = checkDecodes;
    gather.stats = options_.stats;
    gather.group = options_.group;
    inspection.facts = GatherFacts(loaded, path, gather);
    if (!options_.group.empty() && inspection.facts->Group(options_.group) == nullptr) {
        inspection.failed = true;
        inspection.reason = "no particle group \"" + options_.group + "\"";
    }
    if (!options_.preview.output.empty()) WritePicture(loaded, inspection);
    return inspection;
}

void Inspector::WritePicture(LoadedFrame& loaded, Inspection& inspection) {
    // A file whose name holds no number is numbered by the frame it stores.
    const int frame = inspection.frame != KorPaths::kNoFrame ? inspection.frame : inspection.facts->frameNumber;
    const std::string output = PicturePath(options_.preview.output, frame);
    Picture picture;
    std::string reason;
    if (MakePreview(*loaded.frame, options_.preview, previewChannel_, picture, reason) &&
        WritePng(output, picture, reason)) {
        inspection.picture = output;
        return;
    }
    inspection.failed = true;
    if (!inspection.reason.empty()) inspection.reason += "; ";
    inspection.reason += "no picture: " + reason;
}

}  // namespace KorInfo
