#include "support/sg_encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace KorTest {

namespace {

// resize + memcpy rather than a ranged insert of raw bytes, which g++ 12 at
// -O3 wrongly reports as overflowing its destination (-Wstringop-overflow,
// -Warray-bounds).
void AppendBytes(std::vector<uint8_t>& out, const void* data, size_t size) {
    if (size == 0) return;
    const size_t at = out.size();
    out.resize(at + size);
    std::memcpy(out.data() + at, data, size);
}

template <class T>
void Append(std::vector<uint8_t>& out, const T& value) {
    AppendBytes(out, &value, sizeof(T));
}

void AppendTag(std::vector<uint8_t>& out, uint16_t tag) { Append(out, tag); }

size_t Product(const std::vector<int32_t>& dims) {
    size_t n = 1;
    for (int32_t d : dims) n *= static_cast<size_t>(d);
    return n;
}

// Calls line(first, stride, length) for every line of the box along axis a.
template <class Line>
void ForEachLine(const std::vector<int32_t>& dims, size_t a, Line&& line) {
    size_t stride = 1;
    for (size_t b = 0; b < a; ++b) stride *= static_cast<size_t>(dims[b]);
    const size_t length = static_cast<size_t>(dims[a]);
    const size_t total = Product(dims);
    if (total == 0) return;
    const size_t block = stride * length;
    for (size_t outer = 0; outer < total; outer += block)
        for (size_t inner = 0; inner < stride; ++inner) line(outer + inner, stride, length);
}

}  // namespace

std::vector<uint8_t> SGRawStream(const float* values, size_t count) {
    std::vector<uint8_t> out;
    AppendTag(out, 0xFC01);
    out.push_back(0);
    Append(out, static_cast<int32_t>(count));
    AppendBytes(out, values, count * 4);
    return out;
}

std::vector<uint8_t> SGConstantStream(int32_t count, float value) {
    std::vector<uint8_t> out;
    AppendTag(out, 0xFC01);
    out.push_back(1);
    Append(out, count);
    Append(out, value);
    return out;
}

void DifferenceForward(std::vector<uint32_t>& w, const std::vector<int32_t>& dims, int passes) {
    for (int k = 1; k <= passes; ++k)
        for (size_t a = dims.size(); a-- > 0;)
            ForEachLine(dims, a, [&](size_t first, size_t stride, size_t length) {
                for (size_t i = length; i-- > static_cast<size_t>(k);)
                    w[first + i * stride] -= w[first + (i - 1) * stride];
            });
}

void DifferenceInverse(std::vector<uint32_t>& w, const std::vector<int32_t>& dims, int passes) {
    for (int k = passes; k >= 1; --k)
        for (size_t a = 0; a < dims.size(); ++a)
            ForEachLine(dims, a, [&](size_t first, size_t stride, size_t length) {
                for (size_t i = static_cast<size_t>(k); i < length; ++i)
                    w[first + i * stride] += w[first + (i - 1) * stride];
            });
}

bool SGQuantisedStream(const SGQuantised& params, const int32_t* q, std::vector<uint8_t>& stream) {
    const size_t n = Product(params.dims);
    std::vector<uint32_t> w(q, q + n);
    DifferenceForward(w, params.dims, params.passes);

    int32_t base = 0;
    if (n != 0) {
        base = static_cast<int32_t>(w[0]);
        for (uint32_t v : w) base = std::min(base, static_cast<int32_t>(v));
    }
    std::vector<int32_t> values(n);
    for (size_t i = 0; i < n; ++i) {
        const int64_t t = int64_t(static_cast<int32_t>(w[i])) - base;
        if (t > INT32_MAX) return false;
        values[i] = static_cast<int32_t>(t);
    }
    const std::vector<int32_t> tokens = Tokenize(values.data(), n, params.minRun);

    stream.clear();
    AppendTag(stream, 0xFC01);
    stream.push_back(2);
    for (int32_t d : params.dims) Append(stream, d);
    Append(stream, params.scale);
    Append(stream, params.offset);
    Append(stream, base);
    stream.push_back(static_cast<uint8_t>(params.passes));
    const std::vector<uint8_t> block = EncodeEntropyBlock(tokens, params.form);
    stream.insert(stream.end(), block.begin(), block.end());
    return true;
}

std::vector<int32_t> Quantise(const float* values, size_t count, float scale, float offset) {
    std::vector<int32_t> q(count);
    for (size_t i = 0; i < count; ++i) q[i] = static_cast<int32_t>(std::lrint((values[i] - offset) * scale));
    return q;
}

float Dequantise(int32_t q, float scale, float offset) {
    if (offset > 0.0f && static_cast<double>(offset) < 1e-20) offset = 0.0f;
    volatile float r = 1.0f / scale;  // kept apart so that no multiply-add can be formed
    volatile float product = static_cast<float>(q) * r;
    return product + offset;
}

std::vector<uint8_t> SGZonedStream(const std::vector<SGZone>& zones) {
    std::vector<uint8_t> out;
    AppendTag(out, 0xFC02);
    Append(out, static_cast<uint16_t>(zones.size()));
    for (const SGZone& z : zones) Append(out, z.outputOffset);
    int32_t at = 0;
    for (const SGZone& z : zones) {
        Append(out, at);
        at += static_cast<int32_t>(z.stream.size());
    }
    for (const SGZone& z : zones) out.insert(out.end(), z.stream.begin(), z.stream.end());
    return out;
}

std::vector<uint8_t> SGGridStream(int nx, int ny, int nz, const float* values, const SGGridOptions& options) {
    const size_t n = static_cast<size_t>(nx) * ny * nz;
    const std::vector<int32_t> q = Quantise(values, n, options.scale, options.offset);
    SGQuantised p;
    p.scale = options.scale;
    p.offset = options.offset;
    p.passes = options.passes;
    p.form = options.form;
    std::vector<uint8_t> stream;
    if (options.zoneSlices <= 0) {
        p.dims = {nx, ny, nz};
        SGQuantisedStream(p, q.data(), stream);
        return stream;
    }
    std::vector<SGZone> zones;
    const size_t slice = static_cast<size_t>(nx) * ny;
    for (int k0 = 0; k0 < nz; k0 += options.zoneSlices) {
        const int slices = std::min(options.zoneSlices, nz - k0);
        p.dims = {nx, ny, slices};
        SGZone zone;
        zone.outputOffset = static_cast<int32_t>(slice * k0);
        SGQuantisedStream(p, q.data() + slice * k0, zone.stream);
        zones.push_back(std::move(zone));
    }
    return SGZonedStream(zones);
}

std::vector<float> SGGridDecoded(size_t count, const float* values, const SGGridOptions& options) {
    const std::vector<int32_t> q = Quantise(values, count, options.scale, options.offset);
    std::vector<float> out(count);
    for (size_t i = 0; i < count; ++i) out[i] = Dequantise(q[i], options.scale, options.offset);
    return out;
}

std::vector<float> MakeSmokeField(int nx, int ny, int nz, uint32_t seed) {
    auto hash = [](uint32_t x) {
        x ^= x >> 16;
        x *= 0x7feb352dU;
        x ^= x >> 15;
        x *= 0x846ca68bU;
        x ^= x >> 16;
        return x;
    };
    auto random01 = [&](uint32_t k) { return static_cast<float>(hash(seed * 7919u + k) & 0xFFFFFF) / 16777216.0f; };
    struct Puff {
        float x, y, z, radius, density;
    };
    std::vector<Puff> puffs;
    for (uint32_t p = 0; p < 6; ++p) {
        const float base = std::min({nx, ny, nz}) * 1.0f;
        puffs.push_back(Puff{nx * (0.2f + 0.6f * random01(5 * p)), ny * (0.2f + 0.6f * random01(5 * p + 1)),
                             nz * (0.2f + 0.6f * random01(5 * p + 2)), base * (0.12f + 0.2f * random01(5 * p + 3)),
                             0.5f + random01(5 * p + 4)});
    }
    // Smooth value noise on a lattice of 8 cells.
    auto lattice = [&](int i, int j, int k) {
        // Unsigned products: they wrap (lattice indices past 25 overflow an int).
        return random01(static_cast<uint32_t>(i) * 73856093u ^ static_cast<uint32_t>(j) * 19349663u ^
                        static_cast<uint32_t>(k) * 83492791u);
    };
    std::vector<float> field(static_cast<size_t>(nx) * ny * nz, 0.0f);
    for (int k = 0; k < nz; ++k)
        for (int j = 0; j < ny; ++j)
            for (int i = 0; i < nx; ++i) {
                float d = 0.0f;
                for (const Puff& p : puffs) {
                    const float dx = i - p.x, dy = j - p.y, dz = k - p.z;
                    const float t = 1.0f - (dx * dx + dy * dy + dz * dz) / (p.radius * p.radius);
                    if (t > 0.0f) d += p.density * t * t;
                }
                if (d <= 0.0f) continue;
                const int li = i >> 3, lj = j >> 3, lk = k >> 3;
                const float fx = (i & 7) / 8.0f, fy = (j & 7) / 8.0f, fz = (k & 7) / 8.0f;
                float n = 0.0f;
                for (int c = 0; c < 8; ++c) {
                    const float wx = (c & 1) ? fx : 1 - fx, wy = (c & 2) ? fy : 1 - fy, wz = (c & 4) ? fz : 1 - fz;
                    n += wx * wy * wz * lattice(li + (c & 1), lj + ((c >> 1) & 1), lk + ((c >> 2) & 1));
                }
                field[static_cast<size_t>(i) + static_cast<size_t>(nx) * (j + static_cast<size_t>(ny) * k)] =
                    std::min(1.999f, d * (0.6f + 0.8f * n));
            }
    return field;
}

}  // namespace KorTest
