// One sparse-grid stream (single or zoned) decoded into a destination of a
// given size, by a decoder object that is reused as the frame and the
// particle groups reuse theirs.
//
// Input: byte 0 selects the dimension (bit 0: 1-D, else 3-D), the widest
// grid kernel (bits 1-2: 512, 256 or 128 bits) and streaming stores for
// any destination (bit 3); bytes 1..3 the destination size in floats (the
// low 18 of their 24 bits); the rest is the stream. The size is kept to 1 MiB so that every input decodes in
// milliseconds: larger destinations only made the run slower (a few hundred
// inputs a second) without reaching any other code. The
// destination is a heap array of exactly that size, so AddressSanitizer
// catches any write outside it.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <new>

#include "codecs/sg_compressor.h"
#include "fuzz_options.h"

namespace {

template <int D>
void Decode(const uint8_t* stream, size_t size, size_t count) {
    float* out = new (std::nothrow) float[count ? count : 1];
    if (out == nullptr) return;
    SGCompressor<D>* decoder = new (std::nothrow) SGCompressor<D>();
    if (decoder != nullptr) {
        // Twice with the same object: the job list of a zoned stream is kept.
        for (int pass = 0; pass < 2; ++pass) {
            if (decoder->Decompress(stream, size, out, count)) {
                // Whatever decoded is read, so uninitialised or stale values show.
                volatile float sink = 0;
                for (size_t i = 0; i < count; ++i) sink = sink + out[i];
            }
        }
        delete decoder;
    }
    delete[] out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    const size_t count = static_cast<size_t>(data[1]) | static_cast<size_t>(data[2]) << 8 |
                         static_cast<size_t>(data[3] & 0x03) << 16;
    SGGridTuning tuning;
    tuning.vectorBits = 512 >> ((data[0] >> 1) & 3);  // 64 falls back to 128
    if (data[0] & 8) tuning.streamedValues = 0;
    SGSetGridTuning(tuning);
    if (data[0] & 1)
        Decode<1>(data + 4, size - 4, count);
    else
        Decode<3>(data + 4, size - 4, count);
    return 0;
}
