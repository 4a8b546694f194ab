// POSIX implementation of the platform layer.
#include "platform/platform.h"

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace KorPlatform {

// The opaque File is the stdio stream itself: opening allocates nothing of
// the library's own, so running out of memory cannot pass for a missing file.
namespace {
FILE* Stream(File* file) noexcept { return reinterpret_cast<FILE*>(file); }
}  // namespace

namespace {
// A descriptor of a regular file, opened without waiting: a FIFO opened for
// reading would wait for a writer forever. -1 on failure.
int OpenRegular(const char* utf8Path, off_t* size) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return -1;
    const int fd = open(utf8Path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st;
    const int flags = fcntl(fd, F_GETFL);
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        close(fd);
        return -1;
    }
    if (size != nullptr) *size = st.st_size;
    return fd;
}
}  // namespace

File* OpenFileForReading(const char* utf8Path) noexcept {
    const int fd = OpenRegular(utf8Path, nullptr);
    if (fd < 0) return nullptr;
    FILE* f = fdopen(fd, "rb");
    if (f == nullptr) close(fd);
    return reinterpret_cast<File*>(f);
}

bool IsRegularFile(const char* utf8Path) noexcept {
    struct stat st;
    return utf8Path != nullptr && stat(utf8Path, &st) == 0 && S_ISREG(st.st_mode);
}

bool MapFileForReading(const char* utf8Path, FileMapping& out) noexcept {
    off_t size = 0;
    const int fd = OpenRegular(utf8Path, &size);
    if (fd < 0) return false;
    out = FileMapping();
    if (size > 0) {
        void* p = mmap(nullptr, static_cast<size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (p == MAP_FAILED) {
            close(fd);
            return false;
        }
        out.data = p;
        out.size = static_cast<uint64_t>(size);
    }
    close(fd);
    return true;
}

void UnmapFile(FileMapping& mapping) noexcept {
    if (mapping.data != nullptr) munmap(const_cast<void*>(mapping.data), static_cast<size_t>(mapping.size));
    mapping = FileMapping();
}

void CloseFile(File* file) noexcept {
    if (file != nullptr) std::fclose(Stream(file));
}

size_t ReadFile(File* file, void* to, size_t bytes) noexcept {
    if (file == nullptr || bytes == 0) return 0;
    return std::fread(to, 1, bytes, Stream(file));
}

bool SeekFile(File* file, int64_t offset, SeekFrom from) noexcept {
    if (file == nullptr) return false;
    return fseeko(Stream(file), static_cast<off_t>(offset), from == SeekFrom::End ? SEEK_END : SEEK_SET) == 0;
}

int64_t TellFile(File* file) noexcept {
    if (file == nullptr) return -1;
    return static_cast<int64_t>(ftello(Stream(file)));
}

bool FileExists(const char* utf8Path) noexcept { return utf8Path != nullptr && access(utf8Path, F_OK) == 0; }

void AppendTextToFile(const char* utf8Path, const char* text) noexcept {
    FILE* f = std::fopen(utf8Path, "a");
    if (f == nullptr) return;
    std::fputs(text, f);
    std::fclose(f);
}

CriticalSection::CriticalSection() noexcept {
    pthread_mutexattr_t attr;
    pthread_mutexattr_init(&attr);
    pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&native_.mutex, &attr);
    pthread_mutexattr_destroy(&attr);
}

CriticalSection::~CriticalSection() { pthread_mutex_destroy(&native_.mutex); }

void CriticalSection::Enter() noexcept { pthread_mutex_lock(&native_.mutex); }

void CriticalSection::Leave() noexcept { pthread_mutex_unlock(&native_.mutex); }

namespace {
pthread_mutex_t g_logMutex = PTHREAD_MUTEX_INITIALIZER;

// A debugger shows itself as the tracer of this process.
bool DebuggerAttached() noexcept {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return false;
    char line[256];
    bool attached = false;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        if (std::strncmp(line, "TracerPid:", 10) == 0) {
            attached = std::atoi(line + 10) != 0;
            break;
        }
    }
    std::fclose(f);
    return attached;
}
}  // namespace

void LockLog() noexcept { pthread_mutex_lock(&g_logMutex); }

void UnlockLog() noexcept { pthread_mutex_unlock(&g_logMutex); }

void OutputDebugText(const char* text) noexcept {
    if (text != nullptr && DebuggerAttached()) std::fputs(text, stderr);
}

void* LoadModule(const char* utf8Path) noexcept {
    if (utf8Path == nullptr || utf8Path[0] == '\0') return nullptr;
    return dlopen(utf8Path, RTLD_NOW | RTLD_LOCAL);
}

void* FindModuleSymbol(void* module, const char* name) noexcept {
    if (module == nullptr || name == nullptr) return nullptr;
    return dlsym(module, name);
}

void FreeModule(void* module) noexcept {
    if (module != nullptr) dlclose(module);
}

const char* ModuleExtension() noexcept { return ".so"; }

namespace {
// Wildcard match as the Windows file search does it ('*' any run, '?' one
// character), but case-sensitive as POSIX file systems are.
bool MatchWildcard(const char* pattern, const char* name) noexcept {
    const char* star = nullptr;
    const char* resume = nullptr;
    while (*name != '\0') {
        if (*pattern == '*') {
            star = pattern++;
            resume = name;
        } else if (*pattern == '?' || *pattern == *name) {
            ++pattern;
            ++name;
        } else if (star != nullptr) {
            pattern = star + 1;
            name = ++resume;
        } else {
            return false;
        }
    }
    while (*pattern == '*') ++pattern;
    return *pattern == '\0';
}
}  // namespace

bool ListDirectory(const char* utf8Pattern, ListCallback onEntry, void* context) noexcept {
    if (utf8Pattern == nullptr || utf8Pattern[0] == '\0') return false;
    try {
        const std::string pattern(utf8Pattern);
        const size_t slash = pattern.find_last_of("/\\");
        const std::string directory = slash == std::string::npos ? "." : pattern.substr(0, slash + 1);
        const std::string namePattern = slash == std::string::npos ? pattern : pattern.substr(slash + 1);
        DIR* dir = opendir(directory.c_str());
        if (dir == nullptr) return false;
        bool any = false;
        while (dirent* entry = readdir(dir)) {
            if (MatchWildcard(namePattern.c_str(), entry->d_name)) {
                any = true;
                onEntry(context, entry->d_name);
            }
        }
        closedir(dir);
        return any;
    } catch (...) {
        return false;
    }
}

// --- Memory

void AdviseHugePages(void* start, size_t bytes) noexcept {
#if defined(MADV_HUGEPAGE)
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const uintptr_t from = reinterpret_cast<uintptr_t>(start);
    if (start == nullptr || bytes > UINTPTR_MAX - from || from > UINTPTR_MAX - (kHugePage - 1)) return;
    const uintptr_t first = (from + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (from + bytes) & ~(kHugePage - 1);
    // Refused when transparent huge pages are off or unknown to the kernel:
    // the memory then simply stays on small pages.
    if (end > first) (void)madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#else
    (void)start;
    (void)bytes;
#endif
}

}  // namespace KorPlatform
