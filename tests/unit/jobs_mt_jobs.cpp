// The job framework: single-job mode with its notices, the split rule for
// several jobs, procedures, a failing CreateJob and the shared registry.
#include <gtest/gtest.h>

#include <thread>
#include <utility>
#include <vector>

#include "log_capture.h"
#include "jobs/mt_jobs.h"
#include "util/alloc.h"

namespace {


const char kNoManager[] = "Using MTJobs without a thread manager. The code will run in single threaded mode\n";
const char kForced[] =
    "Using MTJobs without threadManager with 'threads' != -1!When the thread manager is missing 'threads' value is "
    "FORCED to 1.This may BREAK YOUR code!\n";

class CountingJob : public Job {
public:
    int tag = 0;
};

class RangeSet : public MTJobs {
public:
    const char* GetName() override { return "MTRangeSet"; }
    Job* CreateJob() override {
        if (failCreate) return nullptr;
        auto* job = new CountingJob();
        job->tag = ++made;
        return job;
    }
    void ProcessJob(Job& job) override { ranges.emplace_back(job.start, job.end), params.push_back(job.param); }
    void Procedure(Job& job) { procedureRanges.emplace_back(job.start, job.end); }

    bool failCreate = false;
    int made = 0;
    std::vector<std::pair<int64_t, int64_t>> ranges, procedureRanges;
    std::vector<unsigned> params;
};

using Ranges = std::vector<std::pair<int64_t, int64_t>>;

Ranges JobRanges(MTJobs& set) {
    Ranges out;
    for (Job* job = set.FirstJob(); job != nullptr; job = job->next) {
        EXPECT_EQ(job->count, job->end - job->start);
        out.emplace_back(job->start, job->end);
    }
    return out;
}

TEST(MTJobs, InitJobsWritesItsNoticesAndAlwaysMakesOneJob) {
    LogCapture capture;
    RangeSet set;
    ASSERT_TRUE(set.InitJobs(8));
    EXPECT_EQ(capture.Debugger(), (std::vector<std::string>{kNoManager, "Please check the (null) implementation.\n", kForced}));
    EXPECT_EQ(set.JobCount(), 1);
    ASSERT_NE(set.FirstJob(), nullptr);
    EXPECT_EQ(set.FirstJob()->index, 0);
    EXPECT_EQ(set.FirstJob()->owner, &set);
    EXPECT_EQ(set.FirstJob()->next, nullptr);

    capture.Clear();
    Job* first = set.FirstJob();
    ASSERT_TRUE(set.InitJobs());
    // The name is known once the list was built; the job and its state stay.
    EXPECT_EQ(capture.Debugger(), (std::vector<std::string>{kNoManager, "Please check the MTRangeSet implementation.\n"}));
    EXPECT_EQ(set.FirstJob(), first);
    EXPECT_EQ(static_cast<CountingJob*>(set.FirstJob())->tag, 1);
    EXPECT_EQ(set.made, 1);
}

TEST(MTJobs, SingleJobCoversAllItemsAndEmptyRangesStillRun) {
    RangeSet set;
    ASSERT_TRUE(set.SetItemCount(0));  // builds the list as InitJobs(-1) would
    set.Run(7, nullptr);
    EXPECT_EQ(set.ranges, (Ranges{{0, 0}}));
    EXPECT_EQ(set.params, (std::vector<unsigned>{7}));

    ASSERT_TRUE(set.SetItemCount(1000));
    set.Run(1, nullptr);
    EXPECT_EQ(set.ranges.back(), (std::pair<int64_t, int64_t>{0, 1000}));
}

TEST(MTJobs, SplitRuleForSeveralJobs) {
    RangeSet set;
    ASSERT_TRUE(set.BuildJobList(3));
    ASSERT_TRUE(set.SetItemCount(10));
    EXPECT_EQ(JobRanges(set), (Ranges{{0, 3}, {3, 6}, {6, 10}}));

    ASSERT_TRUE(set.BuildJobList(4));
    ASSERT_TRUE(set.SetItemCount(2));
    EXPECT_EQ(JobRanges(set), (Ranges{{0, 0}, {0, 1}, {1, 1}, {1, 2}}));
    int index = 0;
    for (Job* job = set.FirstJob(); job != nullptr; job = job->next) EXPECT_EQ(job->index, index++);

    // Large counts do not overflow the k * N product.
    ASSERT_TRUE(set.BuildJobList(3));
    ASSERT_TRUE(set.SetItemCount(INT64_MAX));
    const Ranges big = JobRanges(set);
    EXPECT_EQ(big[0].second, INT64_MAX / 3);
    EXPECT_EQ(big[2].second, INT64_MAX);

    set.Run(0, nullptr);
    EXPECT_EQ(set.ranges.size(), 3u);
}

TEST(MTJobs, JobNames) {
    Job orphan;
    EXPECT_STREQ(orphan.GetName(), "MTJobWithoutOwner");
    EXPECT_EQ(orphan.count, 1);
    RangeSet set;
    ASSERT_TRUE(set.InitJobs());
    EXPECT_STREQ(set.FirstJob()->GetName(), "MTRangeSet");
    MTJobs plain;
    EXPECT_STREQ(plain.GetName(), "MTJob");
}

TEST(MTJobs, ProceduresRunInsteadOfProcessJobAndRunDropsThem) {
    RangeSet set;
    ASSERT_TRUE(set.SetItemCount(5));
    set.Run(3, nullptr);
    ASSERT_TRUE(set.SetProcedure(&set, &RangeSet::Procedure));
    set.RunProcedure(nullptr);
    EXPECT_EQ(set.procedureRanges, (Ranges{{0, 5}}));
    EXPECT_EQ(set.FirstJob()->param, 3u);  // left as it was
    EXPECT_EQ(set.ranges.size(), 1u);

    set.Run(4, nullptr);  // destroys the holder
    EXPECT_EQ(set.ranges.size(), 2u);
    set.RunProcedure(nullptr);  // no holder: nothing runs
    EXPECT_EQ(set.procedureRanges.size(), 1u);
    EXPECT_EQ(set.ranges.size(), 2u);
}

TEST(MTJobs, FailingCreateJobLeavesNoJobToRun) {
    RangeSet set;
    set.failCreate = true;
    EXPECT_FALSE(set.InitJobs());
    EXPECT_EQ(set.FirstJob(), nullptr);
    EXPECT_EQ(set.JobCount(), 0);
    EXPECT_FALSE(set.SetItemCount(4));
    set.Run(0, nullptr);
    EXPECT_TRUE(set.ranges.empty());

    // A list that fails half way is dropped whole.
    set.failCreate = false;
    ASSERT_TRUE(set.BuildJobList(2));
    set.failCreate = true;
    EXPECT_FALSE(set.BuildJobList(3));
    EXPECT_EQ(set.FirstJob(), nullptr);

    // The base CreateJob obeys the allocation-failure switch.
    MTJobs plain;
    ZUtils::FailAllocationAt(1);
    const bool built = plain.InitJobs();
    ZUtils::FailAllocationAt(0);
    EXPECT_FALSE(built);
    EXPECT_EQ(plain.FirstJob(), nullptr);
}

TEST(MTJobs, AbortFlagIsClearedByEachRun) {
    RangeSet set;
    ASSERT_TRUE(set.InitJobs());
    set.Abort();
    EXPECT_TRUE(set.IsAborted());
    set.Run(0, nullptr);
    EXPECT_FALSE(set.IsAborted());
}

TEST(MTJobsConcurrent, RegistryCountsLiveSetsAcrossManyThreads) {
    const int32_t before = MTJobs::RegisteredCount();
    {
        RangeSet a, b;
        EXPECT_EQ(MTJobs::RegisteredCount(), before + 2);
    }
    EXPECT_EQ(MTJobs::RegisteredCount(), before);

    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([] {
            for (int i = 0; i < 200; ++i) {
                RangeSet set;
                set.SetItemCount(i);
                set.Run(0, nullptr);
            }
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(MTJobs::RegisteredCount(), before);
}

}  // namespace
