// One entropy-coded block with a token count: expanded with run markers
// into exactly that many values, and read token by token as the particle
// ID reader does.
//
// Input: bytes 0..2 the token count (the low 18 of their 24 bits: up to a
// million values decode in milliseconds, more only slowed the run); byte 3 bit 0 selects
// DecodeOne (else DecodeAndExpand); bytes 4..7 the base; the rest is the
// block, in a buffer of exactly its size.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "codecs/entropy_coder.h"
#include "fuzz_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8) return 0;
    const size_t count = static_cast<size_t>(data[0]) | static_cast<size_t>(data[1]) << 8 |
                         static_cast<size_t>(data[2] & 0x03) << 16;
    const bool oneByOne = data[3] & 1;
    int32_t base;
    std::memcpy(&base, data + 4, 4);
    const size_t blockSize = size - 8;
    uint8_t* block = new (std::nothrow) uint8_t[blockSize ? blockSize : 1];
    AliasedInt32* out = new (std::nothrow) AliasedInt32[count ? count : 1];
    if (block != nullptr && out != nullptr) {
        std::memcpy(block, data + 8, blockSize);
        EntropyCoder coder;
        if (coder.InitDecoder(block, blockSize, count)) {
            if (oneByOne) {
                // Two tokens per particle, low word first, as the ID reader reads them.
                int64_t sum = 0;
                for (size_t i = 0; i < count && !coder.Failed(); ++i) {
                    const uint32_t low = static_cast<uint32_t>(coder.DecodeOne());
                    const uint32_t high = static_cast<uint32_t>(coder.DecodeOne());
                    sum = static_cast<int64_t>(static_cast<uint64_t>(sum) + ((uint64_t{high} << 32) | low));
                }
                if (coder.BytesConsumed() > blockSize) __builtin_trap();
            } else if (coder.DecodeAndExpand(out, count, base)) {
                volatile uint32_t sink = 0;
                for (size_t i = 0; i < count; ++i) sink = sink + static_cast<uint32_t>(out[i]);
                if (coder.BytesConsumed() > blockSize) __builtin_trap();
            }
        }
        // Re-initialised on another block: the old table and tree go.
        const uint8_t direct[8] = {2, 0, 0, 0, 0, 0x40, 0, 0};
        if (coder.InitDecoder(direct, sizeof direct, 4)) coder.DecodeAndExpand(out, count < 4 ? count : 4, 0);
    }
    delete[] block;
    delete[] out;
    return 0;
}
