#include "json_report.h"

#include "korloader/korloader.h"
#include "paths/frame_paths.h"

namespace KorInfo {

namespace {

constexpr int kSchemaVersion = 1;

using KorTools::JsonWriter;

void OptionalBool(JsonWriter& json, const char* key, const std::optional<bool>& value) {
    json.Key(key);
    value ? json.Bool(*value) : json.Null();
}

void RangeValue(JsonWriter& json, const std::optional<Range>& range) {
    if (!range) {
        json.Null();
        return;
    }
    json.BeginArray().Number(range->min).Number(range->max).EndArray();
}

void NumberArray(JsonWriter& json, const std::vector<double>& values) {
    if (values.empty()) {
        json.Null();
        return;
    }
    json.BeginArray();
    for (double value : values) json.Number(value);
    json.EndArray();
}

const char* SourceName(ChannelSource source) {
    switch (source) {
        case ChannelSource::Stored: return "stored";
        case ChannelSource::Derived: return "derived";
        case ChannelSource::Imported: return "imported";
    }
    return "";
}

const char* StorageName(ParticleStorage storage) {
    switch (storage) {
        case ParticleStorage::Stored: return "stored";
        case ParticleStorage::DecodedAtLoad: return "decoded_at_load";
        case ParticleStorage::GridVelocity: return "grid_velocity";
    }
    return "";
}

void Channel(JsonWriter& json, const ChannelFacts& channel) {
    json.BeginObject();
    json.Key("id").Int(channel.id);
    json.Key("name").String(korGridChannelName(channel.id));
    json.Key("source").String(SourceName(channel.source));
    json.Key("stored_bytes");
    channel.storedBytes >= 0 ? json.Int(channel.storedBytes) : json.Null();
    json.Key("complete").Bool(channel.complete);
    json.Key("range");
    RangeValue(json, channel.range);
    OptionalBool(json, "decodes", channel.decodes);
    json.Key("stats");
    if (channel.stats) {
        json.BeginObject();
        json.Key("min").Number(channel.stats->min);
        json.Key("max").Number(channel.stats->max);
        json.Key("mean").Number(channel.stats->mean);
        json.Key("nonzero").Int(channel.stats->nonZero);
        json.EndObject();
    } else {
        json.Null();
    }
    json.EndObject();
}

void Group(JsonWriter& json, const GroupFacts& group) {
    json.BeginObject();
    json.Key("name").String(group.name);
    json.Key("particles").Int(group.particleCount);
    json.Key("has_positions").Bool(group.hasPositions);
    json.Key("channel_mask").Int(group.channelMask);
    json.Key("attributes").Int(group.attributes);
    json.Key("channels").BeginArray();
    for (const ParticleChannelFacts& channel : group.channels) {
        json.BeginObject();
        json.Key("id").Int(channel.id);
        json.Key("name").String(korParticleChannelName(channel.id));
        json.Key("element_bytes").Int(channel.elementBytes);
        json.Key("components").Int(channel.components);
        json.Key("type").Int(channel.type);
        json.Key("storage").String(StorageName(channel.storage));
        json.Key("method");
        channel.storage == ParticleStorage::Stored ? json.Int(channel.method) : json.Null();
        json.Key("stored_bytes").Int(channel.storedBytes);
        OptionalBool(json, "decodes", channel.decodes);
        json.Key("min");
        NumberArray(json, channel.min);
        json.Key("max");
        NumberArray(json, channel.max);
        json.EndObject();
    }
    json.EndArray();
    json.Key("first_id");
    group.firstId ? json.Int(*group.firstId) : json.Null();
    json.Key("last_id");
    group.lastId ? json.Int(*group.lastId) : json.Null();
    json.EndObject();
}

void Facts(JsonWriter& json, const FrameFacts& facts) {
    json.Key("format").String(FormatName(facts.format));
    json.Key("format_version").Int(facts.formatVersion);
    json.Key("frame_number").Int(facts.frameNumber);
    json.Key("time").Number(facts.time);
    json.Key("time_step").Float(facts.timeStep);
    json.Key("backup").Bool(facts.backup);
    json.Key("dims").BeginArray().Int(facts.dims[0]).Int(facts.dims[1]).Int(facts.dims[2]).EndArray();
    json.Key("cells").Int(facts.cells);
    json.Key("transform").BeginArray();
    for (float value : facts.transform) json.Float(value);
    json.EndArray();
    json.Key("channel_mask").Int(facts.channelMask);
    json.Key("channels").BeginArray();
    for (const ChannelFacts& channel : facts.channels) Channel(json, channel);
    json.EndArray();
    json.Key("info").String(facts.info);
    json.Key("grids");
    if (facts.format == FileFormat::Kor) {
        json.Null();
    } else {
        json.BeginArray();
        for (const ImportedGrid& grid : facts.grids)
            json.BeginObject().Key("name").String(grid.name).Key("flag").Int(grid.flag).EndObject();
        json.EndArray();
    }
    json.Key("mapping");
    facts.format == FileFormat::Kor ? json.Null() : json.String(facts.mapping);
    json.Key("particles").Int(facts.particles);
    json.Key("particle_groups").BeginArray();
    for (const GroupFacts& group : facts.groups) Group(json, group);
    json.EndArray();
}

void Frame(JsonWriter& json, const Inspection& inspection) {
    json.BeginObject();
    json.Key("path").String(inspection.path);
    json.Key("frame");
    inspection.frame != KorPaths::kNoFrame ? json.Int(inspection.frame) : json.Null();
    json.Key("ok").Bool(!inspection.failed);
    json.Key("error");
    if (inspection.failed) {
        json.BeginObject();
        json.Key("status").Int(inspection.status);
        json.Key("reason").String(inspection.reason);
        json.Key("log").String(inspection.log);
        json.EndObject();
    } else {
        json.Null();
    }
    json.Key("picture");
    inspection.picture.empty() ? json.Null() : json.String(inspection.picture);
    if (inspection.facts) Facts(json, *inspection.facts);
    json.EndObject();
}

}  // namespace

JsonReport::JsonReport() {
    json_.BeginObject();
    json_.Key("korinfo").Int(kSchemaVersion);
    json_.Key("inputs").BeginArray();
}

void JsonReport::AddFile(const std::string& input, const Inspection& inspection) {
    json_.BeginObject();
    json_.Key("input").String(input);
    json_.Key("kind").String("file");
    json_.Key("ok").Bool(!inspection.failed);
    json_.Key("frames").BeginArray();
    Frame(json_, inspection);
    json_.EndArray();
    json_.EndObject();
}

void JsonReport::AddSequence(const SequenceReport& report) {
    json_.BeginObject();
    json_.Key("input").String(report.templatePath);
    json_.Key("kind").String("sequence");
    json_.Key("ok").Bool(!report.Failed());
    json_.Key("first");
    report.frames.empty() ? json_.Null() : json_.Int(report.frames.front().frame);
    json_.Key("last");
    report.frames.empty() ? json_.Null() : json_.Int(report.frames.back().frame);
    json_.Key("missing").BeginArray();
    for (const auto& [first, last] : report.missing) json_.BeginArray().Int(first).Int(last).EndArray();
    json_.EndArray();
    json_.Key("missing_count").Int(report.missingCount);
    json_.Key("frames").BeginArray();
    for (const Inspection& frame : report.frames) Frame(json_, frame);
    json_.EndArray();
    json_.Key("drift").BeginArray();
    for (const DriftWarning& warning : report.warnings) {
        json_.BeginObject();
        json_.Key("frame").Int(warning.frame);
        json_.Key("previous").Int(warning.previous);
        json_.Key("kind").String(DriftKindName(warning.kind));
        json_.Key("channel");
        warning.channel >= 0 ? json_.Int(warning.channel) : json_.Null();
        json_.Key("text").String(warning.text);
        json_.EndObject();
    }
    json_.EndArray();
    json_.EndObject();
}

const std::string& JsonReport::End(bool ok) {
    json_.EndArray();
    json_.Key("ok").Bool(ok);
    json_.EndObject();
    return json_.Text();
}

}  // namespace KorInfo
