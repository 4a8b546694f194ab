#include "colour_map.h"

#include <cmath>

namespace KorInfo {

namespace {

// viridis at ten evenly spaced points; colours in between are interpolated
// linearly, which keeps the lightness rising steadily.
constexpr Rgb kStops[] = {{0x44, 0x01, 0x54}, {0x48, 0x28, 0x78}, {0x3E, 0x4A, 0x89}, {0x31, 0x68, 0x8E},
                          {0x26, 0x82, 0x8E}, {0x1F, 0x9E, 0x89}, {0x35, 0xB7, 0x79}, {0x6D, 0xCD, 0x59},
                          {0xB4, 0xDE, 0x2C}, {0xFD, 0xE7, 0x25}};
constexpr int kLast = static_cast<int>(sizeof kStops / sizeof kStops[0]) - 1;

uint8_t Blend(uint8_t a, uint8_t b, double f) { return static_cast<uint8_t>(std::lround(a + (b - a) * f)); }

}  // namespace

Rgb ColourOf(double t) {
    if (!(t > 0)) return kStops[0];
    if (t >= 1) return kStops[kLast];
    const double at = t * kLast;
    const int i = static_cast<int>(at);
    const double f = at - i;
    const Rgb& a = kStops[i];
    const Rgb& b = kStops[i + 1];
    return {Blend(a.r, b.r, f), Blend(a.g, b.g, f), Blend(a.b, b.b, f)};
}

}  // namespace KorInfo
