// The library's log lines of one call, collected on the calling thread: the
// library logs why it refused a file or could not decode a channel, and those
// lines go with the KorError raised for it. Lines that other threads log
// meanwhile are not mixed in.
#pragma once
#include <string>
#include <vector>

namespace KorPython {

// Routes the library's log to the collectors; once, when the module loads.
void InstallLogSink();

// Collects this thread's log lines while it lives.
class ThreadLog {
public:
    ThreadLog() noexcept;
    ~ThreadLog();
    ThreadLog(const ThreadLog&) = delete;
    ThreadLog& operator=(const ThreadLog&) = delete;

    // The lines so far, each without its line break.
    std::vector<std::string> Take() noexcept;
    // The collector of the calling thread, or null.
    static ThreadLog* Current() noexcept;
    void Add(const char* text) noexcept;

private:
    ThreadLog* outer_;
    std::vector<std::string> lines_;
};

}  // namespace KorPython
