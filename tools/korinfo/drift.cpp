#include "drift.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>

namespace KorInfo {

namespace {

// Stored channels only: derived ones follow the channels they come from.
std::vector<const ChannelFacts*> StoredChannels(const FrameFacts& facts) {
    std::vector<const ChannelFacts*> channels;
    for (const ChannelFacts& channel : facts.channels)
        if (channel.source != ChannelSource::Derived) channels.push_back(&channel);
    return channels;
}

const ChannelFacts* FindStored(const FrameFacts& facts, int id) {
    for (const ChannelFacts* channel : StoredChannels(facts))
        if (channel->id == id) return channel;
    return nullptr;
}

std::optional<Range> KnownRange(const ChannelFacts& channel) {
    if (channel.stats) return Range{channel.stats->min, channel.stats->max};
    return channel.range;
}

double Magnitude(const Range& range) { return std::fmax(std::fabs(range.min), std::fabs(range.max)); }

std::string Dims(const FrameFacts& facts) {
    return std::to_string(facts.dims[0]) + "x" + std::to_string(facts.dims[1]) + "x" + std::to_string(facts.dims[2]);
}

// Equal values (0 equals -0, NaN equals NaN).
bool SameValues(const float* a, const float* b, int count) {
    for (int i = 0; i < count; ++i)
        if (!(a[i] == b[i]) && !(std::isnan(a[i]) && std::isnan(b[i]))) return false;
    return true;
}

std::string Offset(const FrameFacts& facts) {
    char text[96];
    std::snprintf(text, sizeof text, "(%g, %g, %g)", facts.transform[9], facts.transform[10], facts.transform[11]);
    return text;
}

std::string RangeText(const Range& range) {
    char text[80];
    std::snprintf(text, sizeof text, "[%g, %g]", range.min, range.max);
    return text;
}

}  // namespace

const char* DriftKindName(DriftKind kind) {
    switch (kind) {
        case DriftKind::Grid: return "grid";
        case DriftKind::Transform: return "transform";
        case DriftKind::ChannelAppears: return "channel_appears";
        case DriftKind::ChannelDisappears: return "channel_disappears";
        case DriftKind::Range: return "range";
    }
    return "";
}

std::vector<DriftWarning> FindDrift(const FrameFacts& before, int previousFrame, const FrameFacts& after, int frame,
                                    double factor) {
    std::vector<DriftWarning> warnings;
    const auto warn = [&](DriftKind kind, int channel, std::string text) {
        warnings.push_back({frame, previousFrame, kind, channel, std::move(text)});
    };
    if (std::memcmp(before.dims, after.dims, sizeof before.dims) != 0)
        warn(DriftKind::Grid, -1, "grid " + Dims(before) + " -> " + Dims(after));
    if (!SameValues(before.transform, after.transform, 9))
        warn(DriftKind::Transform, -1, "transform axes change");
    else if (!SameValues(before.transform + 9, after.transform + 9, 3))
        warn(DriftKind::Transform, -1, "transform offset " + Offset(before) + " -> " + Offset(after));
    for (const ChannelFacts* channel : StoredChannels(after))
        if (FindStored(before, channel->id) == nullptr)
            warn(DriftKind::ChannelAppears, channel->id, "channel " + GridChannelLabel(channel->id) + " appears");
    for (const ChannelFacts* channel : StoredChannels(before)) {
        const ChannelFacts* now = FindStored(after, channel->id);
        if (now == nullptr) {
            warn(DriftKind::ChannelDisappears, channel->id, "channel " + GridChannelLabel(channel->id) + " disappears");
            continue;
        }
        const std::optional<Range> was = KnownRange(*channel), is = KnownRange(*now);
        if (!was || !is) continue;
        const double a = Magnitude(*was), b = Magnitude(*is);
        if (a > 0 && b > 0 && std::fmax(a, b) > factor * std::fmin(a, b)) {
            char ratio[32];
            std::snprintf(ratio, sizeof ratio, "%.3g", b > a ? b / a : a / b);
            warn(DriftKind::Range, channel->id,
                 GridChannelLabel(channel->id) + " range " + RangeText(*was) + " -> " + RangeText(*is) + " (" +
                     (b > a ? "grows " : "shrinks ") + ratio + "x)");
        }
    }
    return warnings;
}

}  // namespace KorInfo
