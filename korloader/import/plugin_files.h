// Where the import plug-in modules are looked for.
//
// File names: base name (vdbplug or f3dplug), "_" and the suffix when one is
// given, and the system's module extension (".dll", ".so"). Without a suffix
// the plain name is loaded through the system's own search, and so is the
// suffixed name without a directory list. With both, each directory of the
// ';'-separated list is tried in order and the first file that exists wins.
#pragma once
#include "util/iarray.h"
#include "util/kor_string.h"

namespace KorImport {

constexpr size_t kMaxDirectoryList = 51200;  // characters of the list considered
constexpr size_t kMaxDirectory = 1023;       // characters of one directory kept
constexpr size_t kNameBuffer = 1024;         // file names are cut to 1023 characters

// The directories of a list, in order: empty entries and a one-character
// entry followed by ';' are skipped.
void SplitPluginDirectories(const char* directories, iArray<ZUtils::String>& out) noexcept;

// The file names to try for `base`, in order: one name for the system's
// search, or one per directory. False when the list has no directory.
bool PluginFileCandidates(const char* base, const char* directories, const char* suffix,
                          iArray<ZUtils::String>& out, bool& searchDirectories) noexcept;

// The file to load: the single candidate, or the first candidate that exists.
bool ChoosePluginFile(const char* base, const char* directories, const char* suffix, ZUtils::String& file) noexcept;

}  // namespace KorImport
