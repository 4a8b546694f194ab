// What korinfo reports about one frame, gathered once and then printed as
// text or JSON. Gathering decodes only what it is asked to: a channel's
// stored range and size come from the file, "decodes", the decoded
// statistics and a group's decoded minimum and maximum need a decode.
#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "frame_loader.h"

namespace KorInfo {

struct Range {
    double min = 0, max = 0;
};

struct ChannelStats {
    double min = 0, max = 0, mean = 0;
    int64_t nonZero = 0;  // cells whose value is not 0
};

enum class ChannelSource { Stored, Derived, Imported };

struct ChannelFacts {
    int id = 0;
    ChannelSource source = ChannelSource::Stored;
    int64_t storedBytes = -1;           // stored channels: the record's body
    bool complete = true;               // false: the record is cut short
    std::optional<Range> range;         // stored range; for imported channels the range of the imported values
    std::optional<bool> decodes;        // when checked
    std::optional<ChannelStats> stats;  // with --stats
};

enum class ParticleStorage { Stored, DecodedAtLoad, GridVelocity };

struct ParticleChannelFacts {
    int id = 0;
    int elementBytes = 0, components = 0, type = 0;
    ParticleStorage storage = ParticleStorage::Stored;
    uint32_t method = 0;
    int64_t storedBytes = 0;
    std::optional<bool> decodes;
    // With --group: the decoded minimum and maximum of every component.
    std::vector<double> min, max;
};

struct GroupFacts {
    std::string name;
    int32_t particleCount = 0;
    uint32_t channelMask = 0, attributes = 0;
    bool hasPositions = false;
    bool detailed = false;  // the --group group: min and max were gathered
    std::vector<ParticleChannelFacts> channels;
    std::optional<int64_t> firstId, lastId;
};

struct FrameFacts {
    std::string path;
    FileFormat format = FileFormat::Kor;
    int formatVersion = 0;  // 0: no trailer (or imported)
    int frameNumber = 0;
    double time = 0;
    float timeStep = 0;
    bool backup = false;
    int dims[3] = {};
    int64_t cells = 0;
    float transform[12] = {};
    uint32_t channelMask = 0;
    std::vector<ChannelFacts> channels;  // stored (file order), then derived; imported by id
    std::string info;
    std::vector<ImportedGrid> grids;
    std::string mapping;
    std::vector<GroupFacts> groups;
    int groupsWithPositions = 0;
    int64_t particles = 0;  // in the groups with positions

    const ChannelFacts* Channel(int id) const;
    const GroupFacts* Group(const std::string& name) const;
};

struct GatherOptions {
    bool checkDecodes = false;  // decode every channel once to say whether it decodes
    bool stats = false;
    std::string group;  // "" or the group to gather in detail
};

FrameFacts GatherFacts(LoadedFrame& loaded, const std::string& path, const GatherOptions& options);

// The name of a grid channel id for people: its name, else its number.
std::string GridChannelLabel(int id);

}  // namespace KorInfo
