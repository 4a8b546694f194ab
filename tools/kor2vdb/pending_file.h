// Output files written whole or not at all: a file is written under a
// temporary name beside its final path and renamed over it when complete.
// A temporary is removed when its frame fails, and on SIGINT, SIGTERM,
// SIGHUP and SIGPIPE before the process ends, so an interrupted run leaves
// neither a partial file nor a damaged old one.
#pragma once
#include <string>

namespace Kor2Vdb {

// Makes room for `count` temporaries at once and installs the signal
// handlers. Call once, before any worker starts. `clearLine`: the handler
// also wipes a progress bar from the terminal.
void PrepareOutputs(int count, bool clearLine);

class PendingFile {
public:
    explicit PendingFile(const std::string& finalPath);
    ~PendingFile();  // removes the temporary unless committed
    PendingFile(const PendingFile&) = delete;
    PendingFile& operator=(const PendingFile&) = delete;

    // False when the temporary could not be registered for removal on a
    // signal (its path is too long).
    bool Ready() const { return ready_; }
    const std::string& TemporaryPath() const { return temporary_; }
    // Renames the temporary over the final path. False with the reason.
    bool Commit(std::string* error);

private:
    std::string final_, temporary_;
    int slot_ = -1;
    bool ready_ = false;
    bool committed_ = false;
};

}  // namespace Kor2Vdb
