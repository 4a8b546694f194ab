#include "common/load_status.h"

#include "frame/load_status.h"

namespace KorTools {

const char* LoadStatusText(int status) {
    switch (status) {
        case KorFrame::kLoaded: return "loaded";
        case KorFrame::kModuleNotReady: return "import module not ready";
        case KorFrame::kNoUsableFile: return "no such file, or not a cache path";
        case KorFrame::kDamagedFile: return "damaged or truncated file, or out of memory";
        case KorFrame::kNoMapping: return "no channel mapping given";
        default: return "import module error";
    }
}

}  // namespace KorTools
