#include "api/load_frame.h"

#include <cstring>

#include "frame/import_kor.h"
#include "frame/load_status.h"
#include "frame/ostrel_frame_data.h"
#include "import/importers.h"
#include "paths/frame_paths.h"

int LoadCacheFile(OstrelFrameData& frame, const char* path, const char* mapping) noexcept {
    frame.FreeChannelArrays();
    frame.FreeCompressedBlock();
    frame.groups.Free();
    frame.infoText.Clear();

    int status = KorFrame::kNoUsableFile;
    if (path != nullptr && path[0] != '\0') {
        if (HasExtension(path, "kor")) {
            status = ImportKor(frame, path);
        } else if (HasExtension(path, "f3d") || HasExtension(path, "vdb")) {
            status = HasExtension(path, "f3d") ? ImportF3D(path, &frame, mapping, 0)
                                               : ImportVDB(path, &frame, mapping, 0);
            // Imported frames carry no time of their own.
            if (status == KorFrame::kLoaded) {
                const double zero = 0.0;
                std::memcpy(frame.simInfo + KorFrame::kSimInfoFrameTime, &zero, sizeof zero);
            }
        }
    }
    if (status == KorFrame::kLoaded)
        frame.path.Assign(path);
    else
        frame.path.Clear();
    return status;
}
