// What a frame's load status means, in words for the user of a tool or a
// script (the status of OstrelFrameData::LoadCacheFile and of the frame
// cache's open).
#pragma once

namespace KorTools {

// "no such file, or not a cache path" for 3, and so on; never null.
const char* LoadStatusText(int status);

}  // namespace KorTools
