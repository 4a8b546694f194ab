#include "codecs/particle_methods.h"

#include <cstring>
#include <new>

#include "codecs/sg_compressor.h"
#include "codecs/zip_block.h"
#include "util/iarray.h"
#include "util/nothrow_new.h"

namespace KorParticles {

namespace {

bool DecodePlain(const uint8_t* stored, size_t storedSize, size_t elementBytes, uint32_t* elements) noexcept {
    // Fewer stored bytes than the element array holds is a damaged channel:
    // the missing particles would otherwise be read from nowhere.
    if (storedSize < elementBytes) return false;
    std::memcpy(elements, stored, elementBytes);
    return true;
}

bool DecodeZip(const uint8_t* stored, size_t storedSize, void* dest, size_t destBytes) noexcept {
    if (storedSize > UINT32_MAX || destBytes > UINT32_MAX) return false;
    return ZipDecompress(stored, static_cast<uint32_t>(storedSize), dest, static_cast<uint32_t>(destBytes));
}

SGCompressor<1>* DecoderState(SGCompressor<1>*& decoder) noexcept {
    if (decoder == nullptr) decoder = newObject<SGCompressor<1>>();
    return decoder;
}

// Methods 2 and 3. A stream that does not fill exactly `values` floats is
// refused before anything is written.
bool DecodeSparse(const uint8_t* stored, size_t storedSize, size_t values, SGCompressor<1>*& decoder,
                  float* out) noexcept {
    size_t declared = 0;
    if (!SGStreamValueCount<1>(stored, storedSize, declared) || declared != values) return false;
    SGCompressor<1>* state = DecoderState(decoder);
    return state != nullptr && state->Decompress(stored, storedSize, out, values);
}

bool DecodeSparseComponentMajor(const uint8_t* stored, size_t storedSize, int32_t count, int words,
                                SGCompressor<1>*& decoder, uint32_t* elements) noexcept {
    const size_t values = static_cast<size_t>(count) * static_cast<size_t>(words);
    iArray<uint32_t, int64_t> temporary;
    if (!temporary.SetSize(static_cast<int64_t>(values), nullptr, true)) return false;
    if (!DecodeSparse(stored, storedSize, values, decoder, reinterpret_cast<float*>(temporary.Data()))) return false;
    ReorderComponentMajor(temporary.Data(), count, words, elements);
    return true;
}

bool DecodeBitPlanes(const uint8_t* stored, size_t storedSize, int32_t count, int words,
                     uint32_t* elements) noexcept {
    const int64_t planeWords = (static_cast<int64_t>(count) + 31) / 32;
    const int64_t totalWords = planeWords * 32 * words;
    if (totalWords > static_cast<int64_t>(UINT32_MAX / 4)) return false;
    // Zero filled: a block that inflates to less leaves clear bits, not garbage.
    iArray<uint32_t, int64_t> planes;
    if (!planes.SetSize(totalWords, nullptr, true)) return false;
    if (!DecodeZip(stored, storedSize, planes.Data(), static_cast<size_t>(totalWords) * 4)) return false;
    PRTIN rebuild;
    rebuild.planes = planes.Data();
    rebuild.count = count;
    rebuild.words = words;
    rebuild.elements = elements;
    if (!rebuild.InitJobs() || !rebuild.SetItemCount(count) || !rebuild.SetProcedure(&rebuild, &PRTIN::Rebuild))
        return false;
    rebuild.RunProcedure(nullptr);
    return true;
}

}  // namespace

bool StoredBytesFit(uint32_t method, const uint8_t* stored, size_t storedSize, int64_t elementBytes) noexcept {
    if (elementBytes <= 0) return true;  // nothing to fill
    size_t declared = 0;
    switch (method) {
        case kMethodPlain:
            return storedSize >= static_cast<uint64_t>(elementBytes);
        case kMethodSparse:
        case kMethodSparseComponentMajor:
            return SGStreamValueCount<1>(stored, storedSize, declared) &&
                   declared == static_cast<uint64_t>(elementBytes / 4);
        default:
            return true;
    }
}

bool DecodeParticleChannel(uint32_t method, const uint8_t* stored, size_t storedSize, int32_t count, int words,
                           SGCompressor<1>*& decoder, uint32_t* elements) noexcept {
    if (method > kHighestMethod || count < 0 || words < 0) return false;
    // No element bytes (ids 6 to 8, or no particles): nothing to decode,
    // whatever the method; in particular no bit-plane rebuild.
    if (words == 0 || count == 0) return true;
    const size_t elementBytes = static_cast<size_t>(count) * static_cast<size_t>(words) * 4;
    switch (method) {
        case kMethodPlain:
            return DecodePlain(stored, storedSize, elementBytes, elements);
        case kMethodZip:
            return DecodeZip(stored, storedSize, elements, elementBytes);
        case kMethodSparse:
            return DecodeSparse(stored, storedSize, elementBytes / 4, decoder, reinterpret_cast<float*>(elements));
        case kMethodSparseComponentMajor:
            return DecodeSparseComponentMajor(stored, storedSize, count, words, decoder, elements);
        default:
            return DecodeBitPlanes(stored, storedSize, count, words, elements);
    }
}

void ReorderComponentMajor(const uint32_t* t, int32_t count, int words, uint32_t* elements) noexcept {
    const size_t n = static_cast<size_t>(count);
    const size_t w = static_cast<size_t>(words);
    if (w == 3) {
        // The common case (position, velocity, colour): one pass, three streams.
        const uint32_t* x = t;
        const uint32_t* y = t + n;
        const uint32_t* z = t + 2 * n;
        for (size_t i = 0; i < n; ++i) {
            elements[3 * i] = x[i];
            elements[3 * i + 1] = y[i];
            elements[3 * i + 2] = z[i];
        }
        return;
    }
    for (size_t j = 0; j < w; ++j)
        for (size_t i = 0; i < n; ++i) elements[i * w + j] = t[j * n + i];
}

}  // namespace KorParticles
