// Channel mapping strings ("%d,%s;" per entry) and the grid listing of
// foreign caches, behind the four mapping exports and newIKor.
#pragma once
#include "util/kor_string.h"

// Default mapping string of a path (empty for native files).
ZUtils::String GenerateDefaultMappings(const char* path) noexcept;

// The bodies of the four exports (same arguments and results).
int Get3rdPartyChannelNameInto(char* out, int outLen, int* flag, const char* path, int index) noexcept;
int ComposeChannelMappingsInto(char* out, int outLen, const int* ids, const char* const* names, int count) noexcept;
int DecomposeChannelMappingsAt(int* id, char* nameOut, int nameLen, const char* mapping, int index) noexcept;
int GenerateDefaultChannelMappingsInto(char* out, int outLen, const char* path) noexcept;
