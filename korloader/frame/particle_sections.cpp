#include "frame/particle_sections.h"

#include "diag/log.h"
#include "frame/ostrel_frame_data.h"

namespace KorFrame {

// Particle data is not decoded yet: the chunks are passed over by their size
// and files whose particles live in the tagged sections are refused.

void ReadGroupDirectory(OstrelFrameData&, CacheReader& reader, int64_t chunkSize) {
    reader.Skip(chunkSize, "Failed reading chunk size!\n");
    reader.Read<int32_t>("Failed reading chunk id!\n");  // the 100000 behind the chunk
}

void ReadCompressedParticles(OstrelFrameData&, CacheReader& reader, int64_t chunkSize) {
    reader.Skip(chunkSize, "Failed reading chunk size!\n");
}

void ReadParticleSection(OstrelFrameData&, CacheReader&, bool, bool) {
    CacheReader::Fail("OstrelFrameData::ImportKor particle sections are not read yet\n");
}

}  // namespace KorFrame
