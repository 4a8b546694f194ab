// Windows implementation of the platform layer. Narrow names are UTF-8 and
// reach the wide-character calls through the conversion rule of util/utf8.h,
// so that no byte of a name is lost; names coming back from the system are
// converted the inverse way.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// winbase.h defines FreeModule as a macro for FreeLibrary.
#undef FreeModule

#include <io.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/platform.h"
#include "util/alloc.h"
#include "util/utf8.h"

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wide names are UTF-16");
static_assert(sizeof(KorPlatform::NativeCriticalSection) == sizeof(CRITICAL_SECTION), "critical section storage");
static_assert(alignof(KorPlatform::NativeCriticalSection) >= alignof(CRITICAL_SECTION), "critical section alignment");

namespace KorPlatform {
namespace {

// The UTF-16 form of a narrow name, terminated; null when the name is null
// or empty, or when a long name's buffer cannot be allocated. Names of common
// length are converted on the stack, so opening a file makes no allocation
// that could fail on this system but not on others.
class WideName {
public:
    explicit WideName(const char* utf8) noexcept {
        if (utf8 == nullptr || utf8[0] == '\0') return;
        const size_t bytes = std::strlen(utf8);
        const size_t units = ZUtils::Utf16UnitsFor(utf8, bytes);
        char16_t* to = small_;
        if (units >= kSmallUnits) {
            if (units > (SIZE_MAX / sizeof(char16_t)) - 1) return;
            heap_ = static_cast<char16_t*>(ZUtils::AllocBytes((units + 1) * sizeof(char16_t)));
            if (heap_ == nullptr) return;
            to = heap_;
        }
        ZUtils::ConvertUtf8ToUtf16(utf8, bytes, to);
        to[units] = 0;
        wide_ = to;
    }
    ~WideName() { ZUtils::FreeBytes(heap_); }
    WideName(const WideName&) = delete;
    WideName& operator=(const WideName&) = delete;

    const wchar_t* get() const noexcept { return reinterpret_cast<const wchar_t*>(wide_); }

private:
    static constexpr size_t kSmallUnits = 1024;
    char16_t small_[kSmallUnits];
    char16_t* heap_ = nullptr;
    const char16_t* wide_ = nullptr;
};

CRITICAL_SECTION* Native(NativeCriticalSection& cs) noexcept { return reinterpret_cast<CRITICAL_SECTION*>(cs.storage); }

}  // namespace

// --- Files

struct File {
    FILE* stream;
};

File* OpenFileForReading(const char* utf8Path) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return nullptr;
    const WideName name(utf8Path);
    if (name.get() == nullptr) return nullptr;
    // Only files on disk: pipes and devices are refused (directories do not open).
    if (!IsRegularFile(utf8Path)) return nullptr;
    FILE* f = _wfopen(name.get(), L"rb");
    if (f == nullptr) return nullptr;
    if (GetFileType(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f)))) != FILE_TYPE_DISK) {
        std::fclose(f);
        return nullptr;
    }
    File* file = new (std::nothrow) File{f};
    if (file == nullptr) std::fclose(f);
    return file;
}

void CloseFile(File* file) noexcept {
    if (file == nullptr) return;
    std::fclose(file->stream);
    delete file;
}

size_t ReadFile(File* file, void* to, size_t bytes) noexcept {
    if (file == nullptr || bytes == 0) return 0;
    return std::fread(to, 1, bytes, file->stream);
}

bool SeekFile(File* file, int64_t offset, SeekFrom from) noexcept {
    if (file == nullptr) return false;
    return _fseeki64(file->stream, offset, from == SeekFrom::End ? SEEK_END : SEEK_SET) == 0;
}

int64_t TellFile(File* file) noexcept {
    if (file == nullptr) return -1;
    return _ftelli64(file->stream);
}

bool FileExists(const char* utf8Path) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return false;
    const WideName name(utf8Path);
    return name.get() != nullptr && _waccess(name.get(), 0) == 0;
}

bool IsRegularFile(const char* utf8Path) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return false;
    const WideName name(utf8Path);
    if (name.get() == nullptr) return false;
    const DWORD attributes = GetFileAttributesW(name.get());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
}

bool MapFileForReading(const char* utf8Path, FileMapping& out) noexcept {
    if (!IsRegularFile(utf8Path)) return false;
    const WideName name(utf8Path);
    if (name.get() == nullptr) return false;
    HANDLE file = CreateFileW(name.get(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size;
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileSizeEx(file, &size) || size.QuadPart < 0) {
        CloseHandle(file);
        return false;
    }
    out = FileMapping();
    if (size.QuadPart > 0) {
        HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
        const void* view = mapping ? MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0) : nullptr;
        if (mapping) CloseHandle(mapping);
        if (view == nullptr) {
            CloseHandle(file);
            return false;
        }
        out.data = view;
        out.size = static_cast<uint64_t>(size.QuadPart);
    }
    CloseHandle(file);
    return true;
}

void UnmapFile(FileMapping& mapping) noexcept {
    if (mapping.data != nullptr) UnmapViewOfFile(mapping.data);
    mapping = FileMapping();
}

void AppendTextToFile(const char* utf8Path, const char* text) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0' || text == nullptr) return;
    const WideName name(utf8Path);
    if (name.get() == nullptr) return;
    FILE* f = _wfopen(name.get(), L"a");
    if (f == nullptr) return;
    std::fputs(text, f);
    std::fclose(f);
}

// --- Critical sections (recursive by nature)

CriticalSection::CriticalSection() noexcept { InitializeCriticalSection(Native(native_)); }

CriticalSection::~CriticalSection() { DeleteCriticalSection(Native(native_)); }

void CriticalSection::Enter() noexcept { EnterCriticalSection(Native(native_)); }

void CriticalSection::Leave() noexcept { LeaveCriticalSection(Native(native_)); }

// --- The log mutex: unnamed, made on first use and kept for the life of the
// process (the log still runs while the library is being unloaded). Two
// threads racing to make it agree on one handle; the loser closes its own.

namespace {
std::atomic<HANDLE> g_logMutex{nullptr};

HANDLE LogMutex() noexcept {
    HANDLE mutex = g_logMutex.load(std::memory_order_acquire);
    if (mutex != nullptr) return mutex;
    HANDLE fresh = CreateMutexW(nullptr, FALSE, nullptr);
    if (fresh == nullptr) return nullptr;
    if (g_logMutex.compare_exchange_strong(mutex, fresh, std::memory_order_acq_rel)) return fresh;
    CloseHandle(fresh);
    return mutex;
}
}  // namespace

void LockLog() noexcept {
    // An abandoned mutex (its owner thread ended while holding it) is still
    // ours; the log must never stall for it. Without a mutex the log runs
    // unguarded rather than not at all.
    if (HANDLE mutex = LogMutex()) WaitForSingleObject(mutex, INFINITE);
}

void UnlockLog() noexcept {
    if (HANDLE mutex = g_logMutex.load(std::memory_order_acquire)) ReleaseMutex(mutex);
}

// --- Debugger output

void OutputDebugText(const char* text) noexcept {
    if (text != nullptr) OutputDebugStringA(text);
}

// --- Dynamic modules

void* LoadModule(const char* utf8Path) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return nullptr;
    const WideName name(utf8Path);
    if (name.get() == nullptr) return nullptr;
    // A module that cannot be loaded is reported by a null handle, never by
    // a message box in front of the host.
    DWORD oldMode = 0;
    const BOOL modeSet = SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE module = LoadLibraryW(name.get());
    if (modeSet) SetThreadErrorMode(oldMode, nullptr);
    return reinterpret_cast<void*>(module);
}

void* FindModuleSymbol(void* module, const char* name) noexcept {
    if (module == nullptr || name == nullptr) return nullptr;
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

void FreeModule(void* module) noexcept {
    if (module != nullptr) FreeLibrary(static_cast<HMODULE>(module));
}

const char* ModuleExtension() noexcept { return ".dll"; }

// --- Directory listing

bool ListDirectory(const char* utf8Pattern, ListCallback onEntry, void* context) noexcept {
    if (utf8Pattern == nullptr || utf8Pattern[0] == '\0' || onEntry == nullptr) return false;
    const WideName pattern(utf8Pattern);
    if (pattern.get() == nullptr) return false;
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileW(pattern.get(), &entry);
    if (find == INVALID_HANDLE_VALUE) return false;
    // A name holds at most MAX_PATH units; each gives back at most 3 bytes
    // (a surrogate pair, 2 units, gives 4).
    char name[3 * MAX_PATH + 1];
    do {
        const char16_t* wide = reinterpret_cast<const char16_t*>(entry.cFileName);
        size_t units = 0;
        while (units < MAX_PATH && wide[units] != 0) ++units;
        const size_t bytes = ZUtils::Utf8BytesFor(wide, units);
        if (bytes >= sizeof name) continue;
        ZUtils::ConvertUtf16ToUtf8(wide, units, name);
        name[bytes] = '\0';
        onEntry(context, name);
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return true;
}

// --- Memory

// Large pages on Windows need a privilege hosts rarely hold, and only memory
// made by VirtualAlloc can have them: arrays stay on normal pages.
void AdviseHugePages(void* /*start*/, size_t /*bytes*/) noexcept {}

}  // namespace KorPlatform
