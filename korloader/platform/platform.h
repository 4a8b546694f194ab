// The small layer that stands in for the operating system's kernel services.
// No other directory of the library calls the operating system. Narrow names
// are UTF-8; where the system wants wide names they are converted by the rule
// of util/utf8.h.
#pragma once
#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#include "platform/windows.h"
#else
#include "platform/posix.h"
#endif

namespace KorPlatform {

// --- Files: buffered binary reading with 64-bit seek and tell. Only regular
// files (or links to them) are opened: a FIFO would block the reader for
// good, and a device or directory is no cache file.
struct File;
File* OpenFileForReading(const char* utf8Path) noexcept;  // null if it cannot be opened or is not a regular file
void CloseFile(File* file) noexcept;
size_t ReadFile(File* file, void* to, size_t bytes) noexcept;  // bytes actually read
enum class SeekFrom { Start, End };
bool SeekFile(File* file, int64_t offset, SeekFrom from) noexcept;
int64_t TellFile(File* file) noexcept;  // -1 on failure
bool FileExists(const char* utf8Path) noexcept;
// True for a regular file or a link to one.
bool IsRegularFile(const char* utf8Path) noexcept;
// A whole regular file mapped read-only; `data` is null for an empty file.
struct FileMapping {
    const void* data = nullptr;
    uint64_t size = 0;
    void* native = nullptr;
};
bool MapFileForReading(const char* utf8Path, FileMapping& out) noexcept;  // false as OpenFileForReading
void UnmapFile(FileMapping& mapping) noexcept;
// Appends text to a file, creating it; used only by the log.
void AppendTextToFile(const char* utf8Path, const char* text) noexcept;

// --- Critical section (recursive, like the Windows one). Not copyable.
class CriticalSection {
public:
    CriticalSection() noexcept;
    ~CriticalSection();
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;
    void Enter() noexcept;
    void Leave() noexcept;

private:
    NativeCriticalSection native_;
};

class ScopedLock {
public:
    explicit ScopedLock(CriticalSection& cs) noexcept : cs_(cs) { cs_.Enter(); }
    ~ScopedLock() { cs_.Leave(); }
    ScopedLock(const ScopedLock&) = delete;
    ScopedLock& operator=(const ScopedLock&) = delete;

private:
    CriticalSection& cs_;
};

// --- The log's process-wide mutex.
void LockLog() noexcept;
void UnlockLog() noexcept;

// --- Debugger output. On POSIX the text goes to standard error only while a
// debugger is attached, as the Windows call effectively behaves.
void OutputDebugText(const char* text) noexcept;

// --- Dynamic modules.
void* LoadModule(const char* utf8Path) noexcept;  // null on failure
void* FindModuleSymbol(void* module, const char* name) noexcept;
void FreeModule(void* module) noexcept;
// Extension of module file names on this system (".dll" or ".so").
const char* ModuleExtension() noexcept;

// --- Directory listing, like FindFirstFile/FindNextFile: `pattern` is a path
// whose last component may hold the wildcards '*' and '?'. Calls `onEntry`
// with each matching entry's bare name in the order the system lists them,
// "." and ".." included (the caller filters). Returns false when nothing
// could be listed.
using ListCallback = void (*)(void* context, const char* utf8Name);
bool ListDirectory(const char* utf8Pattern, ListCallback onEntry, void* context) noexcept;

// --- Memory. Asks the system to back the whole huge pages (2 MiB on x86-64
// Linux) inside [start, start + bytes) with huge pages when they are first
// touched: a few faults instead of one per 4 KiB page, and fewer TLB misses.
// Only advice: the memory stays the caller's, allocated and freed as before.
// Call it before the range is touched; pages already there are not changed.
// A no-op where the system has no such advice.
void AdviseHugePages(void* start, size_t bytes) noexcept;

}  // namespace KorPlatform
