// The library's two diagnostic print routines. Neither returns a result or
// fails towards its caller.
//
// LogPrint: every error or trace. A message whose format starts with '#' is
// also sent to the debugger output (with its '#'). The rest would go to the
// log file, whose name the library never sets, so outside tests they are
// discarded.
// DebugPrint: straight to the debugger output (cut to 4095 characters).
#pragma once

#if defined(__MINGW32__)
// The formats are checked against the C run-time's printf actually in use
// (mingw's C99 one, see korloader/CMakeLists.txt), not Microsoft's.
#include <cstdio>
#define KOR_PRINTF_FORMAT(a, b) __attribute__((format(__MINGW_PRINTF_FORMAT, a, b)))
#elif defined(__GNUC__)
#define KOR_PRINTF_FORMAT(a, b) __attribute__((format(printf, a, b)))
#else
#define KOR_PRINTF_FORMAT(a, b)
#endif

void LogPrint(const char* format, ...) KOR_PRINTF_FORMAT(1, 2);
void DebugPrint(const char* format, ...) KOR_PRINTF_FORMAT(1, 2);
// When `path` names something that exists but is not a regular file (a
// FIFO, a device, a directory), logs that it was refused and returns true.
bool LogNotARegularFile(const char* path) noexcept;

namespace KorDiag {

enum class Channel { Log, Debugger };

// Test hook: receives every log message as the log file would (without the
// leading '#') and every string sent to the debugger output. The sink is
// called under the log mutex for Log; for Debugger it may be called from any
// thread at once. Pass null to remove.
using CaptureSink = void (*)(void* context, Channel channel, const char* text);
void SetCaptureSink(CaptureSink sink, void* context);

}  // namespace KorDiag
