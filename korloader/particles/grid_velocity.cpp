#include "particles/grid_velocity.h"

namespace KorParticles {

namespace {

struct AxisSample {
    int64_t lower, upper;  // cell indices
    float fraction;        // weight of `upper`
};

AxisSample Locate(float c, int32_t n) noexcept {
    const float last = static_cast<float>(n - 1);
    if (!(c >= 0.0f)) c = 0.0f;  // below the grid, or NaN
    if (c > last) c = last;
    int64_t i = static_cast<int64_t>(c);  // truncation; c is not negative here
    if (i > n - 1) i = n - 1;             // n − 1 may round up when made a float
    AxisSample s;
    s.lower = i;
    s.upper = i < n - 1 ? i + 1 : i;
    s.fraction = c - static_cast<float>(i);
    return s;
}

}  // namespace

void SampleTrilinear(const float* const grid[3], const int32_t dims[3], const float position[3],
                     float out[3]) noexcept {
    const AxisSample ax = Locate(position[0], dims[0]);
    const AxisSample ay = Locate(position[1], dims[1]);
    const AxisSample az = Locate(position[2], dims[2]);
    const int64_t nx = dims[0];
    const int64_t nxy = nx * dims[1];
    const int64_t xs[2] = {ax.lower, ax.upper};
    const int64_t ys[2] = {ay.lower * nx, ay.upper * nx};
    const int64_t zs[2] = {az.lower * nxy, az.upper * nxy};
    const float wx[2] = {1.0f - ax.fraction, ax.fraction};
    const float wy[2] = {1.0f - ay.fraction, ay.fraction};
    const float wz[2] = {1.0f - az.fraction, az.fraction};
    for (int c = 0; c < 3; ++c) {
        const float* v = grid[c];
        float sum = 0.0f;
        for (int k = 0; k < 2; ++k)
            for (int j = 0; j < 2; ++j)
                for (int i = 0; i < 2; ++i) sum += wx[i] * wy[j] * wz[k] * v[xs[i] + ys[j] + zs[k]];
        out[c] = sum;
    }
}

}  // namespace KorParticles
