// Enumeration of the files a cache path stands for: a path template stands
// for every existing file of its sequence, a plain path for itself.
#pragma once
#include "util/iarray.h"
#include "util/kor_string.h"

namespace OstrelEnum {

// Lists `pattern` (a path whose file name may hold '*' and '?') through the
// system's directory search. Appends each entry's full path (the pattern's
// directory part followed by the entry's name) in the system's order,
// leaving out ".", ".." and every name starting with "..". Returns true when
// at least one entry was appended. An entry that cannot be appended for lack
// of memory sets `*complete` (if given) to false.
bool FindFiles(const char* pattern, iArray<ZUtils::String>& files, bool* complete = nullptr) noexcept;

// Callback base: Enumerate hands every accepted file to OnFile.
class EnumFiles {
public:
    EnumFiles() noexcept = default;
    EnumFiles(const EnumFiles&) = delete;
    EnumFiles& operator=(const EnumFiles&) = delete;
    virtual ~EnumFiles() = default;
    // Called once before the search.
    virtual void Begin(const char* path, int mode) noexcept;
    // Called with the full path of each accepted file.
    virtual void OnFile(const char* fileName) noexcept = 0;

    // Finds the files `path` stands for and calls OnFile for each. Only the
    // exact-match mode (1) exists; every mode behaves as it. For a template,
    // a listed file counts when the template with that file's own frame
    // number reproduces its full path exactly (so badly padded files and
    // files without a number are passed over). Returns 1 when the listing
    // found anything (even if no file was accepted), else 0; 0 for null.
    int Enumerate(const char* path, int mode) noexcept;
    // False when memory ran out during the last Enumerate: files it stands
    // for may not have reached OnFile.
    bool Complete() const noexcept { return complete_; }

    // Emptied before a template search; `path` itself after a plain path was found.
    ZUtils::String resultPath;

private:
    bool complete_ = true;
};

}  // namespace OstrelEnum
