// vdbplug's import from bytes: the walks, then OpenVDB's read of whatever
// they accept and the densifying, with every grid of the file mapped.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz_options.h"
#include "temp_file.h"
#include "third_party_leaks.h"
#include "vdb_layout.h"
#include "vdb_reader.h"

namespace {
// Boxes beyond a million cells are refused, so that a hostile bounding box
// takes the out-of-memory path rather than the fuzzer's time.
constexpr size_t kMaxCells = size_t(1) << 20;
float* Allocate(size_t cells) { return cells > kMaxCells ? nullptr : static_cast<float*>(std::malloc(cells * 4)); }
void Release(float* a) { std::free(a); }
}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    VdbPlug::InitializeOpenVdb();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* path = InputAsFile(data, size, ".vdb");
    if (path == nullptr) return 0;
    VdbPlug::FileLayout layout;
    if (VdbPlug::ReadLayout(path, layout) != VdbPlug::kOk) return 0;
    std::vector<std::string> names;
    for (const VdbPlug::GridRecord& g : layout.grids) names.push_back(g.name);
    std::vector<VdbPlug::Request> requests;
    int channel = 1;
    for (const std::string& n : names) requests.push_back({n.c_str(), channel++ % 12, 1.0f});
    const VdbPlug::ChannelAllocator allocator{Allocate, Release};
    VdbPlug::DenseFrame frame;
    VdbPlug::ImportGrids(path, requests.data(), int(requests.size()), allocator, frame);
    for (float* a : frame.channels) Release(a);
    std::vector<VdbPlug::GridEntry> listed;
    VdbPlug::ListGrids(path, listed);
    return 0;
}
