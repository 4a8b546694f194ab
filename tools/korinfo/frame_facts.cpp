#include "frame_facts.h"

#include <cmath>
#include <cstring>
#include <limits>

#include "frame/channel_directory.h"
#include "frame/ostrel_frame_data.h"
#include "korloader/korloader.h"
#include "particles/pgroup.h"

namespace KorInfo {

namespace {

bool IsGridChannel(int id) { return id >= 0 && id < KOR_GRID_CHANNEL_COUNT; }

ChannelStats StatsOf(const float* values, int64_t cells) {
    ChannelStats stats;
    if (cells <= 0) return stats;
    float lo = INFINITY, hi = -INFINITY;
    double sum = 0;
    int64_t nonZero = 0;
    for (int64_t n = 0; n < cells; ++n) {
        const float v = values[n];
        lo = std::fmin(lo, v);
        hi = std::fmax(hi, v);
        sum += v;
        nonZero += v != 0.0f;
    }
    stats.min = lo;
    stats.max = hi;
    stats.mean = sum / static_cast<double>(cells);
    stats.nonZero = nonZero;
    return stats;
}

// Decodes the channel when asked to say whether it decodes or to measure it.
void CheckDecoded(OstrelFrameData& frame, ChannelFacts& facts, const GatherOptions& options) {
    if (!options.checkDecodes && !options.stats) return;
    const float* values = frame.GetChannel(facts.id);
    facts.decodes = values != nullptr;
    if (options.stats && values != nullptr) facts.stats = StatsOf(values, frame.CellCount());
}

void GatherStoredChannels(OstrelFrameData& frame, FrameFacts& facts, const GatherOptions& options) {
    KorFrame::WalkChannelRecords(frame.compressedBlock, frame.compressedLength,
                                 [&](int32_t id, const uint8_t*, size_t bytes, bool complete) {
                                     ChannelFacts channel;
                                     channel.id = id;
                                     channel.storedBytes = static_cast<int64_t>(bytes);
                                     channel.complete = complete;
                                     if (IsGridChannel(id) && frame.rangeMax[id] >= frame.rangeMin[id])
                                         channel.range = Range{frame.rangeMin[id], frame.rangeMax[id]};
                                     // Packed colour is never handed out: it is decoded as colour.r, .g and .b.
                                     if (IsGridChannel(id) && id != KOR_GRID_PACKED_COLOUR)
                                         CheckDecoded(frame, channel, options);
                                     facts.channels.push_back(channel);
                                     return true;
                                 });
    // Channels made from others: colour from packed colour, speed from velocity.
    for (int id : {KOR_GRID_COLOUR_R, KOR_GRID_COLOUR_G, KOR_GRID_COLOUR_B, KOR_GRID_SPEED}) {
        if (!frame.HasChannel(id) || (frame.channelMask & (1u << id))) continue;
        ChannelFacts channel;
        channel.id = id;
        channel.source = ChannelSource::Derived;
        CheckDecoded(frame, channel, options);
        facts.channels.push_back(channel);
    }
}

// An import module hands over decoded arrays: their ranges cost no decode.
void GatherImportedChannels(OstrelFrameData& frame, FrameFacts& facts, const GatherOptions& options) {
    const int64_t cells = frame.CellCount();
    for (int id = 0; id < KOR_GRID_CHANNEL_COUNT; ++id) {
        const float* values = frame.channels[id];
        if (values == nullptr) continue;
        ChannelFacts channel;
        channel.id = id;
        channel.source = ChannelSource::Imported;
        const ChannelStats stats = StatsOf(values, cells);
        channel.range = Range{stats.min, stats.max};
        channel.decodes = true;
        if (options.stats) channel.stats = stats;
        facts.channels.push_back(channel);
    }
    if (frame.HasChannel(KOR_GRID_SPEED) && frame.channels[KOR_GRID_SPEED] == nullptr) {
        ChannelFacts channel;
        channel.id = KOR_GRID_SPEED;
        channel.source = ChannelSource::Derived;
        CheckDecoded(frame, channel, options);
        facts.channels.push_back(channel);
    }
}

// Per-component minimum and maximum of `count` elements laid out as the
// channel says: 32-bit floats or unsigned words, or one 64-bit integer.
void ElementRange(const uint8_t* data, int count, const ParticleChannelFacts& channel, std::vector<double>& min,
                  std::vector<double>& max) {
    const bool wide = channel.type == KOR_TYPE_INT64;
    const int components = wide ? 1 : channel.elementBytes / 4;
    if (components <= 0 || (wide && channel.elementBytes < 8)) return;
    min.assign(static_cast<size_t>(components), std::numeric_limits<double>::infinity());
    max.assign(static_cast<size_t>(components), -std::numeric_limits<double>::infinity());
    for (int i = 0; i < count; ++i) {
        const uint8_t* element = data + static_cast<size_t>(i) * static_cast<size_t>(channel.elementBytes);
        for (int c = 0; c < components; ++c) {
            double value = 0;
            if (wide) {
                int64_t v = 0;
                std::memcpy(&v, element, sizeof v);
                value = static_cast<double>(v);
            } else if (channel.type == KOR_TYPE_FLOAT) {
                float v = 0;
                std::memcpy(&v, element + 4 * c, sizeof v);
                value = v;
            } else {
                uint32_t v = 0;
                std::memcpy(&v, element + 4 * c, sizeof v);
                value = v;
            }
            min[static_cast<size_t>(c)] = std::fmin(min[static_cast<size_t>(c)], value);
            max[static_cast<size_t>(c)] = std::fmax(max[static_cast<size_t>(c)], value);
        }
    }
}

void DecodedParticleRange(PGroup& group, ParticleChannelFacts& channel) {
    const int count = group.particleCount;
    if (count <= 0 || channel.elementBytes <= 0) return;
    if (channel.storage == ParticleStorage::GridVelocity) {
        std::vector<float> sampled(static_cast<size_t>(count) * 3);
        for (int i = 0; i < count; ++i) {
            if (!group.GetParticleChannel(i, KOR_PARTICLE_VELOCITY, &sampled[static_cast<size_t>(i) * 3])) {
                channel.decodes = false;
                return;
            }
        }
        channel.decodes = true;
        ElementRange(reinterpret_cast<const uint8_t*>(sampled.data()), count, channel, channel.min, channel.max);
        return;
    }
    const uint8_t* data = group.ElementPointer(channel.id, 0);
    channel.decodes = data != nullptr;
    if (data != nullptr) ElementRange(data, count, channel, channel.min, channel.max);
}

GroupFacts GatherGroup(PGroup& group, const GatherOptions& options) {
    GroupFacts facts;
    facts.name = group.GetName();
    facts.particleCount = group.particleCount;
    facts.channelMask = group.channelMask;
    facts.attributes = group.attributes;
    facts.hasPositions = group.HasChannel(KOR_PARTICLE_POSITION) != 0;
    facts.detailed = !options.group.empty() && facts.name == options.group;
    for (int c = 0; c < KOR_PARTICLE_CHANNEL_COUNT; ++c) {
        if (!group.HasChannel(c)) continue;
        ParticleChannelFacts channel;
        channel.id = c;
        channel.elementBytes = group.GetChannelSize(c);
        channel.components = group.GetChannelComponents(c);
        channel.type = group.GetChannelType(c);
        channel.storedBytes = group.CompressedSize(c);
        channel.method = group.Method(c);
        if (channel.storedBytes == 0 && group.DecodedSize(c) == 0 && c == KOR_PARTICLE_VELOCITY)
            channel.storage = ParticleStorage::GridVelocity;
        else if (channel.storedBytes <= 0)
            channel.storage = ParticleStorage::DecodedAtLoad;
        if (facts.detailed)
            DecodedParticleRange(group, channel);
        else if (options.checkDecodes && channel.storage != ParticleStorage::GridVelocity)
            channel.decodes = group.decompressChannel(c, true);
        facts.channels.push_back(std::move(channel));
    }
    if ((options.checkDecodes || facts.detailed) && group.HasChannel(KOR_PARTICLE_ID) && group.particleCount > 0) {
        const int64_t* ids = group.DecodedIds();
        if (ids != nullptr) {
            facts.firstId = ids[0];
            facts.lastId = ids[group.particleCount - 1];
        }
    }
    return facts;
}

}  // namespace

const ChannelFacts* FrameFacts::Channel(int id) const {
    for (const ChannelFacts& channel : channels)
        if (channel.id == id) return &channel;
    return nullptr;
}

const GroupFacts* FrameFacts::Group(const std::string& name) const {
    for (const GroupFacts& group : groups)
        if (group.name == name) return &group;
    return nullptr;
}

std::string GridChannelLabel(int id) {
    const char* name = korGridChannelName(id);
    return name[0] != '\0' ? name : std::to_string(id);
}

FrameFacts GatherFacts(LoadedFrame& loaded, const std::string& path, const GatherOptions& options) {
    OstrelFrameData& frame = *loaded.frame;
    FrameFacts facts;
    facts.path = path;
    facts.format = loaded.format;
    facts.formatVersion = frame.formatVersion;
    facts.frameNumber = frame.frameNumber;
    std::memcpy(&facts.time, frame.simInfo + 8, sizeof facts.time);
    facts.timeStep = frame.timeStep;
    facts.backup = (frame.flags & 1) != 0;
    facts.dims[0] = frame.nx;
    facts.dims[1] = frame.ny;
    facts.dims[2] = frame.nz;
    facts.cells = frame.CellCount();
    std::memcpy(facts.transform, frame.transform, sizeof facts.transform);
    facts.channelMask = frame.channelMask;
    if (loaded.format == FileFormat::Kor)
        GatherStoredChannels(frame, facts, options);
    else
        GatherImportedChannels(frame, facts, options);
    facts.info = frame.infoText.c_str();
    facts.grids = loaded.grids;
    facts.mapping = loaded.mapping;
    facts.groupsWithPositions = frame.GetNumParticleGroups();
    for (PGroup& group : frame.groups) {
        facts.groups.push_back(GatherGroup(group, options));
        facts.particles += group.GetNumParticles();
    }
    return facts;
}

}  // namespace KorInfo
