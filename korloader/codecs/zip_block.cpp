#include "codecs/zip_block.h"

#include <zlib.h>

#include <cstring>

#include "diag/log.h"
#include "util/alloc.h"

namespace {
// zlib's own state goes through the library's allocator so that allocation
// failures inside zlib can be exercised too.
voidpf ZlibAlloc(voidpf, uInt items, uInt size) {
    if (size != 0 && items > static_cast<uInt>(-1) / size) return Z_NULL;
    return ZUtils::AllocBytes(static_cast<size_t>(items) * size);
}
void ZlibFree(voidpf, voidpf address) { ZUtils::FreeBytes(address); }
}  // namespace

bool ZipDecompress(const void* block, uint32_t blockSize, void* dest, uint32_t destSize) noexcept {
    z_stream stream;
    std::memset(&stream, 0, sizeof stream);
    stream.next_in = static_cast<Bytef*>(const_cast<void*>(block));
    stream.avail_in = blockSize;
    stream.next_out = static_cast<Bytef*>(dest);
    stream.avail_out = destSize;
    stream.zalloc = ZlibAlloc;
    stream.zfree = ZlibFree;
    int result = inflateInit_(&stream, "1.1.4", static_cast<int>(sizeof(z_stream)));
    if (result != Z_OK) {
        LogPrint("Error decompressing Zip (%d)\n", result);
        return false;
    }
    result = inflate(&stream, Z_SYNC_FLUSH);
    if (result != Z_STREAM_END) LogPrint("Error decompressing Zip (%d)\n", result);
    inflateEnd(&stream);
    return result == Z_STREAM_END;
}
