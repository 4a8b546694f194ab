#include "grid_names.h"

#include <cctype>
#include <set>

#include "korloader/korloader.h"

namespace Kor2Vdb {

namespace {

// The vector triples and their grid names.
struct Triple {
    int first;
    const char* name;
    const char* components[3];
    bool velocity;
};
constexpr Triple kTriples[] = {
    {KOR_GRID_VELOCITY_X, "vel", {"x", "y", "z"}, true},
    {KOR_GRID_COLOUR_R, "Cd", {"r", "g", "b"}, false},
    {KOR_GRID_ORIGIN_X, "rest", {"x", "y", "z"}, false},
    {KOR_GRID_TEXCOORD_U, "uvw", {"u", "v", "w"}, false},
};

const Triple* TripleOf(int id) {
    for (const Triple& t : kTriples)
        if (id >= t.first && id < t.first + 3) return &t;
    return nullptr;
}

std::string ScalarDefaultName(int id) {
    switch (id) {
        case KOR_GRID_TEMPERATURE: return "temperature";
        case KOR_GRID_SMOKE: return "density";
        case KOR_GRID_SPEED: return "speed";
        case KOR_GRID_FUEL: return "fuel";
        case KOR_GRID_WAVELET: return "wavelet";
        default: return "channel_" + std::to_string(id);
    }
}

std::string Renamed(const GridRenames& renames, int id, std::string name) {
    const auto it = renames.find(id);
    return it != renames.end() ? it->second : name;
}

std::string VectorName(const Triple& t, const GridRenames& renames) { return Renamed(renames, t.first, t.name); }

std::string ComponentName(const Triple& t, int id, const GridRenames& renames) {
    return VectorName(t, renames) + "." + t.components[id - t.first];
}

std::string ScalarName(int id, const GridRenames& renames) {
    const Triple* t = TripleOf(id);
    return t ? ComponentName(*t, id, renames) : Renamed(renames, id, ScalarDefaultName(id));
}

constexpr ChannelSet TripleBits(int first) { return 7u << first; }

bool ParseId(const std::string& text, int* id) {
    if (text.empty() || text.size() > 2) return false;
    for (char c : text)
        if (!std::isdigit(static_cast<unsigned char>(c))) return false;
    *id = std::stoi(text);
    return *id <= kLastChannel;
}

}  // namespace

std::vector<GridPlan> PlanGrids(ChannelSet channels, const GridRenames& renames) {
    std::vector<GridPlan> plans;
    for (int id = 0; id <= kLastChannel; ++id) {
        if (!Has(channels, id) || id == KOR_GRID_PACKED_COLOUR) continue;
        const Triple* t = TripleOf(id);
        GridPlan plan;
        if (t && (channels & TripleBits(t->first)) == TripleBits(t->first)) {
            if (id != t->first) continue;  // made with the triple's first channel
            plan.name = VectorName(*t, renames);
            plan.components = 3;
            for (int k = 0; k < 3; ++k) plan.channels[k] = t->first + k;
            plan.velocity = t->velocity;
        } else {
            plan.name = ScalarName(id, renames);
            plan.channels[0] = id;
        }
        plans.push_back(std::move(plan));
    }
    return plans;
}

std::string ChannelLabel(int id) { return ScalarName(id, {}) + " (" + std::to_string(id) + ")"; }

bool ParseChannelItem(const std::string& item, ChannelSet* channels) {
    int id = 0;
    if (ParseId(item, &id)) {
        *channels |= id == KOR_GRID_PACKED_COLOUR ? TripleBits(KOR_GRID_COLOUR_R) : 1u << id;
        return true;
    }
    if (item == korGridChannelName(KOR_GRID_PACKED_COLOUR)) {
        *channels |= TripleBits(KOR_GRID_COLOUR_R);
        return true;
    }
    for (const Triple& t : kTriples) {
        // "vel", or the library's stem: "velocity" of "velocity.x".
        const std::string library = korGridChannelName(t.first);
        if (item == t.name || item == library.substr(0, library.find('.'))) {
            *channels |= TripleBits(t.first);
            return true;
        }
    }
    for (id = 0; id <= kLastChannel; ++id) {
        if (id == KOR_GRID_PACKED_COLOUR) continue;
        if (item == ScalarName(id, {}) || (*korGridChannelName(id) && item == korGridChannelName(id))) {
            *channels |= 1u << id;
            return true;
        }
    }
    return false;
}

std::string CheckRename(int id, const std::string& name) {
    if (id < 0 || id > kLastChannel || id == KOR_GRID_PACKED_COLOUR)
        return "no grid is made from channel " + std::to_string(id);
    if (name.empty()) return "the name is empty";
    const Triple* t = TripleOf(id);
    if (t && id != t->first)
        return "channel " + std::to_string(id) + " is part of the vector '" + t->name + "': name it by channel " +
               std::to_string(t->first);
    return "";
}

std::string CheckNamesDistinct(const GridRenames& renames) {
    std::set<std::string> seen;
    std::string clash;
    const auto add = [&](const std::string& name) {
        if (!seen.insert(name).second && clash.empty()) clash = "two grids would be named '" + name + "'";
    };
    for (int id = 0; id <= kLastChannel; ++id)
        if (id != KOR_GRID_PACKED_COLOUR) add(ScalarName(id, renames));
    for (const Triple& t : kTriples) add(VectorName(t, renames));
    return clash;
}

}  // namespace Kor2Vdb
