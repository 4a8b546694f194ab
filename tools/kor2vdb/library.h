// The library as kor2vdb's worker threads share it: its factories,
// deleteIKor() and initalizeKoraLoader() are called from one thread at a
// time, so they go through one lock here; a frame, once open, is read from
// its worker's thread without it.
#pragma once
#include <mutex>
#include <string>

class IKor;

namespace Kor2Vdb {

class Library {
public:
    // Loads the import modules from `directory` (initalizeKoraLoader).
    void LoadModules(const std::string& directory);
    bool Field3DReady() const { return (modules_ & 1) != 0; }
    bool OpenVdbReady() const { return (modules_ & 2) != 0; }
    const std::string& ModuleDirectory() const { return moduleDirectory_; }

    // Why `path` cannot be opened, when that can be told before trying
    // (missing, not a regular file, unknown extension, no import module);
    // "" when it is worth opening.
    std::string InputProblem(const std::string& path) const;

    IKor* Open(const std::string& path);
    void Release(IKor* frame);

private:
    std::mutex mutex_;
    int modules_ = 0;
    std::string moduleDirectory_;
};

// A frame given back to the library when it goes out of scope.
class OpenFrame {
public:
    OpenFrame(Library& library, const std::string& path) : library_(library), frame_(library.Open(path)) {}
    ~OpenFrame() { Close(); }
    OpenFrame(const OpenFrame&) = delete;
    OpenFrame& operator=(const OpenFrame&) = delete;
    IKor* get() const { return frame_; }
    IKor* operator->() const { return frame_; }
    explicit operator bool() const { return frame_ != nullptr; }
    void Close() {
        if (frame_) library_.Release(frame_);
        frame_ = nullptr;
    }

private:
    Library& library_;
    IKor* frame_;
};

// The lower-cased extension of a path ("kor"), "" without one.
std::string ExtensionOf(const std::string& path);

}  // namespace Kor2Vdb
