// Results of loading a frame, shared by the native reader, the importers and
// the load by extension. An import also hands its module's own codes on.
#pragma once

namespace KorFrame {

enum LoadStatus : int {
    kLoaded = 0,
    kModuleNotReady = 2,  // the import module is not loaded or not initialised
    kNoUsableFile = 3,    // no path, no file, an extension no loader serves, a negative data offset
    kDamagedFile = 4,     // damaged or truncated, or memory ran out while reading
    kNoMapping = 9,       // an import without a channel mapping
};

}  // namespace KorFrame
