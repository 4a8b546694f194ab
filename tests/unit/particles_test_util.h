// Helpers shared by the particle unit tests: groups filled from the test
// encoders, and elements read back.
#pragma once
#include <cstring>
#include <vector>

#include "particles/pgroup.h"
#include "support/particle_writer.h"

namespace ParticleTest {

inline PGroup::Bytes ToBytes(const KorTest::Bytes& bytes) {
    PGroup::Bytes out;
    out.SetSize(static_cast<int64_t>(bytes.size()), nullptr, true);
    if (!bytes.empty()) std::memcpy(out.Data(), bytes.data(), bytes.size());
    return out;
}

// Stores `elements` in channel `channel` of `group`, encoded with `method`.
inline void Store(PGroup& group, int channel, uint32_t method, const KorTest::Words& elements) {
    const int words = KorParticles::WordsOf(channel);
    group.SetCompressedChannel(channel, method,
                               ToBytes(KorTest::EncodeParticleChannel(method, elements, group.particleCount, words)));
}

// Every element of a channel, read through the host interface.
inline KorTest::Words ReadAll(PGroup& group, int channel) {
    const int words = KorParticles::WordsOf(channel);
    KorTest::Words out(static_cast<size_t>(group.particleCount) * words);
    for (int i = 0; i < group.particleCount; ++i)
        if (!group.GetParticleChannel(i, channel, out.data() + static_cast<size_t>(i) * words)) return {};
    return out;
}

// A deterministic pseudo-random word sequence.
inline KorTest::Words Pattern(size_t n, uint32_t seed) {
    KorTest::Words w(n);
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t& v : w) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v = x;
    }
    return w;
}

}  // namespace ParticleTest
