// Random access to the bytes of a file or of a memory block. Every read is
// checked against the real size first and either fills the whole
// destination or fails.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace PluginIo {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual uint64_t Size() const noexcept = 0;
    // Reads n bytes at `offset`; false when they are not all there.
    virtual bool ReadAt(uint64_t offset, void* to, size_t n) noexcept = 0;
    // All the bytes, when they are in memory (null otherwise).
    virtual const uint8_t* Contiguous() const noexcept { return nullptr; }
    // True when [offset, offset + n) lies inside the source.
    bool Holds(uint64_t offset, uint64_t n) const noexcept { return offset <= Size() && n <= Size() - offset; }
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, size_t size) noexcept : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
    uint64_t Size() const noexcept override { return size_; }
    bool ReadAt(uint64_t offset, void* to, size_t n) noexcept override;
    const uint8_t* Contiguous() const noexcept override { return data_; }

private:
    const uint8_t* data_;
    size_t size_;
};

// A file read through the platform layer, which opens regular files only.
class FileSource final : public ByteSource {
public:
    FileSource() noexcept = default;
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;
    ~FileSource() override;
    // Opens `path` (UTF-8) for reading and measures it.
    bool Open(const char* path) noexcept;
    uint64_t Size() const noexcept override { return size_; }
    bool ReadAt(uint64_t offset, void* to, size_t n) noexcept override;

private:
    KorPlatform::File* file_ = nullptr;
    uint64_t size_ = 0;
    uint64_t position_ = UINT64_MAX;  // where the stream stands, to skip needless seeks
};

// A whole regular file mapped into memory: reading touches only the pages
// read, and copies nothing but what is asked for.
class MappedFileSource final : public ByteSource {
public:
    MappedFileSource() noexcept = default;
    MappedFileSource(const MappedFileSource&) = delete;
    MappedFileSource& operator=(const MappedFileSource&) = delete;
    ~MappedFileSource() override { KorPlatform::UnmapFile(mapping_); }
    bool Open(const char* path) noexcept;
    uint64_t Size() const noexcept override { return mapping_.size; }
    bool ReadAt(uint64_t offset, void* to, size_t n) noexcept override;
    const uint8_t* Contiguous() const noexcept override { return Data(); }

private:
    const uint8_t* Data() const noexcept { return static_cast<const uint8_t*>(mapping_.data); }
    KorPlatform::FileMapping mapping_;
    bool open_ = false;
};

}  // namespace PluginIo
