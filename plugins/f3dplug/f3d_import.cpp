#include "f3d_import.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <unordered_map>

namespace F3d {

namespace {

// The layers of a file, each name once (first partition first).
struct Listing {
    std::vector<Layer> layers;
    std::vector<Code> status;
    std::unordered_map<std::string, size_t> byName;
};

Code ReadListing(Field3DFile& file, Listing& listing) {
    std::vector<Layer> all;
    std::vector<Code> status;
    if (Code c = file.ListLayers(all, status); c != kOk) return c;
    for (size_t i = 0; i < all.size(); ++i) {
        if (listing.byName.count(all[i].name)) continue;
        listing.byName.emplace(all[i].name, listing.layers.size());
        listing.layers.push_back(std::move(all[i]));
        listing.status.push_back(status[i]);
    }
    return kOk;
}

// One layer chosen for import and where it goes.
struct Selected {
    size_t layer;
    int channel;
    int width;  // 1 scalar, 3 vector into three channels, 0 vector length
    float scale;
};

void Scale(float* values, size_t cells, float scale) {
    if (scale != 1.0f)
        for (size_t n = 0; n < cells; ++n) values[n] *= scale;
}

}  // namespace

Code ListFile(const char* path, std::vector<ListedLayer>& out) {
    out.clear();
    Field3DFile file;
    if (Code c = file.Open(path); c != kOk) return c;
    Listing listing;
    if (Code c = ReadListing(file, listing); c != kOk) return c;
    for (const Layer& l : listing.layers) out.push_back({l.name, l.Vector()});
    return kOk;
}

void GridTransform(const Layer& layer, const int64_t first[3], float transform[12]) noexcept {
    // Voxel space to local space: local = (voxel - extents.min) / resolution,
    // with voxel (I, J, K) centred at (I + 0.5, J + 0.5, K + 0.5).
    const double* m = layer.mapping.m;
    double res[3], local[3];
    for (int a = 0; a < 3; ++a) {
        res[a] = static_cast<double>(layer.extents.Size(a));
        local[a] = (static_cast<double>(first[a]) + 0.5 - layer.extents.min[a]) / res[a];
    }
    for (int axis = 0; axis < 3; ++axis)
        for (int c = 0; c < 3; ++c) transform[axis * 3 + c] = static_cast<float>(m[axis * 4 + c] / res[axis]);
    for (int c = 0; c < 3; ++c)
        transform[9 + c] = static_cast<float>(local[0] * m[c] + local[1] * m[4 + c] + local[2] * m[8 + c] + m[12 + c]);
}

Code ImportFile(const char* path, const ChannelMapping* mappings, int count, FrameSink& sink) {
    if (!path || !mappings || count <= 0) return kBadArguments;
    Field3DFile file;
    if (Code c = file.Open(path); c != kOk) return c;
    Listing listing;
    if (Code c = ReadListing(file, listing); c != kOk) return c;

    // Choose the layers, in mapping order.
    std::vector<Selected> selected;
    bool taken[KOR_GRID_CHANNEL_COUNT] = {};
    for (int i = 0; i < count; ++i) {
        const int channel = mappings[i].channel;
        // Packed colour holds bytes in a frame, never floats.
        if (!mappings[i].layer || channel < 0 || channel > KOR_GRID_LAST_CHANNEL || channel == KOR_GRID_PACKED_COLOUR)
            continue;
        const auto it = listing.byName.find(mappings[i].layer);
        if (it == listing.byName.end()) continue;
        const Layer& layer = listing.layers[it->second];
        if (listing.status[it->second] != kOk) return listing.status[it->second];
        int width = 1;
        if (layer.Vector()) width = (channel == KOR_GRID_VELOCITY_X || channel == KOR_GRID_COLOUR_R) ? 3 : 0;
        const int span = width == 3 ? 3 : 1;
        bool free = true;
        for (int c = channel; c < channel + span; ++c) free = free && !taken[c];
        if (!free) continue;
        for (int c = channel; c < channel + span; ++c) taken[c] = true;
        selected.push_back({it->second, channel, width, mappings[i].scale});
    }
    if (selected.empty()) return kNoMappedLayer;

    // One grid over the union of the data windows.
    int64_t lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
        lo[a] = INT64_MAX;
        hi[a] = INT64_MIN;
    }
    for (const Selected& s : selected) {
        const Box& dw = listing.layers[s.layer].dataWindow;
        for (int a = 0; a < 3; ++a) {
            lo[a] = std::min<int64_t>(lo[a], dw.min[a]);
            hi[a] = std::max<int64_t>(hi[a], dw.max[a]);
        }
    }
    const int64_t nx = hi[0] - lo[0] + 1, ny = hi[1] - lo[1] + 1, nz = hi[2] - lo[2] + 1;
    // Each size is below 2^33: test before multiplying further.
    if (nx > kMaxCells || ny > kMaxCells || nz > kMaxCells || nx * ny > kMaxCells || nx * ny * nz > kMaxCells)
        return kGridTooLarge;
    const size_t cells = static_cast<size_t>(nx * ny * nz);

    for (const Selected& s : selected) {
        const Layer& layer = listing.layers[s.layer];
        DenseTarget target;
        target.nx = nx;
        target.ny = ny;
        target.ox = layer.dataWindow.min[0] - lo[0];
        target.oy = layer.dataWindow.min[1] - lo[1];
        target.oz = layer.dataWindow.min[2] - lo[2];
        if (s.width != 0) {
            for (int c = 0; c < s.width; ++c) {
                target.comp[c] = sink.NewChannel(s.channel + c, cells);
                if (!target.comp[c]) return kOutOfMemory;
            }
            if (Code c = file.ReadLayer(layer, target); c != kOk) return c;
            for (int c = 0; c < s.width; ++c) Scale(target.comp[c], cells, s.scale);
            continue;
        }
        // The length of a vector layer: read its components onto the grid
        // first, then keep the length in the mapped channel.
        float* out = sink.NewChannel(s.channel, cells);
        if (!out) return kOutOfMemory;
        std::vector<float> y(cells), z(cells);
        target.comp[0] = out;
        target.comp[1] = y.data();
        target.comp[2] = z.data();
        if (Code c = file.ReadLayer(layer, target); c != kOk) return c;
        for (size_t n = 0; n < cells; ++n) out[n] = std::sqrt(out[n] * out[n] + y[n] * y[n] + z[n] * z[n]);
        Scale(out, cells, s.scale);
    }

    const int32_t dims[3] = {static_cast<int32_t>(nx), static_cast<int32_t>(ny), static_cast<int32_t>(nz)};
    float transform[12];
    GridTransform(listing.layers[selected.front().layer], lo, transform);
    sink.SetGrid(dims, transform);
    return kOk;
}

}  // namespace F3d
