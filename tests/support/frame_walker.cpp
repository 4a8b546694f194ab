#include "support/frame_walker.h"

#include <cstring>
#include <vector>

namespace KorTest {
namespace {

constexpr uint64_t kFnvBasis = 1469598103934665603ull;

struct Hasher {
    uint64_t h = kFnvBasis;
    void Bytes(const void* data, size_t size) {
        const auto* p = static_cast<const unsigned char*>(data);
        for (size_t i = 0; i < size; ++i) {
            h ^= p[i];
            h *= 1099511628211ull;
        }
    }
    template <class T>
    void Value(const T& v) {
        Bytes(&v, sizeof v);
    }
    // Never kFailedItem, so a failure stays distinguishable.
    uint64_t Result() const { return h == kFailedItem ? 1 : h; }
};

constexpr int kGridChannels = 32;
constexpr int kParticleChannels = 32;
constexpr int kIdChannel = 10;
constexpr int kMaxElementBytes = 16;

struct Walk {
    const WalkLimits& limits;
    FrameDigest& digest;
    Hasher& all;
    ItemLog* items;

    void Record(const std::string& item, uint64_t value) {
        all.Value(value);
        if (items) (*items)[item] = value;
    }

    void Group(int g, IOstrelPrtGroup* group) {
        const std::string prefix = "group " + std::to_string(g);
        const int count = group->GetNumParticles();
        const int64_t readable = count < limits.particlesPerGroup ? count : limits.particlesPerGroup;

        // What the group says about itself, before any channel is decoded.
        Hasher meta;
        const char* name = group->GetName();
        meta.Bytes(name ? name : "", name ? std::strlen(name) : 0);
        meta.Value(count);
        const int first = limits.outOfRangeIds ? -1 : 0;
        const int last = limits.outOfRangeIds ? kParticleChannels : kParticleChannels - 1;
        std::vector<int> present;
        for (int c = first; c <= last; ++c) {
            const int has = group->HasChannel(c);
            const int size = group->GetChannelSize(c);
            meta.Value(has);
            meta.Value(size);
            meta.Value(group->GetChannelType(c));
            meta.Value(group->GetChannelComponents(c));
            if (has && size >= 0 && size <= kMaxElementBytes) present.push_back(c);
        }
        Record(prefix, meta.Result());

        for (int c : present) {
            const int size = group->GetChannelSize(c);
            Hasher values;
            bool failed = false;
            unsigned char element[kMaxElementBytes];
            for (int64_t i = 0; i < readable; ++i) {
                std::memset(element, 0, sizeof element);
                if (group->GetParticleChannel(static_cast<int>(i), c, element)) {
                    values.Bytes(element, static_cast<size_t>(size));
                } else {
                    failed = true;
                    ++digest.particleReadsFailed;
                }
            }
            Record(prefix + " channel " + std::to_string(c), failed ? kFailedItem : values.Result());
        }

        // Every stored ID must be found again, at a particle holding that ID.
        bool idsFailed = false;
        if (group->HasChannel(kIdChannel) && group->GetChannelSize(kIdChannel) == 8) {
            for (int64_t i = 0; i < readable; ++i) {
                long long id = 0;
                if (!group->GetParticleChannel(static_cast<int>(i), kIdChannel, &id)) continue;
                const int found = group->FindParticleByID(id);
                long long again = 0;
                if (found < 0 || found >= count || !group->GetParticleChannel(found, kIdChannel, &again) ||
                    again != id) {
                    idsFailed = true;
                    ++digest.idLookupsFailed;
                }
            }
        }
        const long long unlikely[] = {-1, 0, 1, 0x7fffffffffffffffll, -0x7fffffffffffffffll - 1};
        for (long long id : unlikely) {
            const int found = group->FindParticleByID(id);
            if (found >= count) {
                idsFailed = true;
                ++digest.idLookupsFailed;
            }
        }
        Record(prefix + " ids", idsFailed ? kFailedItem : 1);
    }
};

}  // namespace

int64_t GridCells(IKor* frame) {
    int dims[3] = {0, 0, 0};
    frame->GetGridDim(dims);
    if (dims[0] <= 0 || dims[1] <= 0 || dims[2] <= 0) return 0;
    const unsigned __int128 cells = static_cast<unsigned __int128>(dims[0]) * static_cast<unsigned>(dims[1]) *
                                    static_cast<unsigned>(dims[2]);
    return cells > static_cast<unsigned __int128>(INT64_MAX) ? 0 : static_cast<int64_t>(cells);
}

FrameDigest WalkFrame(IKor* frame, const WalkLimits& limits, const int* channelOrder, ItemLog* items) {
    FrameDigest digest;
    if (frame == nullptr) return digest;
    Hasher all;
    Walk walk{limits, digest, all, items};

    Hasher header;
    int dims[3] = {0, 0, 0};
    frame->GetGridDim(dims);
    header.Value(dims);
    float transform[12];
    frame->GetTransform(transform);
    header.Value(transform);
    for (int c = 0; c < kGridChannels; ++c) header.Value(frame->HasChannel(c));
    if (limits.outOfRangeIds) {
        const int odd[] = {-1, 32, 64, -2147483647 - 1};
        for (int c : odd) {
            header.Value(frame->HasChannel(c));
            header.Value(frame->GetChannel(c) != nullptr);
        }
    }
    // The groups as they are before anything is decoded: a failed decode of
    // positions would hide a group from the indexed walk below.
    const int groups = frame->GetNumParticleGroups();
    header.Value(groups);
    std::vector<IOstrelPrtGroup*> groupList;
    for (int g = 0; g < groups; ++g) groupList.push_back(frame->GetParticleGroup(g));
    if (limits.outOfRangeIds) {
        header.Value(frame->GetParticleGroup(-1) != nullptr);
        header.Value(frame->GetParticleGroup(groups) != nullptr);
        header.Value(frame->GetParticleGroupByName(nullptr) != nullptr);
        header.Value(frame->GetParticleGroupByName("") != nullptr);
    }
    walk.Record("header", header.Result());

    // Decode in the order asked for (threads race on different orders), then
    // sum up in id order so that every order gives the same digest.
    const int64_t cells = GridCells(frame);
    for (int i = 0; i < kGridChannels; ++i) frame->GetChannel(channelOrder ? channelOrder[i] : i);
    for (int c = 0; c < kGridChannels; ++c) {
        const int has = frame->HasChannel(c);
        const float* values = frame->GetChannel(c);
        Hasher h;
        if (values != nullptr) {
            ++digest.channelsRead;
            h.Bytes(values, static_cast<size_t>(cells) * sizeof(float));
        } else if (has) {
            ++digest.channelsMissing;
        }
        walk.Record("grid " + std::to_string(c), values ? h.Result() : kFailedItem);
    }

    for (int g = 0; g < groups; ++g) {
        IOstrelPrtGroup* group = groupList[static_cast<size_t>(g)];
        if (group == nullptr) continue;
        ++digest.groups;
        // Lookup by name finds a group of that name (the first one, which
        // may be another group with the same name).
        all.Value(frame->GetParticleGroupByName(group->GetName()) != nullptr);
        walk.Group(g, group);
    }
    digest.hash = all.Result();
    return digest;
}

}  // namespace KorTest
