// f3dplug's Ogawa reader from bytes: open, list every layer.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "f3d_ogawa.h"
#include "fuzz_options.h"
#include "plugin_io/byte_source.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PluginIo::MemorySource source(data, size);
    F3d::OgawaField3D file(source);
    if (file.Open() != F3d::kOk) return 0;
    std::vector<F3d::Layer> layers;
    std::vector<F3d::Code> status;
    file.ListLayers(layers, status);
    return 0;
}
