// The text of channel mappings: which grid of an OpenVDB or Field3D file
// fills which grid channel of a frame. Hosts exchange them as text, one
// "%d,%s;" entry per mapping (channel number, grid name). Names may hold
// commas, not semicolons. Composing and parsing need nothing but the text.
#pragma once
#include <cstddef>

#include "plugin_sdk/kor_plugin.h"
#include "util/iarray.h"
#include "util/kor_string.h"

namespace CacheIO {
using GridMappings = iArray<GridMapping>;
}  // namespace CacheIO

// One entry of a mapping string, pointing into the text.
struct MappingEntry {
    int channel = 0;
    const char* name = nullptr;
    size_t nameLength = 0;
};

// Reads the entry at `at` and moves `at` past it; false (at unchanged) at the
// end of the entries. The channel is the text before the entry's first ','
// read as by atoi (saturating), the name the text after it up to the next
// ';'. A last entry without ';' runs to the end of the text; one without ','
// ends the entries. Allocates nothing.
bool NextMappingEntry(const char*& at, MappingEntry& entry) noexcept;

// Appends (name, channel) with scale 1.0 and extra 0, built in place. False
// (list unchanged) when memory ran out.
bool AppendMapping(CacheIO::GridMappings& list, const char* name, size_t nameLength, int channel) noexcept;

// The mapping string of `list`, in list order. False when memory ran out
// (`text` then holds the entries composed so far).
bool ComposeMappingString(const CacheIO::GridMappings& list, ZUtils::String& text) noexcept;

// Appends the entries of `text` (NextMappingEntry) to `list`, in order,
// duplicates kept, nothing trimmed. Null or "" gives nothing. False when
// memory ran out.
bool ParseMappingString(const char* text, CacheIO::GridMappings& list) noexcept;
