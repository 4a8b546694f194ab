// f3dplug: the Field3D import module's entry points. Each one is a thin
// wrapper around the reader that keeps every exception and HDF5 error inside
// the module and turns them into a result code.
#include <cstring>
#include <exception>
#include <new>
#include <string>
#include <vector>

#include <hdf5.h>

#include "f3d_import.h"
#include "f3d_sequence.h"
#include "plugin_sdk/kor_plugin.h"

namespace {

// Puts the grid straight into the library's frame.
class FrameDataSink final : public F3d::FrameSink {
public:
    explicit FrameDataSink(OstrelFrameData* frame) noexcept : frame_(frame) {}
    float* NewChannel(int channel, size_t cells) override {
        float* array = KorPlugin::NewChannelArray(cells);
        if (!array) return nullptr;
        std::memset(array, 0, cells * sizeof(float));  // background 0 outside the data windows
        return KorPlugin::SetChannel(frame_, channel, array) ? array : nullptr;
    }
    void SetGrid(const int32_t dims[3], const float transform[12]) override {
        KorPlugin::SetGrid(frame_, dims[0], dims[1], dims[2], transform);
    }

private:
    OstrelFrameData* frame_;
};

}  // namespace

KOR_PLUGIN_EXPORT int Initialize(void) {
    // HDF5 prints its error stack to stderr unless told not to; the reader
    // repeats this on every call, as HDF5 keeps the setting per thread.
    H5Eset_auto2(H5E_DEFAULT, nullptr, nullptr);
    return H5open() >= 0 ? 0 : F3d::kInternal;
}

KOR_PLUGIN_EXPORT void SetThreadManager(void*) {}

KOR_PLUGIN_EXPORT void ReleaseThreadManager(void) {}

KOR_PLUGIN_EXPORT int ImportFrameF3D(const char* path, OstrelFrameData* frame, unsigned char,
                                     const CacheIO::GridMapping* mappings, int count) {
    if (!path || !frame || !mappings || count <= 0) return F3d::kBadArguments;
    try {
        std::vector<F3d::ChannelMapping> used(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i)
            used[static_cast<size_t>(i)] = {mappings[i].name.c_str(), mappings[i].channel, mappings[i].scale};
        const std::string file = F3d::ResolveSequencePath(path);
        if (file.empty()) return F3d::kCannotOpen;
        FrameDataSink sink(frame);
        return F3d::ImportFile(file.c_str(), used.data(), count, sink);
    } catch (const std::bad_alloc&) {
        return F3d::kOutOfMemory;
    } catch (...) {
        return F3d::kInternal;
    }
}

KOR_PLUGIN_EXPORT void GetAvailableChannels(const char* path, iArray<CacheIO::AvailableChannels>* list) {
    if (!path || !list) return;
    try {
        std::vector<F3d::ListedLayer> layers;
        if (F3d::ListFile(path, layers) != F3d::kOk) return;
        for (const auto& l : layers)
            if (!KorPlugin::AppendAvailableChannel(list, l.name.c_str(), l.vector ? 1 : 0)) return;
    } catch (...) {
        // A file that cannot be listed contributes no layers.
    }
}
