#include "text_report.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "korloader/korloader.h"

namespace KorInfo {

namespace {

const char* DecodesText(const std::optional<bool>& decodes) { return *decodes ? "decodes" : "does not decode"; }

// What is known of a grid channel beyond its storage: the stored range, and
// whether it decodes or its decoded statistics.
void PrintChannelTail(const ChannelFacts& channel) {
    if (channel.range) std::printf("  range [%g, %g]", channel.range->min, channel.range->max);
    if (channel.stats)
        std::printf("  decoded [%g, %g] mean %g non-zero %" PRId64, channel.stats->min, channel.stats->max,
                    channel.stats->mean, channel.stats->nonZero);
    else if (channel.decodes && channel.source != ChannelSource::Imported)
        std::printf("  %s", DecodesText(channel.decodes));
    std::printf("\n");
}

void PrintChannel(const ChannelFacts& channel) {
    const char* name = korGridChannelName(channel.id);
    switch (channel.source) {
        case ChannelSource::Stored:
            std::printf("    %2d %-14s %10" PRId64 " bytes%s", channel.id, name, channel.storedBytes,
                        channel.complete ? "" : " (cut short)");
            break;
        case ChannelSource::Derived: std::printf("    %2d %-14s %10s      (derived)", channel.id, name, "-"); break;
        case ChannelSource::Imported: std::printf("    %2d %-14s %10s      (imported)", channel.id, name, "-"); break;
    }
    PrintChannelTail(channel);
}

void PrintComponents(const char* label, const std::vector<double>& values) {
    std::printf("  %s ", label);
    if (values.size() != 1) std::printf("(");
    for (size_t i = 0; i < values.size(); ++i) std::printf("%s%g", i ? ", " : "", values[i]);
    if (values.size() != 1) std::printf(")");
}

// One group: its counts, then every channel it serves with its layout, how
// it is stored and whether it decodes (for the --group group: the decoded
// minimum and maximum).
void PrintGroup(const GroupFacts& group) {
    std::printf("    \"%s\": %d particles, channel mask 0x%08X, attributes 0x%X\n", group.name.c_str(),
                group.particleCount, group.channelMask, group.attributes);
    for (const ParticleChannelFacts& channel : group.channels) {
        std::printf("      %2d %-9s %2d bytes (%d x type %2d)", channel.id, korParticleChannelName(channel.id),
                    channel.elementBytes, channel.components, channel.type);
        if (channel.storage == ParticleStorage::GridVelocity)
            std::printf("  from the grid velocity");
        else if (channel.storage == ParticleStorage::Stored)
            std::printf("  method %u, %10" PRId64 " bytes stored", channel.method, channel.storedBytes);
        else
            std::printf("  %-29s", "decoded when loaded");
        if (channel.decodes && (channel.storage != ParticleStorage::GridVelocity || !*channel.decodes))
            std::printf("  %s", DecodesText(channel.decodes));
        if (!channel.min.empty()) {
            PrintComponents("min", channel.min);
            PrintComponents("max", channel.max);
        }
        std::printf("\n");
    }
    if (group.firstId)
        std::printf("      IDs %" PRId64 " .. %" PRId64 " (first, last)\n", *group.firstId, *group.lastId);
}

void PrintImport(const FrameFacts& facts) {
    std::printf("  format: %s, through its import module\n",
                facts.format == FileFormat::OpenVdb ? "OpenVDB" : "Field3D");
    std::printf("  grids:");
    for (size_t i = 0; i < facts.grids.size(); ++i)
        std::printf("%s %s%s", i ? "," : "", facts.grids[i].name.c_str(), facts.grids[i].flag ? " (flag 1)" : "");
    std::printf("%s\n", facts.grids.empty() ? " none" : "");
    std::printf("  mapping: %s\n", facts.mapping.c_str());
}

std::string DimsText(const FrameFacts& facts) {
    return std::to_string(facts.dims[0]) + "x" + std::to_string(facts.dims[1]) + "x" + std::to_string(facts.dims[2]);
}

// The stored channels' names, in stored order.
std::string ChannelList(const FrameFacts& facts) {
    std::string list;
    for (const ChannelFacts& channel : facts.channels) {
        if (channel.source == ChannelSource::Derived) continue;
        if (!list.empty()) list += ' ';
        list += GridChannelLabel(channel.id);
    }
    return list.empty() ? "none" : list;
}

// The smoke column of a frame line: the non-zero count when measured, else
// the known range.
std::string SmokeText(const FrameFacts& facts, bool stats) {
    const ChannelFacts* smoke = facts.Channel(KOR_GRID_SMOKE);
    char text[64] = "-";
    if (smoke != nullptr && stats && smoke->stats)
        std::snprintf(text, sizeof text, "%" PRId64, smoke->stats->nonZero);
    else if (smoke != nullptr && stats)
        std::snprintf(text, sizeof text, "does not decode");
    else if (smoke != nullptr && smoke->range)
        std::snprintf(text, sizeof text, "[%g, %g]", smoke->range->min, smoke->range->max);
    return text;
}

std::string MissingText(const SequenceReport& report) {
    std::string text;
    for (const auto& [first, last] : report.missing) {
        if (!text.empty()) text += ", ";
        text += std::to_string(first);
        if (last != first) text += ".." + std::to_string(last);
    }
    return text;
}

}  // namespace

void PrintFrame(const FrameFacts& facts) {
    std::printf("%s\n", facts.path.c_str());
    if (facts.format != FileFormat::Kor)
        PrintImport(facts);
    else if (facts.formatVersion)
        std::printf("  format version: %d\n", facts.formatVersion);
    else
        std::printf("  format version: none (no trailer)\n");
    std::printf("  frame: %d  time: %g  time step: %g%s\n", facts.frameNumber, facts.time, facts.timeStep,
                facts.backup ? "  (backup frame)" : "");
    std::printf("  grid: %d x %d x %d (%" PRId64 " cells)\n", facts.dims[0], facts.dims[1], facts.dims[2], facts.cells);
    const float* t = facts.transform;
    std::printf("  transform: a=(%g, %g, %g) b=(%g, %g, %g) c=(%g, %g, %g) offset=(%g, %g, %g)\n", t[0], t[1], t[2],
                t[3], t[4], t[5], t[6], t[7], t[8], t[9], t[10], t[11]);
    std::printf("  channels (mask 0x%08X):\n", facts.channelMask);
    for (const ChannelFacts& channel : facts.channels) PrintChannel(channel);
    if (facts.channels.empty()) std::printf("    none\n");
    if (!facts.info.empty()) std::printf("  info: \"%s\"\n", facts.info.c_str());
    std::printf("  particle groups: %zu (%d with positions)\n", facts.groups.size(), facts.groupsWithPositions);
    for (const GroupFacts& group : facts.groups) PrintGroup(group);
}

void PrintSequence(const SequenceReport& report, bool stats) {
    const std::vector<Inspection>& frames = report.frames;
    std::printf("%s\n", report.templatePath.c_str());
    std::printf("  frames %d..%d: %zu files, %" PRId64 " missing%s%s\n", frames.front().frame, frames.back().frame,
                frames.size(), report.missingCount, report.missingCount ? ": " : "", MissingText(report).c_str());
    std::printf("  %7s  %10s  %-14s  %-16s  %9s  %s\n", "frame", "time", "grid",
                stats ? "smoke non-zero" : "smoke range", "particles", "channels");
    int pictures = 0;
    for (const Inspection& frame : frames) {
        pictures += !frame.picture.empty();
        if (!frame.facts) {
            std::printf("  %7d  cannot be read: %s\n", frame.frame, frame.reason.c_str());
            continue;
        }
        const FrameFacts& facts = *frame.facts;
        std::printf("  %7d  %10g  %-14s  %-16s  %9" PRId64 "  %s\n", frame.frame, facts.time, DimsText(facts).c_str(),
                    SmokeText(facts, stats).c_str(), facts.particles, ChannelList(facts).c_str());
    }
    if (report.warnings.empty()) {
        std::printf("  no drift\n");
    } else {
        std::printf("  drift (%zu):\n", report.warnings.size());
        for (const DriftWarning& warning : report.warnings)
            std::printf("    frame %d (after %d): %s\n", warning.frame, warning.previous, warning.text.c_str());
    }
    if (pictures > 0) std::printf("  pictures: %d written\n", pictures);
}

}  // namespace KorInfo
