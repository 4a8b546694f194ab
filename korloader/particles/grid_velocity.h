// Velocity sampled from the frame's grid at a particle's position, for groups
// that carry the velocityFromGrid attribute instead of stored velocity.
#pragma once
#include <cstdint>

namespace KorParticles {

// Trilinear blend of the 8 cells around `position` (cell coordinates), one
// output component from each of `grid[0..2]` (velocity x, y, z arrays of
// dims[0]·dims[1]·dims[2] floats). A coordinate outside [0, n−1] of its axis
// (or NaN) is clamped into it first; at the last cell of an axis the upper
// neighbour is the cell itself. Dimensions must be at least 1.
void SampleTrilinear(const float* const grid[3], const int32_t dims[3], const float position[3],
                     float out[3]) noexcept;

}  // namespace KorParticles
