#include "jobs/mt_jobs.h"

#include <atomic>

#include "diag/log.h"
#include "util/alloc.h"
#include "util/iarray.h"
#include "util/nothrow_new.h"

namespace {

// Registry of every live job set. Frames are read, and so decoders are made
// and destroyed, on many host threads at once, so the registry is guarded.
// The guard is a spin lock on a constant-initialised flag: it needs no
// construction order, survives until the last set is destroyed at unload,
// and the work under it is a short append or removal.
std::atomic_flag g_registryBusy = ATOMIC_FLAG_INIT;
iArray<MTJobs*>* g_registry = nullptr;

class RegistryLock {
public:
    RegistryLock() noexcept {
        while (g_registryBusy.test_and_set(std::memory_order_acquire)) {
            while (g_registryBusy.test(std::memory_order_relaxed)) {
            }
        }
    }
    ~RegistryLock() { g_registryBusy.clear(std::memory_order_release); }
    RegistryLock(const RegistryLock&) = delete;
    RegistryLock& operator=(const RegistryLock&) = delete;
};

void Register(MTJobs* set) noexcept {
    RegistryLock lock;
    if (g_registry == nullptr) g_registry = newObject<iArray<MTJobs*>>(4);
    // A set that cannot be registered still works; it is simply not listed.
    if (g_registry != nullptr) g_registry->Append(set);
}

void Unregister(MTJobs* set) noexcept {
    RegistryLock lock;
    if (g_registry == nullptr) return;
    g_registry->RemoveKeepOrder(g_registry->Find(set));
    if (g_registry->Count() == 0) {
        delete g_registry;
        g_registry = nullptr;
    }
}

}  // namespace

// --- Job

void Job::Run(int /*threadIndex*/) {
    if (owner != nullptr) owner->RunJob(*this);
}

const char* Job::GetName() { return owner != nullptr ? owner->GetName() : "MTJobWithoutOwner"; }

Job::~Job() {
    // Unlinked one by one rather than recursively, so a long list cannot
    // exhaust the stack.
    Job* rest = next;
    next = nullptr;
    while (rest != nullptr) {
        Job* after = rest->next;
        rest->next = nullptr;
        delete rest;
        rest = after;
    }
}

// --- MTJobs

MTJobs::MTJobs() noexcept { Register(this); }

MTJobs::~MTJobs() {
    DestroyJobs();
    Unregister(this);
    DestroyProcHolder();
}

void MTJobs::ProcessJob(Job& /*job*/) {}

const char* MTJobs::GetName() { return "MTJob"; }

bool MTJobs::IsAborted() {
    if (__atomic_load_n(&abortFlag_, __ATOMIC_RELAXED) != 0) return true;
    return progress_ != nullptr && progress_->IsAborted();
}

Job* MTJobs::CreateJob() { return newObject<Job>(); }

void MTJobs::JobFinished(Job& /*job*/) {}

int MTJobs::GetDefaultThreadCount() { return 1; }

void MTJobs::DestroyJobs() noexcept {
    delete jobs_;
    jobs_ = nullptr;
    jobCount_ = 0;
}

void MTJobs::DestroyProcHolder() noexcept {
    delete procHolder_;
    procHolder_ = nullptr;
}

bool MTJobs::InitJobs(int threads) noexcept {
    DebugPrint("Using MTJobs without a thread manager. The code will run in single threaded mode\n");
    // The name is not known before the first build; printed as the C
    // library prints a null string.
    DebugPrint("Please check the %s implementation.\n", name_ != nullptr ? name_ : "(null)");
    if (threads != -1)
        DebugPrint(
            "Using MTJobs without threadManager with 'threads' != -1!When the thread manager is missing 'threads' "
            "value is FORCED to 1.This may BREAK YOUR code!\n");

    if (jobs_ != nullptr && jobCount_ == 1) return true;
    return BuildJobList(1);
}

bool MTJobs::BuildJobList(int32_t jobCount) noexcept {
    DestroyJobs();
    name_ = GetName();
    if (jobCount < 1) return false;
    Job** link = &jobs_;
    for (int32_t i = 0; i < jobCount; ++i) {
        Job* job = CreateJob();
        if (job == nullptr) {
            // Never leave a set that would run with a job missing.
            DestroyJobs();
            return false;
        }
        job->owner = this;
        job->index = i;
        job->next = nullptr;
        *link = job;
        link = &job->next;
    }
    jobCount_ = jobCount;
    return true;
}

bool MTJobs::SetItemCount(int64_t items) noexcept {
    if (jobs_ == nullptr && !InitJobs(-1)) return false;
    // A negative count is a caller's mistake; it gives every job an empty range.
    if (items < 0) items = 0;
    const int64_t jobs = jobCount_;
    int64_t previousEnd = 0;
    int64_t k = 1;
    for (Job* job = jobs_; job != nullptr; job = job->next, ++k) {
        job->start = previousEnd;
        // k * items / jobs: the product is taken in 128 bits so that large
        // counts cannot overflow (it equals the 64-bit formula wherever that
        // is defined).
        job->end = job->next == nullptr
                       ? items
                       : static_cast<int64_t>(static_cast<__int128>(k) * items / jobs);
        job->count = job->end - job->start;
        previousEnd = job->end;
    }
    return true;
}

void MTJobs::RunJob(Job& job) noexcept {
    if (!runsProcedure_) {
        ProcessJob(job);
    } else if (procHolder_ != nullptr) {
        procHolder_->RunJob(job);
    }
}

void MTJobs::Run(unsigned param, ProgressCallback* progress) noexcept {
    DestroyProcHolder();
    progress_ = progress;
    __atomic_store_n(&abortFlag_, 0, __ATOMIC_RELAXED);
    runsProcedure_ = false;
    for (Job* job = jobs_; job != nullptr; job = job->next) {
        job->param = param;
        RunJob(*job);
    }
}

void MTJobs::RunProcedure(ProgressCallback* progress) noexcept {
    progress_ = progress;
    __atomic_store_n(&abortFlag_, 0, __ATOMIC_RELAXED);
    runsProcedure_ = true;
    for (Job* job = jobs_; job != nullptr; job = job->next) RunJob(*job);
    runsProcedure_ = false;
}

int32_t MTJobs::RegisteredCount() noexcept {
    RegistryLock lock;
    return g_registry != nullptr ? g_registry->Count() : 0;
}
