// Captures the library's log and debugger output for the lifetime of the
// object, so tests can assert the exact lines.
#pragma once
#include <mutex>
#include <string>
#include <vector>

#include "diag/log.h"

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
    std::string LogText() {
        std::string all;
        for (const std::string& line : Log()) all += line;
        return all;
    }
    bool Logged(const std::string& line) {
        for (const std::string& l : Log())
            if (l == line) return true;
        return false;
    }
    void Clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        log_.clear();
        debugger_.clear();
    }

private:
    static void Sink(void* context, KorDiag::Channel channel, const char* text) {
        LogCapture* self = static_cast<LogCapture*>(context);
        std::lock_guard<std::mutex> lock(self->mutex_);
        (channel == KorDiag::Channel::Log ? self->log_ : self->debugger_).emplace_back(text);
    }
    std::mutex mutex_;
    std::vector<std::string> log_;
    std::vector<std::string> debugger_;
};
