// A path template given to the import (seq_####.f3d, as newIKor passes it
// on) stands for its sequence: the module imports the sequence's first frame.
#pragma once
#include <string>

namespace F3d {

// `path` itself when it names an existing file or holds no frame
// placeholder; else the file of the sequence with the lowest frame number
// whose name reproduces the template exactly (other paddings and prefixes
// do not count), or "" when the sequence has no file.
std::string ResolveSequencePath(const char* path);

}  // namespace F3d
