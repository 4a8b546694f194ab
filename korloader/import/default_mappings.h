// Default channel mappings: the grids of an OpenVDB or Field3D cache, as its
// import module lists them, matched against the built-in name table of its
// format. Also the bodies of the four mapping exports.
#pragma once
#include "import/mapping_text.h"
#include "paths/enum_files.h"
#include "plugin_sdk/kor_plugin.h"
#include "util/iarray.h"
#include "util/kor_string.h"

namespace CacheIO {
using ChannelList = iArray<AvailableChannels>;
}  // namespace CacheIO

// The grids of every file that `path` stands for (a template stands for its
// whole sequence), as listed by the import plug-in of each file's extension:
// the union in order of first appearance (exact, case-sensitive names), each
// with the flag of its first occurrence. Files whose plug-in is not ready
// contribute nothing. False when memory ran out: `list` then holds the
// union's first grids, in their places, and lacks the rest.
bool Find3rdPartyCacheChannels(const char* path, CacheIO::ChannelList& list) noexcept;

// The per-file step of Find3rdPartyCacheChannels.
class Find3rdPartyCacheChannelsEnum : public OstrelEnum::EnumFiles {
public:
    explicit Find3rdPartyCacheChannelsEnum(CacheIO::ChannelList* list) noexcept : list_(list) {}
    void OnFile(const char* fileName) noexcept override;
    // False once a grid could not be added; no grid is added after that.
    bool GridsComplete() const noexcept { return complete_; }

private:
    CacheIO::ChannelList* list_;
    bool complete_ = true;
};

// The default mapping string of a path into `text`: its grids matched
// against the built-in name table of its format, with the smoke fallback.
// "" for a null or empty path, a native cache file or any other extension.
// False (and "") when memory ran out.
bool GenerateDefaultMappings(const char* path, ZUtils::String& text) noexcept;

// The bodies of the four exports (same arguments and results). Buffers: with
// a length below 1 (or a null buffer) nothing is written; otherwise at most
// length-1 characters and a terminating zero. 1 = the text fitted, 0 = it was
// cut, -1 = no entry `index` (negative indices included). When memory runs
// out the answer is 0 with "" written: the text could not be made whole.
int Get3rdPartyChannelNameInto(char* out, int outLen, int* flag, const char* path, int index) noexcept;
int ComposeChannelMappingsInto(char* out, int outLen, const int* ids, const char* const* names, int count) noexcept;
int DecomposeChannelMappingsAt(int* id, char* nameOut, int nameLen, const char* mapping, int index) noexcept;
int GenerateDefaultChannelMappingsInto(char* out, int outLen, const char* path) noexcept;
