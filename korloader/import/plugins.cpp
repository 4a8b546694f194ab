#include "frame/ostrel_frame_data.h"
#include "import/importers.h"

// The plug-in modules are not loaded yet: nothing is ever ready.

int LoadImportPlugins(int, const char*, const char*, int) noexcept { return 0; }

int ImportF3D(const char*, OstrelFrameData* frame, const char*, unsigned char flag) noexcept {
    frame->ResetFrame(flag);
    return 2;
}

int ImportVDB(const char*, OstrelFrameData* frame, const char*, unsigned char flag) noexcept {
    frame->ResetFrame(flag);
    return 2;
}
