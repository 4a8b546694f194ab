// One frame file from start to end: loaded, its facts gathered, its preview
// picture written. The frame itself is released before Inspect returns, so
// a sequence holds one frame at a time.
#pragma once
#include <optional>
#include <string>

#include "frame_facts.h"
#include "frame_loader.h"
#include "options.h"

namespace KorInfo {

struct Inspection {
    std::string path;
    int frame = 0;                    // the number in the file's name (KorPaths::kNoFrame for none)
    std::optional<FrameFacts> facts;  // when the frame loaded
    bool failed = false;
    int status = 0;       // the load status when the load failed, else 0
    std::string reason;   // why it failed (loading, the --group group, the picture)
    std::string log;      // what the reader logged when the load failed
    std::string picture;  // the PNG written for it
};

class Inspector {
public:
    // `previewChannel`: the grid channel of the pictures (ResolveGridChannel).
    Inspector(const Options& options, int previewChannel);

    // `checkDecodes`: decode every channel to say whether it decodes (the
    // report of one file does; a sequence's lines do not).
    Inspection Inspect(const std::string& path, int frame, bool checkDecodes);

private:
    void WritePicture(LoadedFrame& loaded, Inspection& inspection);

    const Options& options_;
    int previewChannel_;
    FrameLoader loader_;
};

}  // namespace KorInfo
