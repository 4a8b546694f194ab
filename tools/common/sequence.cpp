#include "common/sequence.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "paths/frame_paths.h"

namespace KorTools {

bool IsSequenceTemplate(const std::string& path) { return HasFramePattern(path.c_str()) != 0; }

std::string SequenceFramePath(const std::string& templatePath, int frame) {
    return ReplaceFramePattern(templatePath.c_str(), frame, "").c_str();
}

std::vector<SequenceFile> ListSequence(const std::string& path) {
    std::vector<SequenceFile> files;
    std::error_code error;
    if (!IsSequenceTemplate(path)) {
        if (std::filesystem::exists(path, error)) files.push_back({ParseFrameNumber(path.c_str()), path});
        return files;
    }
    // The directory part is plain text: only the file name holds the placeholder.
    const size_t slash = path.find_last_of("/\\");
    const std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    for (std::filesystem::directory_iterator it(directory.empty() ? "." : directory, error), end; !error && it != end;
         it.increment(error)) {
        const std::string candidate = directory + it->path().filename().string();
        int frame = 0;
        if (IsSequenceFrame(path.c_str(), candidate.c_str(), &frame)) files.push_back({frame, candidate});
    }
    std::sort(files.begin(), files.end(),
              [](const SequenceFile& a, const SequenceFile& b) { return a.frame < b.frame; });
    return files;
}

}  // namespace KorTools
