// vdbplug: the OpenVDB import module's entry points. They translate between
// the library's records and the module's OpenVDB side (vdb_reader.h), and
// nothing thrown inside ever leaves them.
#include <vector>

#include "plugin_sdk/kor_plugin.h"
#include "vdb_reader.h"

namespace {

float* AllocateChannel(size_t cells) { return KorPlugin::NewChannelArray(cells); }
void ReleaseChannel(float* array) { KorPlugin::DeleteChannelArray(array); }

}  // namespace

KOR_PLUGIN_EXPORT int Initialize(void) { return VdbPlug::InitializeOpenVdb() ? 0 : VdbPlug::kInternal; }

// The module starts no threads of its own; the library never hands it a
// thread manager.
KOR_PLUGIN_EXPORT void SetThreadManager(void*) {}
KOR_PLUGIN_EXPORT void ReleaseThreadManager(void) {}

KOR_PLUGIN_EXPORT int ImportFrameVDB(const char* path, OstrelFrameData* frame, int* axisResult, unsigned char,
                                     const CacheIO::GridMapping* mappings, int count) {
    // The module never turns axes itself, so the library may.
    if (axisResult != nullptr) *axisResult = 0;
    if (frame == nullptr || count < 0 || (count > 0 && mappings == nullptr)) return VdbPlug::kBadArguments;
    try {
        std::vector<VdbPlug::Request> requests(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            requests[i].name = mappings[i].name.c_str();
            requests[i].channel = mappings[i].channel;
            requests[i].scale = mappings[i].scale;
        }
        const VdbPlug::ChannelAllocator allocator{AllocateChannel, ReleaseChannel};
        VdbPlug::DenseFrame dense;
        const int rc = VdbPlug::ImportGrids(path, requests.data(), count, allocator, dense);
        if (rc != VdbPlug::kOk) return rc;
        KorPlugin::SetGrid(frame, dense.nx, dense.ny, dense.nz, dense.transform);
        for (int c = 0; c < KOR_GRID_CHANNEL_COUNT; ++c)
            if (dense.channels[c] != nullptr) KorPlugin::SetChannel(frame, c, dense.channels[c]);
        return VdbPlug::kOk;
    } catch (...) {
        return VdbPlug::kInternal;
    }
}

KOR_PLUGIN_EXPORT void GetAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>* list) {
    if (list == nullptr) return;
    try {
        std::vector<VdbPlug::GridEntry> grids;
        if (VdbPlug::ListGrids(path, grids) != VdbPlug::kOk) return;
        for (const VdbPlug::GridEntry& g : grids)
            if (!KorPlugin::AppendAvailableChannel(list, g.name.c_str(), g.notScalar ? 1 : 0)) return;
    } catch (...) {
    }
}
