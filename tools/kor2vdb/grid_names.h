// Which grids a frame's channels become and what they are called: the names
// Houdini and Blender read (temperature, density, vel, Cd, ...), the vector
// triples, the user's --name renames and the --channels names.
#pragma once
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace Kor2Vdb {

// Grid channel ids 0..30 as bits (bit 31 of a frame's mask is not a channel).
using ChannelSet = uint32_t;
constexpr int kLastChannel = 30;
inline bool Has(ChannelSet set, int id) { return (set >> id) & 1u; }

// --name ID=NAME, by channel id.
using GridRenames = std::map<int, std::string>;

// One grid of the output: a scalar channel, or a vector triple.
struct GridPlan {
    std::string name;
    int components = 1;      // 1 or 3
    int channels[3] = {};    // channel ids, x y z (r g b, u v w)
    bool velocity = false;   // a velocity vector: contravariant-relative
};

// The grids made from `channels`, in channel order. A triple whose three
// channels are all there becomes one vector grid; otherwise each channel of
// it present becomes a scalar grid named after its component (vel.x, Cd.g).
std::vector<GridPlan> PlanGrids(ChannelSet channels, const GridRenames& renames);

// How a channel is named in messages: its grid name and id, "density (2)", "Cd.r (7)".
std::string ChannelLabel(int id);

// The channels a --channels item stands for: an id (0..30), a grid name
// (density, vel, Cd.g, channel_12) or the library's channel name (smoke,
// velocity, velocity.x, colour.r). Packed colour (18) stands for colour 7-9.
// False for anything else.
bool ParseChannelItem(const std::string& item, ChannelSet* channels);

// Checks --name ID=NAME: "" when fine, else what is wrong. A triple is named
// by its first channel (4, 7, 15, 19); its components then become NAME.x ...
std::string CheckRename(int id, const std::string& name);

// "" when no two grids could end up with the same name, else the clash.
std::string CheckNamesDistinct(const GridRenames& renames);

}  // namespace Kor2Vdb
