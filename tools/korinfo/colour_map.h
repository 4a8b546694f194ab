// The perceptual colour map of the preview pictures (viridis): dark violet
// through blue and green to yellow, brighter with every step, so that the
// picture also reads in grey.
#pragma once
#include <cstdint>

namespace KorInfo {

struct Rgb {
    uint8_t r = 0, g = 0, b = 0;
};

// The colour of `t` in 0..1 (clamped; NaN is 0).
Rgb ColourOf(double t);

}  // namespace KorInfo
