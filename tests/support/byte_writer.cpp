#include "support/byte_writer.h"

#include <zlib.h>

#include <cstdio>

#include "support/native_path.h"

namespace KorTest {

Bytes ZlibCompress(const void* data, size_t size) {
    uLongf capacity = compressBound(static_cast<uLong>(size));
    Bytes out(capacity);
    if (compress2(out.data(), &capacity, static_cast<const Bytef*>(data), static_cast<uLong>(size), 6) != Z_OK)
        return {};
    out.resize(capacity);
    return out;
}

bool WriteFileBytes(const std::string& path, const Bytes& bytes) {
    FILE* f = OpenNarrow(path, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace KorTest
