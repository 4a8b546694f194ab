// The progress bar of a long run over many frames: shown on standard error
// only when that is a terminal (and not asked to be quiet), redrawn in place
// at most a few times a second, and wiped when the run ends.
#pragma once
#include <chrono>
#include <cstdio>
#include <string>

namespace KorTools {

class Progress {
public:
    // `total` items; `label` names them ("frames"). Hidden when `quiet` or
    // when standard error is not a terminal.
    Progress(int total, std::string label, bool quiet);
    ~Progress();
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;

    // `done` items are finished: the bar shows them, the rate and the time left.
    void Update(int done);
    // Clears the bar, so that what follows starts on a clean line.
    void Finish();
    bool Visible() const { return visible_; }

private:
    using Clock = std::chrono::steady_clock;
    int total_;
    std::string label_;
    bool visible_;
    bool drawn_ = false;
    Clock::time_point start_ = Clock::now();
    Clock::time_point lastDraw_{};
};

// True when `stream` is a terminal.
bool IsTerminal(std::FILE* stream);

}  // namespace KorTools
