#include "paths/frame_paths.h"

#include <cstring>

ZUtils::String GetExtension(const char* path) noexcept {
    ZUtils::String extension;
    if (path == nullptr) return extension;
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr) return extension;
    for (const char* c = dot + 1; *c != '\0'; ++c)
        extension.Append(*c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c);
    return extension;
}
