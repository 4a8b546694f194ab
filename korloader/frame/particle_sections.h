// Readers of the particle data of a cache file: the group directory (chunk
// 1000), compressed particle data (chunk 1002) and the tagged particle
// sections 7 and 13. They fail the file through IOErrException.
#pragma once
#include <cstdint>

#include "frame/cache_reader.h"

class OstrelFrameData;

namespace KorFrame {

// Chunk 1000 (and the int32 100000 behind it). `chunkSize` is its declared size.
void ReadGroupDirectory(OstrelFrameData& frame, CacheReader& reader, int64_t chunkSize);
// Chunk 1002.
void ReadCompressedParticles(OstrelFrameData& frame, CacheReader& reader, int64_t chunkSize);
// Tagged records 7 (compressed false) and 13 (compressed true).
void ReadParticleSection(OstrelFrameData& frame, CacheReader& reader, bool compressed, bool directoryRead);

}  // namespace KorFrame
