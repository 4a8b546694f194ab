#include "log_lines.h"

#include <cstring>

#include "diag/log.h"

namespace KorPython {
namespace {

thread_local ThreadLog* t_collector = nullptr;

void Sink(void*, KorDiag::Channel channel, const char* text) {
    // The debugger channel carries the '#' lines again and the job
    // framework's notices: the log channel alone has every message once.
    if (channel != KorDiag::Channel::Log || text == nullptr) return;
    if (ThreadLog* collector = ThreadLog::Current()) collector->Add(text);
}

}  // namespace

void InstallLogSink() { KorDiag::SetCaptureSink(&Sink, nullptr); }

ThreadLog::ThreadLog() noexcept : outer_(t_collector) { t_collector = this; }

ThreadLog::~ThreadLog() { t_collector = outer_; }

ThreadLog* ThreadLog::Current() noexcept { return t_collector; }

void ThreadLog::Add(const char* text) noexcept {
    size_t length = std::strlen(text);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r')) --length;
    try {
        lines_.emplace_back(text, length);
    } catch (...) {
        // Out of memory: the line is lost, the library's call goes on.
    }
}

std::vector<std::string> ThreadLog::Take() noexcept { return std::move(lines_); }

}  // namespace KorPython
