#include "preview.h"

#include <cmath>

#include "colour_map.h"
#include "frame/ostrel_frame_data.h"
#include "frame_facts.h"
#include "korloader/korloader.h"

namespace KorInfo {

namespace {

constexpr Rgb kParticleColour = {0xFF, 0x40, 0x40};
constexpr char kAxisNames[] = "xyz";

// The picture's horizontal and vertical grid axes when looking along `axis`.
void PictureAxes(int axis, int& across, int& up) {
    across = axis == 0 ? 2 : 0;
    up = axis == 1 ? 2 : 1;
}

// The channel's stored range, else the range of its values.
void NormalisingRange(const OstrelFrameData& frame, int channel, const float* values, int64_t cells, float& lo,
                      float& hi) {
    if (frame.rangeMax[channel] >= frame.rangeMin[channel]) {
        lo = frame.rangeMin[channel];
        hi = frame.rangeMax[channel];
        return;
    }
    lo = INFINITY;
    hi = -INFINITY;
    for (int64_t n = 0; n < cells; ++n) {
        lo = std::fmin(lo, values[n]);
        hi = std::fmax(hi, values[n]);
    }
}

// The value of every pixel: the slice's cell or the maximum along the axis.
// The cells are walked in memory order, whatever the axis.
std::vector<float> PixelValues(const OstrelFrameData& frame, const float* values, const PreviewRequest& request,
                               int width, int height) {
    int across = 0, up = 0;
    PictureAxes(request.axis, across, up);
    std::vector<float> pixels(static_cast<size_t>(width) * static_cast<size_t>(height), -INFINITY);
    int cell[3] = {};
    int64_t n = 0;
    for (cell[2] = 0; cell[2] < frame.nz; ++cell[2])
        for (cell[1] = 0; cell[1] < frame.ny; ++cell[1])
            for (cell[0] = 0; cell[0] < frame.nx; ++cell[0], ++n) {
                if (!request.project && cell[request.axis] != request.slice) continue;
                float& pixel = pixels[static_cast<size_t>(cell[up]) * static_cast<size_t>(width) +
                                      static_cast<size_t>(cell[across])];
                pixel = std::fmax(pixel, values[n]);
            }
    return pixels;
}

bool DrawParticles(OstrelFrameData& frame, const PreviewRequest& request, Picture& picture, std::string& reason) {
    IOstrelPrtGroup* group = frame.GetParticleGroupByName(request.particles.c_str());
    if (group == nullptr) {
        reason = "no particle group \"" + request.particles + "\"";
        return false;
    }
    if (!group->HasChannel(KOR_PARTICLE_POSITION)) {
        reason = "particle group \"" + request.particles + "\" has no positions";
        return false;
    }
    int across = 0, up = 0;
    PictureAxes(request.axis, across, up);
    const int count = group->GetNumParticles();
    for (int i = 0; i < count; ++i) {
        float position[3];
        if (!group->GetParticleChannel(i, KOR_PARTICLE_POSITION, position)) {
            reason = "the positions of particle group \"" + request.particles + "\" do not decode";
            return false;
        }
        if (!std::isfinite(position[0]) || !std::isfinite(position[1]) || !std::isfinite(position[2])) continue;
        const double u = std::floor(position[across]), v = std::floor(position[up]);
        if (!request.project && std::floor(position[request.axis]) != request.slice) continue;
        if (u < 0 || v < 0 || u >= picture.width || v >= picture.height) continue;
        const size_t row = static_cast<size_t>(picture.height - 1 - static_cast<int>(v));
        uint8_t* pixel = &picture.rgb[3 * (row * static_cast<size_t>(picture.width) + static_cast<size_t>(u))];
        pixel[0] = kParticleColour.r;
        pixel[1] = kParticleColour.g;
        pixel[2] = kParticleColour.b;
    }
    return true;
}

}  // namespace

int ResolveGridChannel(const std::string& text) {
    int id = -1;
    if (!text.empty() && text.size() <= 2 && text.find_first_not_of("0123456789") == std::string::npos) {
        id = std::stoi(text);
    } else {
        for (int c = 0; c < KOR_GRID_CHANNEL_COUNT; ++c)
            if (text == korGridChannelName(c)) id = c;
    }
    // Packed colour is handed out as colour.r, .g and .b only.
    return id >= 0 && id < KOR_GRID_CHANNEL_COUNT && id != KOR_GRID_PACKED_COLOUR ? id : -1;
}

bool MakePreview(OstrelFrameData& frame, const PreviewRequest& request, int channel, Picture& picture,
                 std::string& reason) {
    const std::string name = GridChannelLabel(channel);
    const int dims[3] = {frame.nx, frame.ny, frame.nz};
    const int64_t cells = frame.CellCount();
    if (cells <= 0) {
        reason = "the grid is empty";
        return false;
    }
    if (!request.project && request.slice >= dims[request.axis]) {
        reason = "slice " + std::string(1, kAxisNames[request.axis]) + "=" + std::to_string(request.slice) +
                 " lies outside the grid (" + kAxisNames[request.axis] + " is 0.." +
                 std::to_string(dims[request.axis] - 1) + ")";
        return false;
    }
    if (!frame.HasChannel(channel)) {
        reason = "no channel " + name;
        return false;
    }
    const float* values = frame.GetChannel(channel);
    if (values == nullptr) {
        reason = "channel " + name + " does not decode";
        return false;
    }
    int across = 0, up = 0;
    PictureAxes(request.axis, across, up);
    picture.width = dims[across];
    picture.height = dims[up];
    float lo = 0, hi = 0;
    NormalisingRange(frame, channel, values, cells, lo, hi);
    const std::vector<float> pixels = PixelValues(frame, values, request, picture.width, picture.height);
    const double scale = hi > lo ? 1.0 / (static_cast<double>(hi) - lo) : 0.0;
    picture.rgb.resize(pixels.size() * 3);
    for (int v = 0; v < picture.height; ++v)
        for (int u = 0; u < picture.width; ++u) {
            const float value =
                pixels[static_cast<size_t>(v) * static_cast<size_t>(picture.width) + static_cast<size_t>(u)];
            const Rgb colour = ColourOf((static_cast<double>(value) - lo) * scale);
            const size_t row = static_cast<size_t>(picture.height - 1 - v);
            uint8_t* pixel = &picture.rgb[3 * (row * static_cast<size_t>(picture.width) + static_cast<size_t>(u))];
            pixel[0] = colour.r;
            pixel[1] = colour.g;
            pixel[2] = colour.b;
        }
    return request.particles.empty() || DrawParticles(frame, request, picture, reason);
}

}  // namespace KorInfo
