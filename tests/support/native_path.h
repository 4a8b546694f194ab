// File-system names for the narrow (UTF-8) names the tests hand the library.
// On POSIX a name is its bytes. On Windows the library turns a narrow name
// into UTF-16 by its own rule: well-formed UTF-8 becomes its code points, and
// every other byte is carried as the code point U+100000 plus the byte. Files
// the tests make for the library must be named the same way, which neither
// the narrow C run-time calls nor std::filesystem do (they use the ANSI code
// page), so the tests make them through these helpers.
#pragma once
#include <cstdio>
#include <filesystem>
#include <string>

namespace KorTest {

// The path the library means by a narrow name.
std::filesystem::path NativePath(const std::string& utf8);
// The narrow name by which the library reaches a path (the inverse).
std::string NarrowName(const std::filesystem::path& path);
// std::fopen for a narrow name.
FILE* OpenNarrow(const std::string& utf8Path, const char* mode);

}  // namespace KorTest
