// One-call inflation of a zlib-format block into a buffer of known size.
#pragma once
#include <cstdint>

// Inflates the whole block into dest. True only when inflation reaches the
// end of the zlib stream; otherwise logs "Error decompressing Zip (%d)\n"
// with zlib's result and the content of dest is unspecified. Bytes of dest
// beyond the inflated data are not written.
bool ZipDecompress(const void* block, uint32_t blockSize, void* dest, uint32_t destSize) noexcept;
