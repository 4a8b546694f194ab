// Writes the bundled example frame: a small smoke-like plume with density,
// temperature, velocity and packed colour, its channel ranges, an info text
// and a group of sparks rising through it (positions, velocity, size, age
// and IDs).
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "support/kor_writer.h"
#include "support/particle_writer.h"

int main(int argc, char** argv) {
    // The bundled frame is 32 x 48 x 32, frame 12; benchmarks ask for other
    // sizes and frame numbers.
    if (argc != 2 && argc != 5 && argc != 6) {
        std::fprintf(stderr, "usage: make_example_frame OUTPUT.kor [NX NY NZ [FRAME]]\n");
        return 2;
    }
    const int nx = argc > 2 ? std::atoi(argv[2]) : 32, ny = argc > 2 ? std::atoi(argv[3]) : 48,
              nz = argc > 2 ? std::atoi(argv[4]) : 32, frame = argc > 5 ? std::atoi(argv[5]) : 12;
    if (nx < 2 || ny < 2 || nz < 2 || nx > 1024 || ny > 1024 || nz > 1024) {
        std::fprintf(stderr, "make_example_frame: each dimension must be 2..1024\n");
        return 2;
    }
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

    // Sparks on a helix around the plume's axis, in cell coordinates; each
    // channel stored with another method.
    const int sparks = 500;
    std::vector<float> position, velocity, size, age;
    std::vector<int64_t> ids;
    for (int p = 0; p < sparks; ++p) {
        const float t = static_cast<float>(p) / sparks, angle = 25.0f * t;
        position.insert(position.end(), {nx / 2.0f + 5 * std::cos(angle), (ny - 1) * t, nz / 2.0f + 5 * std::sin(angle)});
        velocity.insert(velocity.end(), {-std::sin(angle), 1.0f, std::cos(angle)});
        size.push_back(0.2f + 0.3f * (1 - t));
        age.push_back(2.0f * t);
        ids.push_back(1000 + 7 * p);
    }
    KorTest::CompressedGroup group{"sparks", 0, sparks, 0, {}};
    const std::pair<int, KorTest::Words> channels[] = {{0, KorTest::FloatWords(position)},
                                                       {1, KorTest::FloatWords(velocity)},
                                                       {2, KorTest::FloatWords(size)},
                                                       {3, KorTest::FloatWords(age)},
                                                       {10, KorTest::Int64Words(ids)}};
    const uint32_t methods[] = {4, 3, 1, 0, 4};
    const int words[] = {3, 3, 1, 1, 2};
    for (int c = 0; c < 5; ++c)
        group.channels.push_back({channels[c].first, methods[c],
                                  KorTest::EncodeParticleChannel(methods[c], channels[c].second, sparks, words[c])});
    const std::array<float, 6> box = {nx / 2.0f - 5, 0, nz / 2.0f - 5, nx / 2.0f + 5, ny - 1.0f, nz / 2.0f + 5};
    KorTest::KorWriter writer;
    writer.Grid(nx, ny, nz)
        .GridTransform({0.1f, 0, 0, 0, 0.1f, 0, 0, 0, 0.1f, -1.6f, 0, -1.6f})
        .PackedColour(bgra)
        .GridChannel(2, smoke, densityOptions)
        .GridChannel(1, temperature, temperatureOptions)
        .GridChannel(4, vx, velocityOptions)
        .GridChannel(5, vy, velocityOptions)
        .GridChannel(6, vz, velocityOptions)
        .FrameNumber(frame)
        .TimeStep(1.0f / 24.0f)
        .Time(static_cast<float>(frame) / 24.0f)
        .InfoText("korloader example frame: smoke plume")
        .ChannelRanges({{18, 0.0f, 1.0f}, {2, 0.0f, 1.0f}, {1, 300.0f, 1200.0f}})
        .Chunk(1000, KorTest::GroupDirectoryChunk({{"sparks", sparks, 0x40F, 0}}, box))
        .AfterChunk(KorTest::Int32Bytes(100000))
        .Chunk(1002, KorTest::CompressedParticlesChunk({group}));
    if (!writer.WriteFile(argv[1])) {
        std::fprintf(stderr, "make_example_frame: cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
