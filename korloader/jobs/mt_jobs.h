// The job framework on which the library's loops over many independent items
// are written. A job set derives from MTJobs and implements ProcessJob for one
// contiguous range of item indices; the framework splits the item count over
// the set's jobs and runs them, each job writing only its own result slot.
//
// The library never installs a thread manager, so every set has exactly one
// job that runs on the calling thread, and every InitJobs says so in the
// debugger output. The threaded mode exists only as the shape of the classes
// (Job is a ThreadProcedure a pool could run).
#pragma once
#include <cstdint>

#include "util/nothrow_new.h"

namespace ZUtils {

// What a thread manager runs on one of its threads.
class ThreadProcedure {
public:
    virtual void Run(int threadIndex) = 0;
    virtual const char* GetName() { return nullptr; }

protected:
    ~ThreadProcedure() = default;
};

}  // namespace ZUtils

class MTJobs;

// Progress sink of a run. Every caller in the library passes null.
class ProgressCallback {
public:
    virtual void SetProgress(int64_t itemsDone) = 0;
    virtual bool IsAborted() = 0;
    virtual void Idle() = 0;

protected:
    ~ProgressCallback() = default;
};

// Opaque: no thread manager exists in the library.
class ThreadManager;

// One contiguous item range [start, end) of a job set.
class Job : public ZUtils::ThreadProcedure {
public:
    Job() noexcept = default;
    Job(const Job&) = delete;
    Job& operator=(const Job&) = delete;

    // Thread-manager entry: runs the owner's work for this job.
    void Run(int threadIndex) override;
    // The owner's name, or "MTJobWithoutOwner".
    const char* GetName() override;
    // Destroys the rest of the list behind this job too.
    virtual ~Job();

    int64_t start = 0;
    int64_t count = 1;
    int64_t end = 0;
    uint32_t param = 0;
    int32_t index = 0;
    MTJobs* owner = nullptr;
    Job* next = nullptr;
};

// Runs a bound member procedure for one job (SetProcedure/RunProcedure).
class TMTJobProcHolderInterface {
public:
    virtual ~TMTJobProcHolderInterface() = default;
    virtual void RunJob(Job& job) = 0;
};

template <class T>
class TMTJobProcHolder : public TMTJobProcHolderInterface {
public:
    using Procedure = void (T::*)(Job&);
    TMTJobProcHolder(T* object, Procedure procedure) noexcept : object_(object), procedure_(procedure) {}
    void RunJob(Job& job) override { (object_->*procedure_)(job); }

private:
    T* object_;
    Procedure procedure_;
};

class MTJobs {
public:
    MTJobs() noexcept;
    MTJobs(const MTJobs&) = delete;
    MTJobs& operator=(const MTJobs&) = delete;

    // Virtual operations, in slot order.
    virtual ~MTJobs();
    // The work for [job.start, job.end). Base: nothing.
    virtual void ProcessJob(Job& job);
    // Base: "MTJob".
    virtual const char* GetName();
    // The abort flag, or the current run's progress callback asking to abort.
    virtual bool IsAborted();
    // A new job (or null when memory ran out). Sets with per-job state return
    // their own derived Job.
    virtual Job* CreateJob();
    // Completion hook of the threaded mode; never called without a manager.
    virtual void JobFinished(Job& job);
    // What a manager would use for a request of -1 threads.
    virtual int GetDefaultThreadCount();

    // Builds the job list: always one job, on the calling thread. Writes the
    // single-thread notices to the debugger output. False (and no job list)
    // when the job could not be made: such a set never runs.
    bool InitJobs(int threads = -1) noexcept;
    // Splits `items` over the jobs, building the list first when there is
    // none. False when there is no job to give the items to.
    bool SetItemCount(int64_t items) noexcept;
    // Runs ProcessJob once per job with `param`; drops any installed procedure.
    void Run(unsigned param, ProgressCallback* progress) noexcept;
    // Installs a member procedure that RunProcedure runs instead of
    // ProcessJob. False (previous holder gone, none installed) when memory ran out.
    template <class T>
    bool SetProcedure(T* object, void (T::*procedure)(Job&)) noexcept {
        DestroyProcHolder();
        procHolder_ = newObject<TMTJobProcHolder<T>>(object, procedure);
        return procHolder_ != nullptr;
    }
    // Runs the installed procedure once per job; `param` is left as it was.
    void RunProcedure(ProgressCallback* progress) noexcept;

    // Replaces the job list by `jobCount` jobs made by CreateJob, numbered in
    // list order. InitJobs asks for one; a thread manager would ask for more.
    // False (and no job list) when a job could not be made.
    bool BuildJobList(int32_t jobCount) noexcept;

    int32_t JobCount() const noexcept { return jobCount_; }
    Job* FirstJob() const noexcept { return jobs_; }
    // Destroys the job list (the next InitJobs builds a fresh one).
    void DestroyJobs() noexcept;
    // Asks a running set to stop (only sets that poll IsAborted notice).
    void Abort() noexcept { __atomic_store_n(&abortFlag_, 1, __ATOMIC_RELAXED); }
    // Runs the current mode's work for one job: the installed procedure, else ProcessJob.
    void RunJob(Job& job) noexcept;

    // Number of live job sets in the process-wide registry (for tests).
    static int32_t RegisteredCount() noexcept;

private:
    void DestroyProcHolder() noexcept;

    int32_t jobCount_ = 0;
    TMTJobProcHolderInterface* procHolder_ = nullptr;
    ProgressCallback* progress_ = nullptr;
    int32_t abortFlag_ = 0;
    const char* name_ = nullptr;
    Job* jobs_ = nullptr;
    ThreadManager* threadManager_ = nullptr;
    // Whether RunJob uses the procedure holder (RunProcedure) or ProcessJob (Run).
    bool runsProcedure_ = false;
};
