#include "diag/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include "platform/platform.h"
#include "util/kor_string.h"
#include "util/nothrow_new.h"

namespace {

struct Capture {
    KorDiag::CaptureSink sink;
    void* context;
};
std::atomic<const Capture*> g_capture{nullptr};
Capture g_captureSlots[2];
std::atomic<int> g_captureSlot{0};

// The log file name. The library never sets it; it stays empty. Never
// destroyed: frames left open are reported while the library unloads, after
// function-local statics may already be gone.
ZUtils::String& LogFileName() {
    alignas(ZUtils::String) static unsigned char storage[sizeof(ZUtils::String)];
    static ZUtils::String* name = new (storage) ZUtils::String();
    return *name;
}

void SendToDebugger(const char* text) {
    KorPlatform::OutputDebugText(text);
    if (const Capture* c = g_capture.load(std::memory_order_acquire)) c->sink(c->context, KorDiag::Channel::Debugger, text);
}

}  // namespace

namespace KorDiag {

void SetCaptureSink(CaptureSink sink, void* context) {
    if (sink == nullptr) {
        g_capture.store(nullptr, std::memory_order_release);
        return;
    }
    const int slot = g_captureSlot.fetch_xor(1) ^ 1;
    g_captureSlots[slot] = Capture{sink, context};
    g_capture.store(&g_captureSlots[slot], std::memory_order_release);
}

}  // namespace KorDiag

void LogPrint(const char* format, ...) {
    if (format == nullptr) return;
    KorPlatform::LockLog();
    const char* body = format[0] == '#' ? format + 1 : format;
    if (format[0] == '#') {
        char buffer[1024];
        va_list args;
        va_start(args, format);
        std::vsnprintf(buffer, sizeof buffer, format, args);
        va_end(args);
        SendToDebugger(buffer);
    }
    const ZUtils::String& fileName = LogFileName();
    const Capture* capture = g_capture.load(std::memory_order_acquire);
    if (!fileName.Empty() || capture != nullptr) {
        va_list args;
        va_start(args, format);
        char small[1024];
        va_list copy;
        va_copy(copy, args);
        const int n = std::vsnprintf(small, sizeof small, body, copy);
        va_end(copy);
        ZUtils::String text;
        if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
            text.Assign(small, static_cast<size_t>(n));
        } else if (n > 0) {
            // n + 1 always fits an array length, so newArray cannot log from here.
            char* big = nullptr;
            if (newArray(big, static_cast<size_t>(n) + 1)) {
                std::vsnprintf(big, static_cast<size_t>(n) + 1, body, args);
                text.Assign(big, static_cast<size_t>(n));
                deleteArray(big);
            }
        }
        va_end(args);
        if (!fileName.Empty()) KorPlatform::AppendTextToFile(fileName.c_str(), text.c_str());
        if (capture != nullptr) capture->sink(capture->context, KorDiag::Channel::Log, text.c_str());
    }
    KorPlatform::UnlockLog();
}

void DebugPrint(const char* format, ...) {
    if (format == nullptr) return;
    char buffer[4096];
    std::memset(buffer, 0, sizeof buffer);
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    SendToDebugger(buffer);
}

bool LogNotARegularFile(const char* path) noexcept {
    if (path == nullptr || !KorPlatform::FileExists(path) || KorPlatform::IsRegularFile(path)) return false;
    LogPrint("Refused %s: not a regular file\n", path);
    return true;
}
