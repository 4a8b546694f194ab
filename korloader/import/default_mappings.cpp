#include "import/default_mappings.h"

#include <cstring>
#include <utility>

#include "import/importers.h"
#include "paths/frame_paths.h"

using CacheIO::AvailableChannels;
using CacheIO::ChannelList;
using CacheIO::GridMapping;
using CacheIO::GridMappings;

namespace {

struct TableEntry {
    const char* name;
    KorGridChannel channel;
};

// Grid names of OpenVDB files, in the order they are tried.
constexpr TableEntry kVdbTable[] = {
    {"Temperature_ost", KOR_GRID_TEMPERATURE},
    {"Smoke_ost", KOR_GRID_SMOKE},
    {"VelocityX_ost", KOR_GRID_VELOCITY_X},
    {"VelocityY_ost", KOR_GRID_VELOCITY_Y},
    {"VelocityZ_ost", KOR_GRID_VELOCITY_Z},
    {"ColorR_ost", KOR_GRID_COLOUR_R},
    {"ColorG_ost", KOR_GRID_COLOUR_G},
    {"ColorB_ost", KOR_GRID_COLOUR_B},
    {"Fuel_ost", KOR_GRID_FUEL},
    {"density", KOR_GRID_SMOKE},
    {"temperature", KOR_GRID_TEMPERATURE},
    {"fluid_density", KOR_GRID_TEMPERATURE},
    {"surface", KOR_GRID_TEMPERATURE},
    {"vel.x", KOR_GRID_VELOCITY_X},
    {"vel.y", KOR_GRID_VELOCITY_Y},
    {"vel.z", KOR_GRID_VELOCITY_Z},
    {"vel(x)", KOR_GRID_VELOCITY_X},
    {"vel(y)", KOR_GRID_VELOCITY_Y},
    {"vel(z)", KOR_GRID_VELOCITY_Z},
    {"V(x)", KOR_GRID_VELOCITY_X},
    {"V(y)", KOR_GRID_VELOCITY_Y},
    {"V(z)", KOR_GRID_VELOCITY_Z},
    {"color(x)", KOR_GRID_COLOUR_R},
    {"color(y)", KOR_GRID_COLOUR_G},
    {"color(z)", KOR_GRID_COLOUR_B},
    {"Smoke", KOR_GRID_SMOKE},
    {"FireFuel", KOR_GRID_FUEL},
    {"Temperature", KOR_GRID_TEMPERATURE},
    {"VelocitiesX", KOR_GRID_VELOCITY_X},
    {"VelocitiesY", KOR_GRID_VELOCITY_Y},
    {"VelocitiesZ", KOR_GRID_VELOCITY_Z},
    {"ColorR", KOR_GRID_COLOUR_R},
    {"ColorG", KOR_GRID_COLOUR_G},
    {"ColorB", KOR_GRID_COLOUR_B},
    {"fuel", KOR_GRID_FUEL},
    {"velocity_x", KOR_GRID_VELOCITY_X},
    {"velocity_y", KOR_GRID_VELOCITY_Y},
    {"velocity_z", KOR_GRID_VELOCITY_Z},
    {"particle_count_per_cell", KOR_GRID_TEMPERATURE},
    {"rest.x", KOR_GRID_COLOUR_R},
    {"rest.y", KOR_GRID_COLOUR_G},
    {"rest.z", KOR_GRID_COLOUR_B},
};

// Grid names of Field3D files, in the order they are tried. VelocitiesX and
// VelocitiesZ go to the opposite channels from the OpenVDB table, and the
// capitals of "velocity(Y)" and "velocity(Z)" are as files write them.
constexpr TableEntry kF3dTable[] = {
    {"density", KOR_GRID_SMOKE},
    {"fuel", KOR_GRID_FUEL},
    {"temperature", KOR_GRID_TEMPERATURE},
    {"v_mac(x)", KOR_GRID_VELOCITY_X},
    {"velocity(x)", KOR_GRID_VELOCITY_X},
    {"v_mac(y)", KOR_GRID_VELOCITY_Y},
    {"velocity(Y)", KOR_GRID_VELOCITY_Y},
    {"v_mac(z)", KOR_GRID_VELOCITY_Z},
    {"velocity(Z)", KOR_GRID_VELOCITY_Z},
    {"Smoke", KOR_GRID_SMOKE},
    {"FireFuel", KOR_GRID_FUEL},
    {"Temperature", KOR_GRID_TEMPERATURE},
    {"VelocitiesX", KOR_GRID_VELOCITY_Z},
    {"VelocitiesY", KOR_GRID_VELOCITY_Y},
    {"VelocitiesZ", KOR_GRID_VELOCITY_X},
    {"ColorR", KOR_GRID_COLOUR_R},
    {"ColorG", KOR_GRID_COLOUR_G},
    {"ColorB", KOR_GRID_COLOUR_B},
    {"particle_count_per_cell", KOR_GRID_TEMPERATURE},
    {"fluid_velocity(x)", KOR_GRID_VELOCITY_X},
    {"fluid_velocity(y)", KOR_GRID_VELOCITY_Y},
    {"fluid_velocity(z)", KOR_GRID_VELOCITY_Z},
    {"Velocity(x)", KOR_GRID_VELOCITY_X},
    {"Velocity(y)", KOR_GRID_VELOCITY_Y},
    {"Velocity(z)", KOR_GRID_VELOCITY_Z},
    {"Density", KOR_GRID_SMOKE},
    {"TextureCoord(x)", KOR_GRID_COLOUR_R},
    {"TextureCoord(y)", KOR_GRID_COLOUR_G},
    {"TextureCoord(z)", KOR_GRID_COLOUR_B},
};

// The caller's-buffer rule shared by the four exports.
int CopyOut(const char* text, size_t length, char* out, int outLen) noexcept {
    if (out == nullptr || outLen < 1) return 0;
    const size_t room = static_cast<size_t>(outLen) - 1;
    const size_t n = length < room ? length : room;
    std::memcpy(out, text, n);
    out[n] = '\0';
    return length < static_cast<size_t>(outLen) ? 1 : 0;
}

int CopyOut(const ZUtils::String& text, char* out, int outLen) noexcept {
    return CopyOut(text.c_str(), static_cast<size_t>(text.Length()), out, outLen);
}

bool ContainsName(const ChannelList& list, const ZUtils::String& name) noexcept {
    for (const AvailableChannels& grid : list)
        if (grid.name == name) return true;
    return false;
}

}  // namespace

void Find3rdPartyCacheChannelsEnum::OnFile(const char* fileName) noexcept {
    if (!complete_) return;
    ChannelList grids;
    if (HasExtension(fileName, "f3d"))
        GetF3dAvailableChannels(fileName, grids);
    else if (HasExtension(fileName, "vdb"))
        GetVdbAvailableChannels(fileName, grids);
    for (AvailableChannels& grid : grids) {
        if (ContainsName(*list_, grid.name)) continue;
        // Moved, not copied: a copy would allocate the name again.
        const int32_t at = list_->Count();
        if (!list_->SetSize(at + 1)) {
            complete_ = false;
            return;
        }
        (*list_)[at] = std::move(grid);
    }
}

bool Find3rdPartyCacheChannels(const char* path, ChannelList& list) noexcept {
    Find3rdPartyCacheChannelsEnum enumerator(&list);
    enumerator.Enumerate(path, 1);
    return enumerator.Complete() && enumerator.GridsComplete();
}

bool GenerateDefaultMappings(const char* path, ZUtils::String& text) noexcept {
    text.Clear();
    if (path == nullptr || path[0] == '\0') return true;
    const TableEntry* table;
    size_t tableSize;
    if (HasExtension(path, "vdb")) {
        table = kVdbTable;
        tableSize = sizeof kVdbTable / sizeof kVdbTable[0];
    } else if (HasExtension(path, "f3d")) {
        table = kF3dTable;
        tableSize = sizeof kF3dTable / sizeof kF3dTable[0];
    } else {
        return true;
    }
    ChannelList grids;
    if (!Find3rdPartyCacheChannels(path, grids)) return false;

    GridMappings mappings;
    const AvailableChannels* smokeCandidate = nullptr;
    bool smokeMapped = false;
    for (const AvailableChannels& grid : grids) {
        const TableEntry* hit = nullptr;
        for (size_t t = 0; t < tableSize && hit == nullptr; ++t)
            if (grid.name.Equals(table[t].name)) hit = &table[t];
        if (hit == nullptr) {
            if (smokeCandidate == nullptr && grid.flag == 0) smokeCandidate = &grid;
            continue;
        }
        if (!AppendMapping(mappings, grid.name.c_str(), static_cast<size_t>(grid.name.Length()), hit->channel))
            return false;
        if (hit->channel == KOR_GRID_SMOKE) smokeMapped = true;
    }
    if (!smokeMapped && smokeCandidate != nullptr &&
        !AppendMapping(mappings, smokeCandidate->name.c_str(), static_cast<size_t>(smokeCandidate->name.Length()),
                       KOR_GRID_SMOKE))
        return false;
    if (ComposeMappingString(mappings, text)) return true;
    text.Clear();
    return false;
}

int Get3rdPartyChannelNameInto(char* out, int outLen, int* flag, const char* path, int index) noexcept {
    if (index < 0) return -1;
    ChannelList grids;
    // Without the whole list no index can be answered: a grid missing from it
    // may come before the one asked for.
    if (!Find3rdPartyCacheChannels(path, grids)) {
        CopyOut("", 0, out, outLen);
        return 0;
    }
    if (index >= grids.Count()) return -1;
    if (flag != nullptr) *flag = grids[index].flag != 0 ? 1 : 0;
    return CopyOut(grids[index].name, out, outLen);
}

int ComposeChannelMappingsInto(char* out, int outLen, const int* ids, const char* const* names, int count) noexcept {
    GridMappings mappings;
    ZUtils::String text;
    bool complete = true;
    if (ids != nullptr && names != nullptr) {
        for (int i = 0; i < count && complete; ++i) {
            const char* name = names[i] != nullptr ? names[i] : "";
            complete = AppendMapping(mappings, name, std::strlen(name), ids[i]);
        }
    }
    complete = ComposeMappingString(mappings, text) && complete;
    const int fitted = CopyOut(text, out, outLen);
    return complete ? fitted : 0;
}

// Walks the text to the entry: nothing to allocate.
int DecomposeChannelMappingsAt(int* id, char* nameOut, int nameLen, const char* mapping, int index) noexcept {
    if (index < 0) return -1;
    MappingEntry entry;
    const char* at = mapping;
    for (int i = 0; i <= index; ++i)
        if (!NextMappingEntry(at, entry)) return -1;
    if (id != nullptr) *id = entry.channel;
    return CopyOut(entry.name, entry.nameLength, nameOut, nameLen);
}

int GenerateDefaultChannelMappingsInto(char* out, int outLen, const char* path) noexcept {
    ZUtils::String text;
    if (!GenerateDefaultMappings(path, text)) {
        CopyOut("", 0, out, outLen);
        return 0;
    }
    return CopyOut(text, out, outLen);
}
