// Test-only encoders of particle data: the five channel methods (with the
// bit-plane array of method 4), the group directory (chunk 1000), compressed
// particle data (chunk 1002), the tagged particle sections 7 and 13 with
// their sub-records, and entropy blocks of particle ID deltas. Element arrays
// are 32-bit words, particle-major (the words of particle i start at i·W).
//
// Plug the payloads into a KorWriter:
//   w.Chunk(1000, GroupDirectoryChunk(groups, box)).AfterChunk(Int32Bytes(100000));
//   w.Chunk(1002, CompressedParticlesChunk(groups));
//   w.Record(7, ParticleSection(sectionGroups, false));
#pragma once
#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/byte_writer.h"

namespace KorTest {

using Words = std::vector<uint32_t>;

// Words of floats / 64-bit values, for building element arrays.
Words FloatWords(const std::vector<float>& values);
Words Int64Words(const std::vector<int64_t>& values);
Bytes Int32Bytes(int32_t value);

// --- Channel methods.
Bytes EncodePlain(const Words& elements);  // 0
Bytes EncodeZip(const Words& elements);    // 1
// An SGCompressor<1> stream in its raw form (tag 0xFC01, form 0, N, floats).
Bytes RawSparseStream(const Words& values);
// A constant-form stream: N copies of `value`.
Bytes ConstantSparseStream(int32_t count, float value);
// t[j·n + i] = e[i·W + j].
Words ComponentMajor(const Words& elements, int32_t count, int words);
// The bit-plane array of method 4 (32·W planes of ceil(n/32) words); bits of
// particles n and above are set to `padding` to show they are never read.
Words BitPlanes(const Words& elements, int32_t count, int words, bool padding = false);
// Any method 0..4 (2 and 3 as raw-form streams).
Bytes EncodeParticleChannel(uint32_t method, const Words& elements, int32_t count, int words);

// --- Particle IDs.
// An entropy block in the direct form with 32-bit fields holding `tokens`.
Bytes DirectTokenBlock(const std::vector<int32_t>& tokens);
// The ID bytes of sub-tag 2: the deltas of `ids`, two tokens per particle,
// low word first.
Bytes IdDeltaBlock(const std::vector<int64_t>& ids);

// --- Chunk 1000 (without the int32 100000 that follows it).
struct DirectoryGroup {
    std::string name;
    int32_t count = 0;
    uint32_t mask = 0;
    uint32_t attributes = 0;
};
Bytes GroupDirectoryChunk(const std::vector<DirectoryGroup>& groups, const std::array<float, 6>& box);

// --- Chunk 1002.
struct StoredChannel {
    int32_t id = 0;
    uint32_t method = 0;
    Bytes bytes;
};
struct CompressedGroup {
    std::string name;
    uint32_t attributes = 0;
    int32_t count = 0;
    int64_t value = 0;
    std::vector<StoredChannel> channels;
};
Bytes CompressedParticlesChunk(const std::vector<CompressedGroup>& groups);

// --- Tagged sections 7 (plain) and 13 (sparse-grid, component-major).
struct SubRecord {
    int32_t tag = 0;
    Bytes payload;
};
SubRecord AttributeRecord(uint32_t attributes);         // 1
SubRecord IdRecord(const std::vector<int64_t>& ids);    // 2
SubRecord IdBlockRecord(const Bytes& block);            // 2, any bytes
SubRecord ValueRecord(int64_t value);                   // 3
struct SectionGroup {
    std::string name;
    int32_t count = 0;
    std::map<int, Words> channels;  // particle-major element words by id
    std::vector<SubRecord> records;
    // Replaces the written offset of a channel (hostile files); -1 absent.
    std::map<int, int32_t> offsetOverrides;
};
Bytes ParticleSection(const std::vector<SectionGroup>& groups, bool compressed);

// --- Whole sample frames (seeds and tests): a newer frame with a group
// directory and one channel per method, and an older one with both tagged
// sections, IDs in and out of order, and a group marked for grid velocity.
Bytes ParticleChunksFrame();
Bytes ParticleSectionsFrame();

}  // namespace KorTest
