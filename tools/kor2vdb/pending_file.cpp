#include "pending_file.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

namespace Kor2Vdb {

namespace {

// The temporaries that exist, in slots the signal handler can read without
// locks or allocation: a slot is armed (its path may exist on disk) only
// while state is kArmed, and its path is written only while it is kClaimed.
constexpr int kFree = 0, kClaimed = 1, kArmed = 2;
constexpr size_t kPathBytes = 4096;
struct Slot {
    std::atomic<int> state{kFree};
    char path[kPathBytes];
};
Slot* g_slots = nullptr;
int g_slotCount = 0;
bool g_clearLine = false;
std::atomic<unsigned> g_serial{0};

extern "C" void RemoveTemporariesAndDie(int signal) {
    for (int i = 0; i < g_slotCount; ++i)
        if (g_slots[i].state.load() == kArmed) unlink(g_slots[i].path);
    if (g_clearLine) {
        const char wipe[] = "\r\x1b[K";
        [[maybe_unused]] const ssize_t written = write(STDERR_FILENO, wipe, sizeof wipe - 1);
    }
    // The handler was reset to the default action: the signal, raised again,
    // ends the process as it would have without us (status 128 + signal).
    raise(signal);
}

int ClaimSlot(const std::string& path) {
    if (path.size() >= kPathBytes) return -1;
    for (int i = 0; i < g_slotCount; ++i) {
        int expected = kFree;
        if (!g_slots[i].state.compare_exchange_strong(expected, kClaimed)) continue;
        std::memcpy(g_slots[i].path, path.c_str(), path.size() + 1);
        g_slots[i].state.store(kArmed);
        return i;
    }
    return -1;
}

void FreeSlot(int slot) {
    if (slot >= 0) g_slots[slot].state.store(kFree);
}

}  // namespace

void PrepareOutputs(int count, bool clearLine) {
    g_slots = new Slot[static_cast<size_t>(count)];  // lives until the process ends
    g_slotCount = count;
    g_clearLine = clearLine;
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndDie;
    action.sa_flags = SA_RESETHAND;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&action.sa_mask, s);
    for (int s : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaction(s, &action, nullptr);
}

PendingFile::PendingFile(const std::string& finalPath) : final_(finalPath) {
    // Beside the output, on its file system: the rename cannot cross devices.
    const std::filesystem::path target(finalPath);
    temporary_ = (target.parent_path() / ("." + target.filename().string() + ".kor2vdb-" + std::to_string(getpid()) +
                                          "-" + std::to_string(g_serial++) + ".tmp"))
                     .string();
    // Without PrepareOutputs (a program that converts one frame itself)
    // nothing watches for signals.
    slot_ = ClaimSlot(temporary_);
    ready_ = slot_ >= 0 || g_slots == nullptr;
}

PendingFile::~PendingFile() {
    if (!committed_) unlink(temporary_.c_str());
    FreeSlot(slot_);
}

bool PendingFile::Commit(std::string* error) {
    if (std::rename(temporary_.c_str(), final_.c_str()) != 0) {
        *error = "cannot rename the finished file to " + final_ + ": " + std::strerror(errno);
        return false;
    }
    committed_ = true;
    return true;
}

}  // namespace Kor2Vdb
