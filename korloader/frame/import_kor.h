// ImportKor: fills a frame from a native ".kor" cache file.
#pragma once
#include <cstddef>

#include "frame/byte_source.h"

class OstrelFrameData;

// Status (KorFrame::LoadStatus): kLoaded; kNoUsableFile for a null or empty
// path, no file, or a negative 32-bit data offset; kDamagedFile for a
// damaged or truncated file or no memory. The file is closed on return.
int ImportKor(OstrelFrameData& frame, const char* path) noexcept;

// The same reader over any byte source; `displayName` appears in log lines.
int ImportKorFrom(OstrelFrameData& frame, KorFrame::ByteSource& source, const char* displayName) noexcept;
