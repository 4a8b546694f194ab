// ImportKor: fills a frame from a native ".kor" cache file.
#pragma once
#include <cstddef>

#include "frame/byte_source.h"

class OstrelFrameData;

// Status: 0 loaded; 3 null/empty path, no file, or a negative 32-bit data
// offset; 4 damaged, truncated or out of memory. The file is closed on return.
int ImportKor(OstrelFrameData& frame, const char* path) noexcept;

// The same reader over any byte source; `displayName` appears in log lines.
int ImportKorFrom(OstrelFrameData& frame, KorFrame::ByteSource& source, const char* displayName) noexcept;
