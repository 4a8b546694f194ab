// Writes the frames the Python tests read, and beside each channel the
// values a reader must give back (raw little-endian files "<frame>.<channel>.bin"):
//   grid.kor         6x5x4 grid: smoke, zoned temperature, velocity, packed
//                    colour, a transform; groups "sparks" (one channel per
//                    method, IDs out of order, a uint32 and an untyped
//                    channel), "drift" (velocity from the grid, at whole
//                    cells) and "hidden" (no positions)
//   grid_b.kor       the same with other smoke
//   big.kor          64^3 smoke and temperature, for threads
//   bad_channel.kor  a smoke record that does not decode, a good temperature
//   cut.kor          grid.kor cut short, inside its tagged records
//
//   kor_python_test_frames DIRECTORY
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "support/kor_writer.h"
#include "support/particle_writer.h"

namespace {

using KorTest::Bytes;
using KorTest::Words;

std::string g_dir;

bool WriteRaw(const std::string& name, const void* data, size_t bytes) {
    FILE* f = std::fopen((g_dir + "/" + name + ".bin").c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, bytes, f) == bytes;
    return std::fclose(f) == 0 && ok;
}

template <class T>
bool WriteRaw(const std::string& name, const std::vector<T>& values) {
    return WriteRaw(name, values.data(), values.size() * sizeof(T));
}

// A grid channel and what it decodes to.
bool AddGridChannel(KorTest::KorWriter& w, const std::string& frame, const char* name, int id,
                    const std::vector<float>& values, const KorTest::SGGridOptions& options) {
    w.GridChannel(id, values, options);
    return WriteRaw(frame + "." + name, KorTest::SGGridDecoded(values.size(), values.data(), options));
}

template <class F>
std::vector<float> Field(int nx, int ny, int nz, F f) {
    std::vector<float> v;
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) v.push_back(f(i, j, k));
    return v;
}

KorTest::StoredChannel Stored(int id, uint32_t method, const Words& elements, int count, int words) {
    return {id, method, KorTest::EncodeParticleChannel(method, elements, count, words)};
}

bool WriteGrid(const std::string& name, float smokeBias) {
    const int nx = 6, ny = 5, nz = 4;
    KorTest::KorWriter w;
    w.Grid(nx, ny, nz).GridTransform({0.5f, 0, 0, 0, 0.25f, 0, 0, 0, 2.0f, 1.0f, 2.0f, 3.0f}).FrameNumber(7);
    KorTest::SGGridOptions smoke, temperature, velocity;
    smoke.passes = 2;
    temperature.scale = 16.0f;
    temperature.offset = 300.0f;
    temperature.zoneSlices = 2;
    velocity.scale = 512.0f;
    struct GridValues {
        const char* name;
        int id;
        std::vector<float> values;
        KorTest::SGGridOptions options;
    };
    const GridValues channels[] = {
        {"smoke", 2, Field(nx, ny, nz, [&](int i, int j, int k) { return smokeBias + 0.01f * (i + 7 * j + 31 * k); }),
         smoke},
        {"temperature", 1, Field(nx, ny, nz, [](int i, int j, int k) { return 300.0f + i * j + 2.5f * k; }),
         temperature},
        {"velocity.x", 4, Field(nx, ny, nz, [](int i, int, int) { return 0.25f * i; }), velocity},
        {"velocity.y", 5, Field(nx, ny, nz, [](int, int j, int) { return -0.5f * j; }), velocity},
        {"velocity.z", 6, Field(nx, ny, nz, [](int i, int j, int k) { return 0.125f * (k - i + j); }), velocity},
    };
    bool ok = true;
    for (const GridValues& c : channels) ok = ok && AddGridChannel(w, name, c.name, c.id, c.values, c.options);
    Bytes bgra(static_cast<size_t>(nx) * ny * nz * 4);
    for (size_t n = 0; n < bgra.size(); ++n) bgra[n] = static_cast<uint8_t>(n * 37 + 11);
    w.PackedColour(bgra);
    ok = ok && WriteRaw(name + ".bgra", bgra);

    // sparks: every method, IDs out of order, a uint32 and an untyped channel.
    const int n = 37;
    std::vector<float> position, velocityValues, size, age;
    std::vector<int64_t> ids;
    Words counters, untyped;
    for (int p = 0; p < n; ++p) {
        position.insert(position.end(), {0.1f * p, 4.0f - 0.1f * p, 0.05f * p});
        velocityValues.insert(velocityValues.end(), {1.0f * p, -2.0f, 0.5f});
        size.push_back(0.25f + p);
        age.push_back(p * 0.125f);
        ids.push_back((int64_t{p} * 17 % n) * 1000003 - 5000);
        counters.push_back(4000000000u - static_cast<uint32_t>(p));
        untyped.push_back(0xA5A50000u + static_cast<uint32_t>(p));
    }
    KorTest::CompressedGroup sparks{"sparks", 0, n, 42, {}};
    sparks.channels = {Stored(0, 4, KorTest::FloatWords(position), n, 3),
                       Stored(1, 3, KorTest::FloatWords(velocityValues), n, 3),
                       Stored(2, 1, KorTest::FloatWords(size), n, 1),
                       Stored(3, 0, KorTest::FloatWords(age), n, 1),
                       Stored(10, 4, KorTest::Int64Words(ids), n, 2),
                       Stored(12, 0, counters, n, 1),
                       Stored(20, 2, untyped, n, 1)};
    ok = ok && WriteRaw(name + ".sparks.position", position) && WriteRaw(name + ".sparks.velocity", velocityValues) &&
         WriteRaw(name + ".sparks.size", size) && WriteRaw(name + ".sparks.age", age) &&
         WriteRaw(name + ".sparks.id", ids) && WriteRaw(name + ".sparks.12", counters) &&
         WriteRaw(name + ".sparks.20", untyped);

    // drift: velocity from the grid, positions on whole cells (corners too).
    const std::vector<float> cells = {0, 0, 0, 5, 4, 3, 2, 1, 3, 1, 3, 0, 4, 2, 1};
    KorTest::CompressedGroup drift{"drift", 0x30000, 5, 0, {Stored(0, 0, KorTest::FloatWords(cells), 5, 3)}};
    ok = ok && WriteRaw(name + ".drift.position", cells);
    // hidden: particles without positions.
    KorTest::CompressedGroup hidden{"hidden", 0, 3, 0, {Stored(2, 0, KorTest::FloatWords({1, 2, 3}), 3, 1)}};

    w.Chunk(1000,
            KorTest::GroupDirectoryChunk(
                {{"sparks", n, 0x10140F, 0}, {"drift", 5, 0x1, 0x30000}, {"hidden", 3, 0x4, 0}}, {0, 0, 0, 6, 5, 4}))
        .AfterChunk(KorTest::Int32Bytes(100000))
        .Chunk(1002, KorTest::CompressedParticlesChunk({sparks, drift, hidden}));
    return ok && w.WriteFile(g_dir + "/" + name + ".kor");
}

bool WriteBig() {
    const int side = 64;
    KorTest::KorWriter w;
    w.Grid(side, side, side);
    KorTest::SGGridOptions smoke, temperature;
    temperature.zoneSlices = 8;
    temperature.passes = 2;
    std::vector<float> heat = KorTest::MakeSmokeField(side, side, side, 2);
    for (float& v : heat) v = 300.0f + 100.0f * v;
    temperature.offset = 300.0f;
    temperature.scale = 64.0f;
    return AddGridChannel(w, "big", "smoke", 2, KorTest::MakeSmokeField(side, side, side, 1), smoke) &&
           AddGridChannel(w, "big", "temperature", 1, heat, temperature) && w.WriteFile(g_dir + "/big.kor");
}

bool WriteBadChannel() {
    KorTest::KorWriter w;
    w.Grid(4, 4, 4);
    KorTest::SGGridOptions options;
    Bytes garbage(64);
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(0xF0 ^ (i * 13));
    w.Channel(2, garbage);
    return AddGridChannel(w, "bad_channel", "temperature", 1, std::vector<float>(64, 1.5f), options) &&
           w.WriteFile(g_dir + "/bad_channel.kor");
}

bool WriteCut() {
    FILE* in = std::fopen((g_dir + "/grid.kor").c_str(), "rb");
    if (in == nullptr) return false;
    Bytes bytes(1 << 20);
    bytes.resize(std::fread(bytes.data(), 1, bytes.size(), in));
    std::fclose(in);
    bytes.resize(100);  // inside the tagged records
    return KorTest::WriteFileBytes(g_dir + "/cut.kor", bytes);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: kor_python_test_frames DIRECTORY\n");
        return 2;
    }
    g_dir = argv[1];
    if (!WriteGrid("grid", 0.0f) || !WriteGrid("grid_b", 0.5f) || !WriteBig() || !WriteBadChannel() || !WriteCut()) {
        std::fprintf(stderr, "kor_python_test_frames: cannot write the frames into %s\n", argv[1]);
        return 1;
    }
    return 0;
}
