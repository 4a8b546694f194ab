// The fuzz input as a file, for readers that take a path (OpenVDB, HDF5):
// one file per process, rewritten for every input.
#pragma once
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

inline const char* InputAsFile(const uint8_t* data, size_t size, const char* extension) {
    static const std::string path = "/tmp/kor_fuzz_" + std::to_string(getpid()) + extension;
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return nullptr;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return (std::fclose(f) == 0 && ok) ? path.c_str() : nullptr;
}
