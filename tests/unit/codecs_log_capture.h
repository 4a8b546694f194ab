// Captures log and debugger lines for the duration of a test scope.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "diag/log.h"

namespace KorCodecTest {

class LogCapture {
public:
    LogCapture() { KorDiag::SetCaptureSink(&LogCapture::Sink, this); }
    ~LogCapture() { KorDiag::SetCaptureSink(nullptr, nullptr); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<std::string> Log() {
        std::lock_guard<std::mutex> lock(mutex_);
        return log_;
    }
    std::vector<std::string> Debugger() {
        std::lock_guard<std::mutex> lock(mutex_);
        return debugger_;
    }
    size_t CountLog(const std::string& line) {
        size_t n = 0;
        for (const std::string& s : Log()) n += s == line;
        return n;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
        debugger_.clear();
    }

private:
    static void Sink(void* context, KorDiag::Channel channel, const char* text) {
        auto* self = static_cast<LogCapture*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        (channel == KorDiag::Channel::Log ? self->log_ : self->debugger_).push_back(text);
    }
    std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<std::string> debugger_;
};

}  // namespace KorCodecTest
