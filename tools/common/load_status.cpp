#include "common/load_status.h"

namespace KorTools {

const char* LoadStatusText(int status) {
    switch (status) {
        case 0: return "loaded";
        case 2: return "import module not ready";
        case 3: return "no such file, or not a cache path";
        case 4: return "damaged or truncated file, or out of memory";
        case 9: return "no channel mapping given";
        default: return "import module error";
    }
}

}  // namespace KorTools
