// korinfo: prints what is in a cache frame, in the spirit of `vdb_print -l`.
//
//   korinfo [--stats] FILE...
//
// For each file: format version, frame number, time, grid, transform, every
// stored channel with its id, compressed size, stored range and whether it
// decodes (with --stats also the decoded minimum, maximum and mean), the info
// text and the particle groups. Exit code 0 when every file could be read.
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/load_frame.h"
#include "diag/log.h"
#include "frame/channel_directory.h"
#include "frame/load_status.h"
#include "frame/ostrel_frame_data.h"
#include "particles/pgroup.h"
#include "platform/platform.h"

namespace {

// One group: its counts, then every channel it serves with its layout, how
// it is stored and whether it decodes.
void PrintGroup(PGroup& group) {
    std::printf("    \"%s\": %d particles, channel mask 0x%08X, attributes 0x%X\n", group.GetName(),
                group.particleCount, group.channelMask, group.attributes);
    for (int c = 0; c < KOR_PARTICLE_CHANNEL_COUNT; ++c) {
        if (!group.HasChannel(c)) continue;
        std::printf("      %2d %-9s %2d bytes (%d x type %2d)", c, korParticleChannelName(c), group.GetChannelSize(c),
                    group.GetChannelComponents(c), group.GetChannelType(c));
        const int64_t stored = group.CompressedSize(c);
        if (stored == 0 && group.DecodedSize(c) == 0 && c == KOR_PARTICLE_VELOCITY) {
            std::printf("  from the grid velocity\n");
            continue;
        }
        if (stored > 0)
            std::printf("  method %u, %10" PRId64 " bytes stored", group.Method(c), stored);
        else
            std::printf("  %-29s", "decoded when loaded");
        std::printf("  %s\n", group.decompressChannel(c, true) ? "decodes" : "does not decode");
    }
    if (group.HasChannel(KOR_PARTICLE_ID) && group.particleCount > 0) {
        const int64_t* ids = group.DecodedIds();
        if (ids != nullptr)
            std::printf("      IDs %" PRId64 " .. %" PRId64 " (first, last)\n", ids[0], ids[group.particleCount - 1]);
    }
}

void CollectLog(void* context, KorDiag::Channel channel, const char* text) {
    if (channel == KorDiag::Channel::Log) static_cast<std::string*>(context)->append(text);
}

const char* StatusText(int status) {
    switch (status) {
        case KorFrame::kNoUsableFile: return "no such file, or not a cache path";
        case KorFrame::kDamagedFile: return "damaged or truncated file, or out of memory";
        case KorFrame::kModuleNotReady: return "import module not ready";
        case KorFrame::kNoMapping: return "no channel mapping given";
        default: return "import module error";
    }
}

void PrintStats(OstrelFrameData& frame, int channel) {
    const float* values = frame.GetChannel(channel);
    if (values == nullptr) {
        std::printf("  does not decode");
        return;
    }
    const int64_t cells = frame.CellCount();
    float lo = INFINITY, hi = -INFINITY;
    double sum = 0;
    for (int64_t n = 0; n < cells; ++n) {
        lo = std::fmin(lo, values[n]);
        hi = std::fmax(hi, values[n]);
        sum += values[n];
    }
    std::printf("  decoded [%g, %g] mean %g", lo, hi, cells ? sum / static_cast<double>(cells) : 0.0);
}

bool Inspect(const char* path, bool stats) {
    std::string log;
    KorDiag::SetCaptureSink(CollectLog, &log);
    OstrelFrameData* frame = new OstrelFrameData();
    const int status = LoadCacheFile(*frame, path, "");
    if (status != KorFrame::kLoaded) {
        KorDiag::SetCaptureSink(nullptr, nullptr);
        std::fprintf(stderr, "korinfo: %s: cannot read (status %d: %s)\n", path, status, StatusText(status));
        if (!log.empty()) std::fprintf(stderr, "korinfo: reader said:\n%s", log.c_str());
        delete frame;
        return false;
    }

    double time = 0;
    std::memcpy(&time, frame->simInfo + KorFrame::kSimInfoFrameTime, sizeof time);
    std::printf("%s\n", path);
    if (frame->formatVersion)
        std::printf("  format version: %d\n", frame->formatVersion);
    else
        std::printf("  format version: none (no trailer)\n");
    std::printf("  frame: %d  time: %g  time step: %g%s\n", frame->frameNumber, time, frame->timeStep,
                (frame->flags & 1) ? "  (backup frame)" : "");
    std::printf("  grid: %d x %d x %d (%" PRId64 " cells)\n", frame->nx, frame->ny, frame->nz, frame->CellCount());
    const float* t = frame->transform;
    std::printf("  transform: a=(%g, %g, %g) b=(%g, %g, %g) c=(%g, %g, %g) offset=(%g, %g, %g)\n", t[0], t[1], t[2],
                t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11]);

    std::printf("  channels (mask 0x%08X):\n", frame->channelMask);
    bool any = false;
    KorFrame::WalkChannelRecords(frame->compressedBlock, frame->compressedLength,
                                 [&](int32_t id, const uint8_t*, size_t bytes, bool complete) {
                                     any = true;
                                     std::printf("    %2d %-14s %10zu bytes%s", id, korGridChannelName(id), bytes,
                                                 complete ? "" : " (cut short)");
                                     const bool inTable = id >= 0 && id < KOR_GRID_CHANNEL_COUNT;
                                     if (inTable && frame->rangeMax[id] >= frame->rangeMin[id])
                                         std::printf("  range [%g, %g]", frame->rangeMin[id], frame->rangeMax[id]);
                                     if (inTable && id != KOR_GRID_PACKED_COLOUR) {
                                         if (stats)
                                             PrintStats(*frame, id);
                                         else
                                             std::printf("  %s", frame->GetChannel(id) ? "decodes" : "does not decode");
                                     }
                                     std::printf("\n");
                                     return true;
                                 });
    if (!any) std::printf("    none\n");
    // Channels made from others: colour from packed colour, speed from velocity.
    for (int id : {KOR_GRID_COLOUR_R, KOR_GRID_COLOUR_G, KOR_GRID_COLOUR_B, KOR_GRID_SPEED}) {
        if (!frame->HasChannel(id) || (frame->channelMask & (1u << id))) continue;
        std::printf("    %2d %-14s %10s      (derived)", id, korGridChannelName(id), "-");
        if (stats)
            PrintStats(*frame, id);
        else
            std::printf("  %s", frame->GetChannel(id) ? "decodes" : "does not decode");
        std::printf("\n");
    }
    KorDiag::SetCaptureSink(nullptr, nullptr);

    if (!frame->infoText.Empty()) std::printf("  info: \"%s\"\n", frame->infoText.c_str());
    std::printf("  particle groups: %d (%d with positions)\n", frame->groups.Count(), frame->GetNumParticleGroups());
    for (PGroup& group : frame->groups) PrintGroup(group);
    delete frame;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    bool stats = false;
    std::vector<const char*> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--stats") == 0)
            stats = true;
        else if (std::strcmp(argv[i], "-h") == 0 || std::strcmp(argv[i], "--help") == 0)
            files.clear(), argc = 0;
        else
            files.push_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: korinfo [--stats] FILE.kor...\n");
        return 2;
    }
    bool ok = true;
    for (const char* file : files) ok = Inspect(file, stats) && ok;
    return ok ? 0 : 1;
}
