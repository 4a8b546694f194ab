// The frames a tool's input stands for, by the library's own template rules
// (a run of '#', %04d, %u, <frame04>; see paths/frame_paths.h).
#pragma once
#include <string>
#include <vector>

namespace KorTools {

struct SequenceFile {
    int frame = 0;     // the number in the file's name (KorPaths::kNoFrame for none)
    std::string path;
};

// True when `path` is a sequence template rather than one file.
bool IsSequenceTemplate(const std::string& path);

// The template with `frame` in place of its placeholder.
std::string SequenceFramePath(const std::string& templatePath, int frame);

// For a template: every existing file of its sequence, in frame order (a
// file counts when the template with its own number reproduces its path
// exactly). For a plain path: that path, when it names an existing file.
std::vector<SequenceFile> ListSequence(const std::string& path);

}  // namespace KorTools
