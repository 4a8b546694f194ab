// Writes the bundled example frame: a small smoke-like plume with density,
// temperature, velocity and packed colour, its channel ranges and an info text.
#include <cmath>
#include <cstdio>
#include <vector>

#include "support/kor_writer.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_example_frame OUTPUT.kor\n");
        return 2;
    }
    const int nx = 32, ny = 48, nz = 32;
    const size_t cells = static_cast<size_t>(nx) * ny * nz;
    KorTest::Bytes bgra(cells * 4);
    std::vector<float> smoke(cells), temperature(cells), vx(cells), vy(cells), vz(cells);
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                // A rising plume: dense near its axis, fading with height.
                const float dx = (i - nx / 2.0f) / nx, dz = (k - nz / 2.0f) / nz, h = static_cast<float>(j) / ny;
                const float r = std::sqrt(dx * dx + dz * dz);
                const float density = std::fmax(0.0f, 1.0f - r * 4.0f) * (1.0f - h);
                const size_t n = static_cast<size_t>(i) + static_cast<size_t>(nx) * j + static_cast<size_t>(nx) * ny * k;
                smoke[n] = density;
                temperature[n] = 300.0f + 900.0f * density;
                // Rising along y, swirling around the axis.
                vx[n] = -dz * 2.0f * density;
                vy[n] = 1.5f * density;
                vz[n] = dx * 2.0f * density;
                uint8_t* cell = &bgra[4 * n];
                cell[0] = static_cast<uint8_t>(40 + 60 * density);   // blue
                cell[1] = static_cast<uint8_t>(80 + 120 * density);  // green
                cell[2] = static_cast<uint8_t>(255 * density);       // red
                cell[3] = 0;
            }
    KorTest::SGGridOptions densityOptions, temperatureOptions, velocityOptions;
    densityOptions.scale = 1024.0f;
    temperatureOptions.scale = 16.0f;
    temperatureOptions.offset = 300.0f;
    temperatureOptions.zoneSlices = 8;
    velocityOptions.scale = 512.0f;
    velocityOptions.passes = 2;
    KorTest::KorWriter writer;
    writer.Grid(nx, ny, nz)
        .GridTransform({0.1f, 0, 0, 0, 0.1f, 0, 0, 0, 0.1f, -1.6f, 0, -1.6f})
        .PackedColour(bgra)
        .GridChannel(2, smoke, densityOptions)
        .GridChannel(1, temperature, temperatureOptions)
        .GridChannel(4, vx, velocityOptions)
        .GridChannel(5, vy, velocityOptions)
        .GridChannel(6, vz, velocityOptions)
        .FrameNumber(12)
        .TimeStep(1.0f / 24.0f)
        .Time(0.5f)
        .InfoText("korloader example frame: smoke plume")
        .ChannelRanges({{18, 0.0f, 1.0f}, {2, 0.0f, 1.0f}, {1, 300.0f, 1200.0f}});
    if (!writer.WriteFile(argv[1])) {
        std::fprintf(stderr, "make_example_frame: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
