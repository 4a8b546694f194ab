// Channel keys as scripts give them: an id, or a name from the public
// header's tables ("smoke", "velocity.x", "position", ...). An id without a
// name goes by its number written out ("11").
#pragma once
#include <pybind11/pybind11.h>

#include <string>
#include <vector>

namespace KorPython {

enum class ChannelKind { Grid, Particle };

// The name of an id 0..31.
std::string ChannelName(ChannelKind kind, int id);

// The ids 0..31 that a frame's or a group's HasChannel answers 1 for, ascending.
template <class Source>
std::vector<int> AvailableIds(Source& source) {
    std::vector<int> ids;
    for (int id = 0; id < 32; ++id)
        if (source.HasChannel(id) == 1) ids.push_back(id);
    return ids;
}

// The names of `ids`.
std::vector<std::string> NamesOf(ChannelKind kind, const std::vector<int>& ids);

// The id of a key; KeyError for an id outside 0..31 or an unknown name,
// TypeError for a key that is neither an int nor a str.
int ChannelId(ChannelKind kind, pybind11::handle key);

}  // namespace KorPython
