// File system paths from the UTF-8 names the library and the tools pass
// around (a plain std::string would be read in the system's code page on
// Windows).
#pragma once
#include <filesystem>
#include <string>

namespace KorTools {

inline std::filesystem::path Utf8Path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

}  // namespace KorTools
