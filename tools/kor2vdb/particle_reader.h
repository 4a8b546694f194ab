// A particle group read out of a frame into plain arrays, one per channel,
// ready to become a point data grid.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

class IOstrelPrtGroup;

namespace Kor2Vdb {

struct ParticleAttribute {
    enum class Kind { Float, Vec3, Int32, Int64 };
    std::string name;  // v, pscale, age, Cd, id, channel_<id>
    Kind kind = Kind::Float;
    std::vector<float> floats;   // Float: 1 per particle, Vec3: 3
    std::vector<int32_t> int32s;
    std::vector<int64_t> int64s;
};

struct ParticleGroupData {
    std::string name;
    std::vector<float> positions;  // 3 per particle, in the grid's cell coordinates
    std::vector<ParticleAttribute> attributes;
};

struct GroupReadResult {
    std::vector<std::string> badChannels;  // channels the group reports but that do not decode
    std::vector<std::string> notes;        // particles or channels that could not be carried
    bool positions = true;                 // false: the positions do not decode, nothing was read
};

// Reads every channel of `group`. Particles whose position is not finite or
// lies beyond the index range OpenVDB can hold are left out (and counted in
// a note); a channel that does not decode is named in badChannels and left
// out. Without positions that decode nothing else is read.
GroupReadResult ReadParticleGroup(IOstrelPrtGroup& group, ParticleGroupData& out);

}  // namespace Kor2Vdb
