#include "particle_reader.h"

#include <cmath>
#include <cstring>

#include "korloader/korloader.h"

namespace Kor2Vdb {

namespace {

// Cell coordinates beyond this cannot be placed in OpenVDB's 32-bit index space.
constexpr float kMaxCellCoordinate = 1 << 30;

std::string AttributeName(int channel) {
    switch (channel) {
        case KOR_PARTICLE_VELOCITY: return "v";
        case KOR_PARTICLE_SIZE: return "pscale";
        case KOR_PARTICLE_AGE: return "age";
        case KOR_PARTICLE_COLOUR: return "Cd";
        case KOR_PARTICLE_ID: return "id";
        default: return "channel_" + std::to_string(channel);
    }
}

std::string ChannelLabel(IOstrelPrtGroup& group, int channel) {
    const char* known = korParticleChannelName(channel);
    return std::string("particle channel ") + (*known ? known : AttributeName(channel)) + " (" +
           std::to_string(channel) + ") of group '" + group.GetName() + "'";
}

// How an element of the channel is carried, by its type code and layout.
bool KindOf(IOstrelPrtGroup& group, int channel, ParticleAttribute::Kind* kind) {
    const int type = group.GetChannelType(channel), components = group.GetChannelComponents(channel),
              size = group.GetChannelSize(channel);
    if (type == KOR_TYPE_FLOAT && components == 1 && size == 4)
        *kind = ParticleAttribute::Kind::Float;
    else if (type == KOR_TYPE_FLOAT && components == 3 && size == 12)
        *kind = ParticleAttribute::Kind::Vec3;
    else if ((type == KOR_TYPE_INT64 && size == 8) || (type == KOR_TYPE_UINT32 && size == 4))
        *kind = ParticleAttribute::Kind::Int64;  // unsigned 32-bit values fit
    else if (type == KOR_TYPE_NONE && size == 4)
        *kind = ParticleAttribute::Kind::Int32;  // raw words, bit for bit
    else
        return false;
    return true;
}

bool ValidPosition(const float p[3]) {
    for (int a = 0; a < 3; ++a)
        if (!(std::fabs(p[a]) < kMaxCellCoordinate)) return false;  // NaN fails too
    return true;
}

}  // namespace

GroupReadResult ReadParticleGroup(IOstrelPrtGroup& group, ParticleGroupData& out) {
    GroupReadResult result;
    out.name = group.GetName();
    const int count = group.GetNumParticles();
    // Positions first: they decide which particles are carried.
    std::vector<int> kept;
    kept.reserve(static_cast<size_t>(count));
    out.positions.reserve(3 * static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        float p[3];
        if (!group.GetParticleChannel(i, KOR_PARTICLE_POSITION, p)) {
            result.badChannels.push_back(ChannelLabel(group, KOR_PARTICLE_POSITION));
            result.positions = false;
            out.positions.clear();
            return result;
        }
        if (!ValidPosition(p)) continue;
        kept.push_back(i);
        out.positions.insert(out.positions.end(), p, p + 3);
    }
    if (kept.size() < static_cast<size_t>(count))
        result.notes.push_back("left out " + std::to_string(count - kept.size()) + " particles of group '" +
                               out.name + "': their positions are not finite or lie beyond 2^30 cells");

    for (int channel = 1; channel < KOR_PARTICLE_CHANNEL_COUNT; ++channel) {
        if (!group.HasChannel(channel)) continue;
        ParticleAttribute a;
        a.name = AttributeName(channel);
        if (group.GetChannelSize(channel) == 0) continue;  // no layout: nothing per particle
        if (!KindOf(group, channel, &a.kind)) {
            result.notes.push_back("left out " + ChannelLabel(group, channel) + ": its layout (type " +
                                   std::to_string(group.GetChannelType(channel)) + ", " +
                                   std::to_string(group.GetChannelSize(channel)) + " bytes) has no OpenVDB type");
            continue;
        }
        const bool unsigned32 = group.GetChannelType(channel) == KOR_TYPE_UINT32;
        bool decoded = true;
        for (size_t n = 0; n < kept.size() && decoded; ++n) {
            unsigned char element[16] = {};
            decoded = group.GetParticleChannel(kept[n], channel, element) != 0;
            float f[3];
            switch (a.kind) {
                case ParticleAttribute::Kind::Float:
                case ParticleAttribute::Kind::Vec3:
                    std::memcpy(f, element, a.kind == ParticleAttribute::Kind::Vec3 ? 12 : 4);
                    a.floats.insert(a.floats.end(), f, f + (a.kind == ParticleAttribute::Kind::Vec3 ? 3 : 1));
                    break;
                case ParticleAttribute::Kind::Int32: {
                    int32_t v;
                    std::memcpy(&v, element, 4);
                    a.int32s.push_back(v);
                    break;
                }
                case ParticleAttribute::Kind::Int64: {
                    int64_t v;
                    if (unsigned32) {
                        uint32_t u;
                        std::memcpy(&u, element, 4);
                        v = u;
                    } else {
                        std::memcpy(&v, element, 8);
                    }
                    a.int64s.push_back(v);
                    break;
                }
            }
        }
        if (!decoded) {
            result.badChannels.push_back(ChannelLabel(group, channel));
            continue;
        }
        out.attributes.push_back(std::move(a));
    }
    return result;
}

}  // namespace Kor2Vdb
