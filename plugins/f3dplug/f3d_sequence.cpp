#include "f3d_sequence.h"

#include <cstring>
#include <filesystem>
#include <system_error>

#include "paths/frame_paths.h"

namespace F3d {

std::string ResolveSequencePath(const char* path) {
    if (!path) return std::string();
    std::error_code error;
    if (!HasFramePattern(path) || std::filesystem::exists(std::filesystem::path(path), error)) return path;
    // The directory part, separator included, is kept as written.
    const char* slash = std::strrchr(path, '/');
    const char* backslash = std::strrchr(path, '\\');
    const char* last = slash > backslash ? slash : backslash;
    const std::string directory = last ? std::string(path, static_cast<size_t>(last - path + 1)) : std::string();
    std::string best;
    int bestFrame = 0;
    // Paths are UTF-8 bytes on this system, taken as they are.
    std::filesystem::directory_iterator it(std::filesystem::path(directory.empty() ? std::string(".") : directory),
                                           error);
    for (; !error && it != std::filesystem::directory_iterator(); it.increment(error)) {
        const std::string full = directory + it->path().filename().string();
        const int frame = ParseFrameNumber(full.c_str());
        if (frame == KorPaths::kNoFrame) continue;
        if (!ReplaceFramePattern(path, frame, "").Equals(full.c_str())) continue;
        if (best.empty() || frame < bestFrame) {
            best = full;
            bestFrame = frame;
        }
    }
    return best;
}

}  // namespace F3d
