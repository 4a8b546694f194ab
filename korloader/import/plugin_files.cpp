#include "import/plugin_files.h"

#include <cstdio>

#include "platform/platform.h"

namespace KorImport {
namespace {

bool Given(const char* text) noexcept { return text != nullptr && text[0] != '\0'; }

// snprintf into the fixed name buffer: a longer name is cut.
template <class... Args>
ZUtils::String FormatName(const char* format, Args... args) noexcept {
    char buffer[kNameBuffer];
    const int n = std::snprintf(buffer, sizeof buffer, format, args...);
    if (n < 0) return ZUtils::String();
    return ZUtils::String(buffer);
}

}  // namespace

void SplitPluginDirectories(const char* directories, iArray<ZUtils::String>& out) noexcept {
    if (directories == nullptr) return;
    size_t length = 0;
    while (length < kMaxDirectoryList && directories[length] != '\0') ++length;
    for (size_t begin = 0; begin < length;) {
        size_t end = begin;
        while (end < length && directories[end] != ';') ++end;
        const size_t entry = end - begin;
        const bool followedBySemicolon = end < length;
        if (entry > 1 || (entry == 1 && !followedBySemicolon))
            out.Append(ZUtils::String(directories + begin, entry < kMaxDirectory ? entry : kMaxDirectory));
        begin = end + 1;
    }
}

bool PluginFileCandidates(const char* base, const char* directories, const char* suffix,
                          iArray<ZUtils::String>& out, bool& searchDirectories) noexcept {
    const char* prefix = "";  // file names never carry a prefix
    const char* extension = KorPlatform::ModuleExtension();
    searchDirectories = Given(directories) && Given(suffix);
    if (!Given(suffix)) return out.Append(FormatName("%s%s%s", prefix, base, extension));
    if (!Given(directories)) return out.Append(FormatName("%s%s_%s%s", prefix, base, suffix, extension));
    iArray<ZUtils::String> list;
    SplitPluginDirectories(directories, list);
    for (const ZUtils::String& directory : list) {
        if (directory.Empty()) continue;  // its copy could not be made
        const char last = directory.c_str()[directory.Length() - 1];
        const bool endsWithSeparator = last == '/' || last == '\\';
        out.Append(FormatName(endsWithSeparator ? "%s%s%s_%s%s" : "%s/%s%s_%s%s", directory.c_str(), prefix, base,
                              suffix, extension));
    }
    return list.Count() > 0;
}

bool ChoosePluginFile(const char* base, const char* directories, const char* suffix, ZUtils::String& file) noexcept {
    iArray<ZUtils::String> candidates;
    bool searchDirectories = false;
    if (!PluginFileCandidates(base, directories, suffix, candidates, searchDirectories)) return false;
    for (const ZUtils::String& candidate : candidates) {
        if (!searchDirectories || KorPlatform::FileExists(candidate.c_str())) {
            file = candidate;
            return true;
        }
    }
    return false;
}

}  // namespace KorImport
