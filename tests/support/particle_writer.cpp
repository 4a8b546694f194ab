#include "support/particle_writer.h"

#include <cstring>

#include "support/kor_writer.h"

namespace KorTest {

Words FloatWords(const std::vector<float>& values) {
    Words words(values.size());
    if (!values.empty()) std::memcpy(words.data(), values.data(), values.size() * 4);
    return words;
}

Words Int64Words(const std::vector<int64_t>& values) {
    Words words(values.size() * 2);
    if (!values.empty()) std::memcpy(words.data(), values.data(), values.size() * 8);
    return words;
}

Bytes Int32Bytes(int32_t value) { return ByteWriter().Put(value).Get(); }

Bytes EncodePlain(const Words& elements) {
    return ByteWriter().PutBytes(elements.data(), elements.size() * 4).Get();
}

Bytes EncodeZip(const Words& elements) { return ZlibCompress(elements.data(), elements.size() * 4); }

Bytes RawSparseStream(const Words& values) {
    ByteWriter w;
    w.Put<uint16_t>(0xFC01).Put<uint8_t>(0).Put<int32_t>(static_cast<int32_t>(values.size()));
    return w.PutBytes(values.data(), values.size() * 4).Get();
}

Bytes ConstantSparseStream(int32_t count, float value) {
    return ByteWriter().Put<uint16_t>(0xFC01).Put<uint8_t>(1).Put(count).Put(value).Get();
}

Words ComponentMajor(const Words& e, int32_t count, int words) {
    Words t(e.size());
    for (int j = 0; j < words; ++j)
        for (int32_t i = 0; i < count; ++i) t[static_cast<size_t>(j) * count + i] = e[static_cast<size_t>(i) * words + j];
    return t;
}

Words BitPlanes(const Words& e, int32_t count, int words, bool padding) {
    const size_t planeWords = (static_cast<size_t>(count) + 31) / 32;
    Words planes(planeWords * 32 * words, 0);
    for (int j = 0; j < words; ++j)
        for (int b = 0; b < 32; ++b) {
            uint32_t* plane = planes.data() + (static_cast<size_t>(32 * j + b)) * planeWords;
            for (size_t i = 0; i < planeWords * 32; ++i) {
                const bool bit = i < static_cast<size_t>(count) ? ((e[i * words + j] >> b) & 1u) != 0 : padding;
                if (bit) plane[i / 32] |= 1u << (i % 32);
            }
        }
    return planes;
}

Bytes EncodeParticleChannel(uint32_t method, const Words& e, int32_t count, int words) {
    switch (method) {
        case 0:
            return EncodePlain(e);
        case 1:
            return EncodeZip(e);
        case 2:
            return RawSparseStream(e);
        case 3:
            return RawSparseStream(ComponentMajor(e, count, words));
        default: {
            const Words planes = BitPlanes(e, count, words);
            return ZlibCompress(planes.data(), planes.size() * 4);
        }
    }
}

Bytes DirectTokenBlock(const std::vector<int32_t>& tokens) {
    int32_t smallest = 0;
    for (size_t i = 0; i < tokens.size(); ++i)
        if (i == 0 || tokens[i] < smallest) smallest = tokens[i];
    // Bits least significant first: H = 32 (8 bits), M (32 bits), then one
    // 32-bit field per token, token − M.
    std::vector<uint32_t> fields;
    fields.push_back(static_cast<uint32_t>(smallest));
    for (int32_t t : tokens) fields.push_back(static_cast<uint32_t>(t) - static_cast<uint32_t>(smallest));
    Bytes bytes;
    bytes.push_back(32);
    for (uint32_t f : fields)
        for (int k = 0; k < 4; ++k) bytes.push_back(static_cast<uint8_t>(f >> (8 * k)));
    while (bytes.size() % 4) bytes.push_back(0);  // blocks are whole words
    return bytes;
}

Bytes IdDeltaBlock(const std::vector<int64_t>& ids) {
    std::vector<int32_t> tokens;
    for (size_t i = 0; i < ids.size(); ++i) {
        const uint64_t delta = static_cast<uint64_t>(ids[i]) - (i > 0 ? static_cast<uint64_t>(ids[i - 1]) : 0u);
        tokens.push_back(static_cast<int32_t>(static_cast<uint32_t>(delta)));
        tokens.push_back(static_cast<int32_t>(static_cast<uint32_t>(delta >> 32)));
    }
    return DirectTokenBlock(tokens);
}

Bytes GroupDirectoryChunk(const std::vector<DirectoryGroup>& groups, const std::array<float, 6>& box) {
    ByteWriter w;
    w.Put<int32_t>(static_cast<int32_t>(groups.size()));
    for (const DirectoryGroup& g : groups) w.PutString(g.name).Put(g.count).Put(g.mask).Put(g.attributes);
    for (float f : box) w.Put(f);
    return w.Get();
}

Bytes CompressedParticlesChunk(const std::vector<CompressedGroup>& groups) {
    ByteWriter w;
    w.Put<int32_t>(static_cast<int32_t>(groups.size()));
    for (const CompressedGroup& g : groups) {
        w.PutString(g.name).Put(g.attributes).Put(g.count).Put(g.value);
        w.Put<int32_t>(static_cast<int32_t>(g.channels.size()));
        for (const StoredChannel& c : g.channels)
            w.Put(c.id).Put(c.method).Put<int32_t>(static_cast<int32_t>(c.bytes.size())).PutBytes(c.bytes);
    }
    return w.Get();
}

SubRecord AttributeRecord(uint32_t attributes) { return {1, ByteWriter().Put(attributes).Get()}; }

SubRecord IdBlockRecord(const Bytes& block) {
    Bytes payload = Int32Bytes(static_cast<int32_t>(block.size()));
    payload.insert(payload.end(), block.begin(), block.end());
    return {2, payload};
}

SubRecord IdRecord(const std::vector<int64_t>& ids) { return IdBlockRecord(IdDeltaBlock(ids)); }

SubRecord ValueRecord(int64_t value) { return {3, ByteWriter().Put(value).Get()}; }

namespace {
// The words of channel `id` as a section stores them.
Words SectionWords(const Words& elements, int32_t count, int id, bool compressed) {
    if (!compressed) return elements;
    static const int kWords[15] = {3, 3, 1, 1, 3, 1, 0, 0, 0, 1, 2, 1, 1, 1, 1};
    const int words = id >= 0 && id <= 14 ? kWords[id] : 1;
    Bytes stream = RawSparseStream(ComponentMajor(elements, count, words));
    while (stream.size() % 4) stream.push_back(0);
    Words out(stream.size() / 4);
    std::memcpy(out.data(), stream.data(), stream.size());
    return out;
}
}  // namespace

Bytes ParticleSection(const std::vector<SectionGroup>& groups, bool compressed) {
    Words data;
    std::vector<std::array<int32_t, 32>> offsets;
    for (const SectionGroup& g : groups) {
        std::array<int32_t, 32> o;
        o.fill(-1);
        for (const auto& [id, elements] : g.channels) {
            if (id < 0 || id >= 32) continue;
            o[id] = static_cast<int32_t>(data.size());
            const Words stored = SectionWords(elements, g.count, id, compressed);
            data.insert(data.end(), stored.begin(), stored.end());
        }
        for (const auto& [id, offset] : g.offsetOverrides) o[id] = offset;
        offsets.push_back(o);
    }
    ByteWriter w;
    w.Put<int32_t>(static_cast<int32_t>(data.size())).PutBytes(data.data(), data.size() * 4);
    w.Put<int32_t>(static_cast<int32_t>(groups.size()));
    for (size_t k = 0; k < groups.size(); ++k) {
        const SectionGroup& g = groups[k];
        w.PutString(g.name).Put(g.count);
        for (int32_t o : offsets[k]) w.Put(o);
        for (const SubRecord& r : g.records) w.Put(r.tag).PutBytes(r.payload);
        w.Put<int32_t>(0);
    }
    return w.Get();
}

namespace {
Words Ramp(size_t n, float step) {
    std::vector<float> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = step * static_cast<float>(i % 37);
    return FloatWords(v);
}
}  // namespace

Bytes ParticleChunksFrame() {
    const int32_t n = 45;
    std::vector<int64_t> ids(n);
    for (int32_t i = 0; i < n; ++i) ids[i] = (i * 17) % n - 5;
    CompressedGroup g{"chunks", 0, n, 99, {}};
    const int channels[] = {0, 1, 2, 3, 4, 10, 13};
    for (int k = 0; k < 7; ++k) {
        const int id = channels[k];
        const int words = id == 2 || id == 3 || id == 13 ? 1 : id == 10 ? 2 : 3;
        const Words e = id == 10 ? Int64Words(ids) : Ramp(static_cast<size_t>(n) * words, 0.25f);
        g.channels.push_back({id, static_cast<uint32_t>(k % 5), EncodeParticleChannel(k % 5, e, n, words)});
    }
    KorWriter w;
    w.Grid(2, 2, 2)
        .Chunk(1000, GroupDirectoryChunk({{"chunks", n, 0x2C1F, 0}}, {0, 0, 0, 9, 9, 9}))
        .AfterChunk(Int32Bytes(100000))
        .Chunk(1002, CompressedParticlesChunk({g}));
    return w.Build();
}

Bytes ParticleSectionsFrame() {
    SectionGroup plain;
    plain.name = "plain";
    plain.count = 6;
    plain.channels = {{0, Ramp(18, 0.5f)}, {3, Ramp(6, 1.0f)}, {20, Ramp(6, 2.0f)}};
    plain.records = {IdRecord({4, 8, 2, 6, 10, 12}), ValueRecord(5)};
    SectionGroup packed;
    packed.name = "packed";
    packed.count = 4;
    packed.channels = {{0, Ramp(12, 0.75f)}, {4, Ramp(12, 0.1f)}};
    packed.records = {AttributeRecord(0x30000), IdRecord({1, 2, 3, 4})};
    std::vector<float> velocity(8, 0.5f);
    KorWriter w;
    w.Grid(2, 2, 2)
        .Channel(4, RawSparseStream(FloatWords(velocity)))
        .Channel(5, RawSparseStream(FloatWords(velocity)))
        .Channel(6, RawSparseStream(FloatWords(velocity)))
        .Record(7, ParticleSection({plain}, false))
        .Record(13, ParticleSection({plain, packed}, true));
    return w.Build();
}

}  // namespace KorTest
