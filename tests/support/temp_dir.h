// A fresh directory for one test's files, removed afterwards.
#pragma once
#include <filesystem>
#include <string>

#include "support/native_path.h"

namespace KorTest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // Full path of a file in the directory, as the narrow (UTF-8) name the
    // library takes (support/native_path.h).
    std::string File(const std::string& name) const { return NarrowName(path_ / NativePath(name)); }

private:
    std::filesystem::path path_;
};

}  // namespace KorTest
