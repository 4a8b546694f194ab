// f3dplug's import from bytes, either encoding: the listing, then every
// layer mapped onto its own channel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "f3d_import.h"
#include "fuzz_options.h"
#include "temp_file.h"
#include "third_party_leaks.h"

namespace {
class Sink final : public F3d::FrameSink {
public:
    ~Sink() override {
        for (float* a : arrays_) std::free(a);
    }
    float* NewChannel(int, size_t cells) override {
        if (cells > (size_t(1) << 20)) return nullptr;  // a hostile box: the out-of-memory path
        float* a = static_cast<float*>(std::calloc(cells, sizeof(float)));
        if (a != nullptr) arrays_.push_back(a);
        return a;
    }
    void SetGrid(const int32_t*, const float*) override {}

private:
    std::vector<float*> arrays_;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = InputAsFile(data, size, ".f3d");
    if (path == nullptr) return 0;
    std::vector<F3d::ListedLayer> layers;
    if (F3d::ListFile(path, layers) != F3d::kOk) return 0;
    std::vector<F3d::ChannelMapping> mappings;
    int channel = 1;
    for (const F3d::ListedLayer& l : layers) mappings.push_back({l.name.c_str(), channel++ % 12, 1.0f});
    Sink sink;
    F3d::ImportFile(path, mappings.data(), int(mappings.size()), sink);
    return 0;
}
