#include "f3d_values.h"

#include <algorithm>
#include <cstring>

namespace F3d {

int64_t Box::Cells() const noexcept {
    if (!Valid()) return 0;
    // Each size is below 2^33, so the first product fits; the second is
    // checked before it is formed.
    const int64_t xy = Size(0) * Size(1);
    if (Size(2) > INT64_MAX / xy) return INT64_MAX;
    return xy * Size(2);
}

float HalfToFloat(uint16_t h) noexcept {
    const uint32_t sign = uint32_t{h & 0x8000u} << 16;
    const uint32_t exponent = (h >> 10) & 0x1Fu;
    uint32_t mantissa = h & 0x3FFu;
    uint32_t bits;
    if (exponent == 0x1F) {
        bits = sign | 0x7F800000u | (mantissa << 13);  // infinity or NaN
    } else if (exponent != 0) {
        bits = sign | ((exponent + 112) << 23) | (mantissa << 13);
    } else if (mantissa == 0) {
        bits = sign;  // signed zero
    } else {
        // Subnormal: shift the mantissa up until its leading bit is the
        // implicit one, lowering the exponent as we go.
        int e = 113;
        while ((mantissa & 0x400u) == 0) {
            mantissa <<= 1;
            --e;
        }
        bits = sign | (static_cast<uint32_t>(e) << 23) | ((mantissa & 0x3FFu) << 13);
    }
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

size_t ValueBytes(ValueType type) noexcept {
    switch (type) {
        case ValueType::Half: return 2;
        case ValueType::Float: return 4;
        case ValueType::Double: return 8;
        default: return 0;
    }
}

void ConvertValues(ValueType type, const uint8_t* raw, size_t n, float* out) noexcept {
    switch (type) {
        case ValueType::Half:
            for (size_t i = 0; i < n; ++i) {
                uint16_t h;
                std::memcpy(&h, raw + 2 * i, 2);
                out[i] = HalfToFloat(h);
            }
            break;
        case ValueType::Float:
            if (n) std::memcpy(out, raw, n * 4);
            break;
        case ValueType::Double:
            for (size_t i = 0; i < n; ++i) {
                double d;
                std::memcpy(&d, raw + 8 * i, 8);
                out[i] = static_cast<float>(d);
            }
            break;
        default:
            std::fill(out, out + n, 0.0f);
            break;
    }
}

DenseWriter::DenseWriter(const DenseTarget& target, const Box& dataWindow, int components) noexcept
    : t_(target),
      sx_(dataWindow.Size(0)),
      sy_(dataWindow.Size(1)),
      sz_(dataWindow.Size(2)),
      comps_(components),
      remaining_(static_cast<uint64_t>(dataWindow.Cells()) * static_cast<uint64_t>(components)) {
    row_ = t_.ox + t_.nx * (t_.oy + t_.ny * t_.oz);
}

void DenseWriter::NextRow() noexcept {
    i_ = 0;
    if (++j_ < sy_) {
        row_ += t_.nx;
        return;
    }
    j_ = 0;
    ++k_;
    row_ = t_.ox + t_.nx * (t_.oy + t_.ny * (t_.oz + k_));
}

bool DenseWriter::Put(const float* values, size_t n) noexcept {
    if (n > remaining_) return false;
    remaining_ -= n;
    if (comps_ == 1) {
        // Scalar layers: whole row segments at a time.
        for (size_t v = 0; v < n;) {
            const size_t run = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n - v), sx_ - i_));
            std::memcpy(t_.comp[0] + row_ + i_, values + v, run * sizeof(float));
            v += run;
            i_ += static_cast<int64_t>(run);
            if (i_ == sx_) NextRow();
        }
        return true;
    }
    for (size_t v = 0; v < n; ++v) {
        t_.comp[c_][row_ + i_] = values[v];
        if (++c_ < comps_) continue;
        c_ = 0;
        if (++i_ == sx_) NextRow();
    }
    return true;
}

int64_t BlocksAlong(const Box& dataWindow, int axis, int order) noexcept {
    const int64_t size = dataWindow.Size(axis);
    const int64_t block = int64_t{1} << order;
    return size <= 0 ? 0 : (size + block - 1) / block;
}

namespace {

// The part of a block inside the data window, in data-window coordinates.
struct Span {
    int64_t begin[3], end[3];
};

Span BlockSpan(const BlockGeometry& g, int64_t bi, int64_t bj, int64_t bk) noexcept {
    const int64_t size = int64_t{1} << g.order;
    const int64_t b[3] = {bi, bj, bk};
    Span s;
    for (int a = 0; a < 3; ++a) {
        s.begin[a] = b[a] * size;
        s.end[a] = std::min(s.begin[a] + size, g.dataWindow.Size(a));
    }
    return s;
}

}  // namespace

void PlaceBlock(const DenseTarget& t, const BlockGeometry& g, int64_t bi, int64_t bj, int64_t bk,
                const float* values) noexcept {
    const Span s = BlockSpan(g, bi, bj, bk);
    const int64_t size = int64_t{1} << g.order;
    for (int64_t k = s.begin[2]; k < s.end[2]; ++k) {
        for (int64_t j = s.begin[1]; j < s.end[1]; ++j) {
            const int64_t row = (t.oy + j) * t.nx + (t.oz + k) * t.nx * t.ny + t.ox;
            const float* src =
                values + (((k - s.begin[2]) * size + (j - s.begin[1])) * size) * g.components;
            for (int64_t i = s.begin[0]; i < s.end[0]; ++i) {
                const float* v = src + (i - s.begin[0]) * g.components;
                for (int c = 0; c < g.components; ++c) t.comp[c][row + i] = v[c];
            }
        }
    }
}

void FillBlock(const DenseTarget& t, const BlockGeometry& g, int64_t bi, int64_t bj, int64_t bk,
               const float* value) noexcept {
    const Span s = BlockSpan(g, bi, bj, bk);
    for (int64_t k = s.begin[2]; k < s.end[2]; ++k) {
        for (int64_t j = s.begin[1]; j < s.end[1]; ++j) {
            const int64_t row = (t.oy + j) * t.nx + (t.oz + k) * t.nx * t.ny + t.ox;
            for (int c = 0; c < g.components; ++c)
                std::fill(t.comp[c] + row + s.begin[0], t.comp[c] + row + s.end[0], value[c]);
        }
    }
}

}  // namespace F3d
