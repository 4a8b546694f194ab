// Where the cache reader's bytes come from: a file opened by name, or a block
// of memory (used by the fuzzers and by hosts of tests). Both behave like a
// binary stdio stream: seeking past the end is allowed, reading there fails.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace KorFrame {

class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual size_t Read(void* to, size_t bytes) noexcept = 0;  // bytes actually read
    virtual bool SeekTo(int64_t position) noexcept = 0;        // false for a negative position
    virtual bool SeekToEnd() noexcept = 0;
    virtual int64_t Tell() noexcept = 0;                      // -1 on failure
};

class FileSource final : public ByteSource {
public:
    explicit FileSource(const char* utf8Path) noexcept : file_(KorPlatform::OpenFileForReading(utf8Path)) {}
    ~FileSource() override { Close(); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    bool IsOpen() const noexcept { return file_ != nullptr; }
    void Close() noexcept {
        KorPlatform::CloseFile(file_);
        file_ = nullptr;
    }
    size_t Read(void* to, size_t bytes) noexcept override { return KorPlatform::ReadFile(file_, to, bytes); }
    bool SeekTo(int64_t position) noexcept override {
        return position >= 0 && KorPlatform::SeekFile(file_, position, KorPlatform::SeekFrom::Start);
    }
    bool SeekToEnd() noexcept override { return KorPlatform::SeekFile(file_, 0, KorPlatform::SeekFrom::End); }
    int64_t Tell() noexcept override { return KorPlatform::TellFile(file_); }

private:
    KorPlatform::File* file_;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(const void* data, size_t size) noexcept
        : data_(static_cast<const uint8_t*>(data)), size_(data ? size : 0) {}
    size_t Read(void* to, size_t bytes) noexcept override;
    bool SeekTo(int64_t position) noexcept override;
    bool SeekToEnd() noexcept override {
        position_ = static_cast<int64_t>(size_);
        return true;
    }
    int64_t Tell() noexcept override { return position_; }

private:
    const uint8_t* data_;
    size_t size_;
    int64_t position_ = 0;
};

}  // namespace KorFrame
