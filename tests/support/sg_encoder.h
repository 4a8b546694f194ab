// Test encoder of sparse-grid streams (the writing side of SGCompressor).
//
// Single stream: uint16 tag 0xFC01, uint8 form, then
//   raw (0):       int32 N, N floats
//   constant (1):  int32 N, one float
//   quantised (2): int32 dims[D], float scale, float offset, int32 base,
//                  uint8 passes P, one entropy block
// Zoned stream: uint16 tag 0xFC02, uint16 Z, Z int32 output offsets, Z int32
// input offsets (from the end of the tables), then the zone streams.
// Quantised values q decode to (float)q * (1 / scale) + offset.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/entropy_encoder.h"

namespace KorTest {

std::vector<uint8_t> SGRawStream(const float* values, size_t count);
std::vector<uint8_t> SGConstantStream(int32_t count, float value);

struct SGQuantised {
    std::vector<int32_t> dims;  // D values, axis 0 fastest
    float scale = 1.0f;
    float offset = 0.0f;
    int passes = 0;  // 0..255
    EntropyForm form = EntropyForm::Auto;
    size_t minRun = 2;  // shortest run written as a run marker
};

// A quantised stream of the integers q (product of dims values). False when
// the differenced values span more than a token can hold (2^31 - 1).
bool SGQuantisedStream(const SGQuantised& params, const int32_t* q, std::vector<uint8_t>& stream);

// The quantised integers of floats: round((v - offset) * scale).
std::vector<int32_t> Quantise(const float* values, size_t count, float scale, float offset);

// What a decoder must produce for q: (float)q * (1 / scale) + offset, in
// single precision and unfused (a tiny positive offset below 1e-20 counts as 0).
float Dequantise(int32_t q, float scale, float offset);

struct SGZone {
    int32_t outputOffset = 0;
    std::vector<uint8_t> stream;
};
// Zone streams are stored back to back in the given order.
std::vector<uint8_t> SGZonedStream(const std::vector<SGZone>& zones);

// A whole grid channel (nx * ny * nz values) as one quantised stream, or as
// zones of `zoneSlices` slices each when that is non-zero.
struct SGGridOptions {
    float scale = 1024.0f;
    float offset = 0.0f;
    int passes = 1;
    int zoneSlices = 0;
    EntropyForm form = EntropyForm::Auto;
};
std::vector<uint8_t> SGGridStream(int nx, int ny, int nz, const float* values, const SGGridOptions& options);
// The values a decoder gives back for such a stream.
std::vector<float> SGGridDecoded(size_t count, const float* values, const SGGridOptions& options);

// Differencing as the encoder applies it (P passes over every axis), and its
// inverse as the decoder defines it: for pass k = P..1 and axis a, every
// line gets w[i] += w[i - 1] for i = k .. dims[a] - 1. Wrap-around arithmetic.
void DifferenceForward(std::vector<uint32_t>& w, const std::vector<int32_t>& dims, int passes);
void DifferenceInverse(std::vector<uint32_t>& w, const std::vector<int32_t>& dims, int passes);

// A smoke-like density field: a few soft puffs with value noise, zero
// outside them (about half the cells), values in [0, 2).
std::vector<float> MakeSmokeField(int nx, int ny, int nz, uint32_t seed);

}  // namespace KorTest
