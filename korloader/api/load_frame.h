// The load of a new frame by the extension of its path: the native reader
// for ".kor", the import modules for ".vdb" and ".f3d". Its only caller in
// the library is the frame cache's open.
#pragma once

class OstrelFrameData;

// Empties what a load fills, then loads `path` (`mapping` is for the imported
// formats). Returns a KorFrame::LoadStatus (kNoUsableFile also for an
// extension no loader serves) or an import module's own code. On success the
// frame keeps `path`; otherwise its path is made empty.
int LoadCacheFile(OstrelFrameData& frame, const char* path, const char* mapping) noexcept;
