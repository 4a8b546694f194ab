#include "support/kor_writer.h"

#include <algorithm>
#include <cstdlib>

namespace KorTest {

Bytes PackedColourBody(const Bytes& bgra) {
    const Bytes stream = ZlibCompress(bgra.data(), bgra.size());
    ByteWriter body;
    body.Put<int64_t>(static_cast<int64_t>(stream.size())).PutBytes(stream).PadTo(4);
    return body.Get();
}

KorWriter& KorWriter::Mask(uint32_t mask) {
    mask_ = mask;
    return *this;
}
KorWriter& KorWriter::GridTransform(const Transform& t) {
    transform_ = t;
    return *this;
}
KorWriter& KorWriter::Grid(int32_t nx, int32_t ny, int32_t nz) {
    grid_ = std::array<int32_t, 3>{nx, ny, nz};
    return *this;
}
KorWriter& KorWriter::Channel(int32_t id, const Bytes& body) {
    Bytes padded = body;
    while (padded.size() % 4) padded.push_back(0);
    channels_.emplace_back(id, std::move(padded));
    return *this;
}
KorWriter& KorWriter::GridChannel(int32_t id, const std::vector<float>& values, const SGGridOptions& options) {
    const std::array<int32_t, 3> dims = grid_.value_or(std::array<int32_t, 3>{0, 0, 0});
    if (values.size() != static_cast<size_t>(dims[0]) * dims[1] * dims[2]) std::abort();  // one value per cell
    return Channel(id, SGGridStream(dims[0], dims[1], dims[2], values.data(), options));
}
KorWriter& KorWriter::RawChannelBlock(const std::vector<int32_t>& words) {
    rawBlock_ = words;
    return *this;
}

namespace {
template <class... T>
Bytes Payload(T... values) {
    ByteWriter w;
    (w.Put(values), ...);
    return w.Get();
}
Bytes TransformBytes(const Transform& t) {
    ByteWriter w;
    w.PutBytes(t.data(), sizeof(float) * 12);
    return w.Get();
}
}  // namespace

KorWriter& KorWriter::FrameNumber(int32_t frame) {
    known_.push_back({4, Payload(frame)});
    return *this;
}
KorWriter& KorWriter::TimeStep(float seconds) {
    known_.push_back({5, Payload(seconds)});
    return *this;
}
KorWriter& KorWriter::AuxTransform(const Transform& t) {
    known_.push_back({6, TransformBytes(t)});
    return *this;
}
KorWriter& KorWriter::Time(float time) {
    known_.push_back({8, Payload(time)});
    return *this;
}
KorWriter& KorWriter::Tag9(int32_t value, float f) {
    known_.push_back({9, Payload(value, f)});
    return *this;
}
KorWriter& KorWriter::Times(double first, double second) {
    known_.push_back({10, Payload(first, second)});
    return *this;
}
KorWriter& KorWriter::AuxTransforms(const Transform& a, const Transform& b, const Transform& c, uint64_t extra) {
    ByteWriter w;
    w.PutBytes(TransformBytes(a)).PutBytes(TransformBytes(b)).PutBytes(TransformBytes(c)).Put(extra);
    known_.push_back({11, w.Get()});
    return *this;
}
KorWriter& KorWriter::SimInfo(const Bytes& block) {
    ByteWriter w;
    w.PutString(std::string(block.begin(), block.end()));
    known_.push_back({12, w.Get()});
    return *this;
}
KorWriter& KorWriter::Record(int32_t tag, const Bytes& payload) {
    extra_.push_back({tag, payload});
    return *this;
}
KorWriter& KorWriter::EndTag(int32_t tag) {
    endTag_ = tag;
    return *this;
}
KorWriter& KorWriter::Version(int32_t version) {
    version_ = version;
    return *this;
}
KorWriter& KorWriter::NoTrailer() {
    trailer_ = false;
    return *this;
}
KorWriter& KorWriter::InfoText(const std::string& text) {
    ByteWriter w;
    w.PutString(text);
    return Chunk(1001, w.Get());
}
KorWriter& KorWriter::ChannelRanges(const std::vector<ChannelRange>& ranges) {
    ByteWriter w;
    w.Put<int32_t>(static_cast<int32_t>(ranges.size()));
    for (const ChannelRange& r : ranges) w.Put(r.channel).Put(r.minimum).Put(r.maximum);
    return Chunk(1003, w.Get());
}
KorWriter& KorWriter::Chunk(int32_t id, const Bytes& payload, std::optional<int64_t> declaredSize) {
    chunks_.push_back({id, payload, declaredSize, {}});
    return *this;
}
KorWriter& KorWriter::AfterChunk(const Bytes& bytes) {
    if (!chunks_.empty()) chunks_.back().after = bytes;
    return *this;
}
KorWriter& KorWriter::NoEndOfChunks() {
    endOfChunks_ = false;
    return *this;
}
KorWriter& KorWriter::DataOffset(int64_t offset) {
    dataOffset_ = offset;
    return *this;
}

Bytes KorWriter::Build() const {
    ByteWriter out;
    out.PutBytes("KORA", 4);

    uint32_t mask = 0;
    for (const auto& channel : channels_) mask |= 1u << (static_cast<uint32_t>(channel.first) & 31u);
    if (mask_ || !channels_.empty()) out.Put<int32_t>(1).Put<uint32_t>(mask_ ? *mask_ : mask);
    if (transform_) out.Put<int32_t>(2).PutBytes(TransformBytes(*transform_));
    if (grid_ || rawBlock_ || !channels_.empty()) {
        const std::array<int32_t, 3> dims = grid_ ? *grid_ : std::array<int32_t, 3>{0, 0, 0};
        ByteWriter block;
        if (rawBlock_) {
            block.PutBytes(rawBlock_->data(), rawBlock_->size() * 4);
        } else {
            for (const auto& [id, body] : channels_)
                block.Put<int32_t>(id).Put<int32_t>(static_cast<int32_t>(body.size() / 4)).PutBytes(body);
        }
        out.Put<int32_t>(3).Put(dims[0]).Put(dims[1]).Put(dims[2]);
        out.Put<int32_t>(static_cast<int32_t>(block.Size() / 4)).PutBytes(block.Get());
    }
    std::vector<Item> known = known_;
    std::stable_sort(known.begin(), known.end(), [](const Item& a, const Item& b) { return a.tag < b.tag; });
    for (const Item& item : known) out.Put(item.tag).PutBytes(item.payload);
    for (const Item& item : extra_) out.Put(item.tag).PutBytes(item.payload);
    out.Put<int32_t>(endTag_);
    if (!trailer_) return out.Get();

    const int64_t dataOffset = static_cast<int64_t>(out.Size());
    out.Put<int32_t>(13);  // the marker the data offset points at
    for (const ChunkItem& chunk : chunks_) {
        out.Put(chunk.id);
        const int64_t size = chunk.declaredSize ? *chunk.declaredSize : static_cast<int64_t>(chunk.payload.size());
        if (version_ >= 4)
            out.Put<int64_t>(size);
        else
            out.Put<int32_t>(static_cast<int32_t>(size));
        out.PutBytes(chunk.payload).PutBytes(chunk.after);
    }
    if (endOfChunks_) out.Put<int32_t>(9999999);
    const int64_t offset = dataOffset_ ? *dataOffset_ : dataOffset;
    if (version_ >= 4)
        out.Put<int64_t>(offset);
    else
        out.Put<int32_t>(static_cast<int32_t>(offset));
    out.Put<int32_t>(version_).PutBytes("KORA2OST", 8);
    return out.Get();
}

}  // namespace KorTest
