// vdbplug's own walks from bytes: the file's layout, then every grid's
// stored tree, as the module runs them before OpenVDB sees a file.
#include <cstddef>
#include <cstdint>

#include "fuzz_options.h"
#include "plugin_io/byte_source.h"
#include "vdb_codes.h"
#include "vdb_layout.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    PluginIo::MemorySource source(data, size);
    VdbPlug::FileLayout layout;
    if (VdbPlug::ReadLayout(source, layout) != VdbPlug::kOk) return 0;
    for (const VdbPlug::GridRecord& g : layout.grids) {
        const int rc = VdbPlug::CheckGrid(source, layout, g);
        if (rc != VdbPlug::kOk && rc != VdbPlug::kDamaged && rc != VdbPlug::kNoGrid) __builtin_trap();
    }
    return 0;
}
