#include "import/channel_mappings.h"

// Mapping strings are not supported yet: no grids, no entries.

ZUtils::String GenerateDefaultMappings(const char*) noexcept { return ZUtils::String(); }

int Get3rdPartyChannelNameInto(char*, int, int*, const char*, int) noexcept { return -1; }

int ComposeChannelMappingsInto(char* out, int outLen, const int*, const char* const*, int) noexcept {
    if (out != nullptr && outLen >= 1) out[0] = '\0';
    return 1;
}

int DecomposeChannelMappingsAt(int*, char*, int, const char*, int) noexcept { return -1; }

int GenerateDefaultChannelMappingsInto(char* out, int outLen, const char*) noexcept {
    if (out != nullptr && outLen >= 1) out[0] = '\0';
    return 1;
}
