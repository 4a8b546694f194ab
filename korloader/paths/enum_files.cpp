#include "paths/enum_files.h"

#include <utility>

#include "paths/frame_paths.h"
#include "platform/platform.h"

namespace OstrelEnum {
namespace {

struct Listing {
    iArray<ZUtils::String>* files;
    const char* directory;
    size_t directoryLength;
    bool any;
    bool complete;
};

void OnListedEntry(void* context, const char* name) {
    Listing& listing = *static_cast<Listing*>(context);
    if (name == nullptr || name[0] == '\0') return;
    if (name[0] == '.' && (name[1] == '\0' || name[1] == '.')) return;  // ".", ".." and "..anything"
    ZUtils::String full;
    if (!full.Assign(listing.directory, listing.directoryLength) || !full.Append(name)) {
        listing.complete = false;
        return;
    }
    // Moved in: a copy would allocate the path again.
    const int32_t at = listing.files->Count();
    if (!listing.files->SetSize(at + 1)) {
        listing.complete = false;
        return;
    }
    (*listing.files)[at] = std::move(full);
    listing.any = true;
}

}  // namespace

bool FindFiles(const char* pattern, iArray<ZUtils::String>& files, bool* complete) noexcept {
    if (pattern == nullptr || pattern[0] == '\0') return false;
    size_t directoryLength = 0;  // up to and including the last separator
    for (size_t i = 0; pattern[i] != '\0'; ++i)
        if (pattern[i] == '/' || pattern[i] == '\\') directoryLength = i + 1;
    Listing listing{&files, pattern, directoryLength, false, true};
    KorPlatform::ListDirectory(pattern, OnListedEntry, &listing);
    if (!listing.complete && complete != nullptr) *complete = false;
    return listing.any;
}

void EnumFiles::Begin(const char*, int) noexcept {}

int EnumFiles::Enumerate(const char* path, int mode) noexcept {
    complete_ = true;
    if (path == nullptr) return 0;
    Begin(path, mode);
    iArray<ZUtils::String> files;
    if (HasFramePattern(path)) {
        const ZUtils::String pattern = ReplaceFramePattern(path, KorPaths::kNoFrame, "*", &complete_);
        if (!complete_) return 0;
        const bool listed = FindFiles(pattern.c_str(), files, &complete_);
        resultPath.Clear();
        if (!listed) return 0;
        for (const ZUtils::String& file : files)
            if (IsSequenceFrame(path, file.c_str(), nullptr, &complete_)) OnFile(file.c_str());
        return 1;
    }
    if (!FindFiles(path, files, &complete_)) return 0;
    resultPath.Assign(path);
    OnFile(path);
    return 1;
}

}  // namespace OstrelEnum
