// Preview pictures as PNG files, written with libpng whole or not at all: a
// temporary file beside the target, renamed over it once complete. A build
// without libpng has no PNG output (PngAvailable() is false).
#pragma once
#include <string>

#include "preview.h"

namespace KorInfo {

bool PngAvailable();

// False, with the reason, when the file could not be written; then nothing
// is left behind and an existing file of that name is untouched.
bool WritePng(const std::string& path, const Picture& picture, std::string& reason);

}  // namespace KorInfo
