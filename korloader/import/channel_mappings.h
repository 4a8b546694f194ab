// Channel mappings: which grid of an OpenVDB or Field3D file fills which grid
// channel of a frame. Hosts exchange them as text, one "%d,%s;" entry per
// mapping (channel number, grid name). Names may hold commas, not semicolons.
#pragma once
#include "paths/enum_files.h"
#include "plugin_sdk/kor_plugin.h"
#include "util/iarray.h"
#include "util/kor_string.h"

namespace CacheIO {
using GridMappings = iArray<GridMapping>;
using ChannelList = iArray<AvailableChannels>;
}  // namespace CacheIO

// The mapping string of `list`, in list order. False when memory ran out
// (`text` then holds the entries composed so far).
bool ComposeMappingString(const CacheIO::GridMappings& list, ZUtils::String& text) noexcept;

// Appends the entries of `text` to `list` (scale 1.0, extra 0), in order,
// duplicates kept, nothing trimmed. The channel is the text before the
// entry's first ',' read as by atoi (saturating), the name the text after it
// up to the next ';'. A last entry without ';' runs to the end of the text;
// one without ',' is dropped. Null or "" gives nothing. False when memory ran out.
bool ParseMappingString(const char* text, CacheIO::GridMappings& list) noexcept;

// The grids of every file that `path` stands for (a template stands for its
// whole sequence), as listed by the import plug-in of each file's extension:
// the union in order of first appearance (exact, case-sensitive names), each
// with the flag of its first occurrence. Files whose plug-in is not ready
// contribute nothing.
void Find3rdPartyCacheChannels(const char* path, CacheIO::ChannelList& list) noexcept;

// The per-file step of Find3rdPartyCacheChannels.
class Find3rdPartyCacheChannelsEnum : public OstrelEnum::EnumFiles {
public:
    explicit Find3rdPartyCacheChannelsEnum(CacheIO::ChannelList* list) noexcept : list_(list) {}
    void OnFile(const char* fileName) noexcept override;

private:
    CacheIO::ChannelList* list_;
};

// The default mapping string of a path: its grids matched against the
// built-in name table of its format, with the smoke fallback. "" for a null
// or empty path, a native cache file or any other extension.
ZUtils::String GenerateDefaultMappings(const char* path) noexcept;

// The bodies of the four exports (same arguments and results). Buffers: with
// a length below 1 (or a null buffer) nothing is written; otherwise at most
// length-1 characters and a terminating zero. 1 = the text fitted, 0 = it was
// cut, -1 = no entry `index` (negative indices included).
int Get3rdPartyChannelNameInto(char* out, int outLen, int* flag, const char* path, int index) noexcept;
int ComposeChannelMappingsInto(char* out, int outLen, const int* ids, const char* const* names, int count) noexcept;
int DecomposeChannelMappingsAt(int* id, char* nameOut, int nameLen, const char* mapping, int index) noexcept;
int GenerateDefaultChannelMappingsInto(char* out, int outLen, const char* path) noexcept;
