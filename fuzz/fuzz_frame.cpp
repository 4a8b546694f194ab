// A whole frame from bytes: the container reader over a memory source (the
// same checked reader as for files), then everything a host can read:
// every grid channel (with speed and colour derived), every particle group
// and channel, ID lookups and the grid-velocity fallback.
#include <cstddef>
#include <cstdint>

#include "frame/byte_source.h"
#include "frame/import_kor.h"
#include "frame/ostrel_frame_data.h"
#include "fuzz_options.h"
#include "support/frame_walker.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    OstrelFrameData* frame = new (std::nothrow) OstrelFrameData();
    if (frame == nullptr) return 0;
    frame->ResetFrame(0);
    KorFrame::MemorySource source(data, size);
    const int status = ImportKorFrom(*frame, source, "fuzz.kor");
    if (status != 0 && status != 3 && status != 4) __builtin_trap();
    // Only loaded frames reach a host; a failed one is destroyed at once.
    if (status == 0) {
        KorTest::WalkLimits limits;
        limits.particlesPerGroup = 256;
        KorTest::WalkFrame(frame, limits);
        // A second walk reads what the first one decoded (or failed to).
        KorTest::WalkFrame(frame, limits);
    }
    delete frame;
    return 0;
}
