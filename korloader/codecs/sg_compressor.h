// Placeholder of the sparse-grid decompressor; replaced by the real codec.
#pragma once
#include <cstddef>
#include <cstdint>

#include "jobs/mt_jobs.h"

template <int D>
class SGCompressor : public MTJobs {
public:
    // Decodes the stream at source (sourceSize bytes) into out, which holds
    // outCount floats. False when the stream is not valid or does not fit.
    bool Decompress(const uint8_t* source, size_t sourceSize, float* out, size_t outCount) noexcept {
        (void)source, (void)sourceSize, (void)out, (void)outCount;
        return false;
    }
};
