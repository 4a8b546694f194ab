#include "common/progress.h"

#include <utility>

#if defined(_WIN32)
#include <io.h>
#define KOR_ISATTY _isatty
#define KOR_FILENO _fileno
#else
#include <unistd.h>
#define KOR_ISATTY isatty
#define KOR_FILENO fileno
#endif

namespace KorTools {

bool IsTerminal(std::FILE* stream) { return KOR_ISATTY(KOR_FILENO(stream)) != 0; }

Progress::Progress(int total, std::string label, bool quiet)
    : total_(total), label_(std::move(label)), visible_(!quiet && total > 1 && IsTerminal(stderr)) {}

Progress::~Progress() { Finish(); }

void Progress::Update(int done) {
    if (!visible_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && done < total_ && now - lastDraw_ < std::chrono::milliseconds(200)) return;
    lastDraw_ = now;
    const double seconds = std::chrono::duration<double>(now - start_).count();
    const double rate = seconds > 0 ? done / seconds : 0;
    constexpr int kWidth = 30;
    const int filled = total_ > 0 ? kWidth * done / total_ : kWidth;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kWidth, '.');
    char left[32] = "--";
    if (rate > 0) {
        const int remaining = static_cast<int>((total_ - done) / rate + 0.5);
        std::snprintf(left, sizeof left, "%d:%02d", remaining / 60, remaining % 60);
    }
    std::fprintf(stderr, "\r[%s] %d/%d %s  %.1f/s  %s left \x1b[K", bar.c_str(), done, total_, label_.c_str(), rate,
                 left);
    std::fflush(stderr);
    drawn_ = true;
}

void Progress::Finish() {
    if (!drawn_) return;
    std::fputs("\r\x1b[K", stderr);
    std::fflush(stderr);
    drawn_ = false;
}

}  // namespace KorTools
