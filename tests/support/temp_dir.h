// A fresh directory for one test's files, removed afterwards.
#pragma once
#include <filesystem>
#include <string>

namespace KorTest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    // Full path of a file in the directory, as a narrow (UTF-8) string.
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

}  // namespace KorTest
