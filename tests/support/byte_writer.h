// Little-endian byte building for test files and streams.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <vector>

namespace KorTest {

using Bytes = std::vector<uint8_t>;

class ByteWriter {
public:
    template <class T>
    ByteWriter& Put(T value) {
        static_assert(std::is_trivially_copyable<T>::value, "plain values only");
        const size_t at = bytes_.size();
        bytes_.resize(at + sizeof(T));
        std::memcpy(bytes_.data() + at, &value, sizeof(T));
        return *this;
    }
    ByteWriter& PutBytes(const void* data, size_t size) {
        if (size == 0) return *this;
        const size_t at = bytes_.size();
        bytes_.resize(at + size);
        std::memcpy(bytes_.data() + at, data, size);
        return *this;
    }
    ByteWriter& PutBytes(const Bytes& data) { return PutBytes(data.data(), data.size()); }
    // int32 byte count, then the bytes (no terminator).
    ByteWriter& PutString(const std::string& text) {
        Put<int32_t>(static_cast<int32_t>(text.size()));
        return PutBytes(text.data(), text.size());
    }
    // Zero bytes up to the next multiple of `alignment`.
    ByteWriter& PadTo(size_t alignment) {
        while (bytes_.size() % alignment) bytes_.push_back(0);
        return *this;
    }
    size_t Size() const { return bytes_.size(); }
    const Bytes& Get() const { return bytes_; }
    Bytes& Get() { return bytes_; }

private:
    Bytes bytes_;
};

// zlib-format compression of a byte block (level 6).
Bytes ZlibCompress(const void* data, size_t size);

// Writes bytes to a file; false on failure.
bool WriteFileBytes(const std::string& path, const Bytes& bytes);

}  // namespace KorTest
