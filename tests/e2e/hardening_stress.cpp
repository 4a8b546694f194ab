// Many host threads on shared frames, and many open/read/release cycles,
// through the public interface only. The factories and deleteIKor are
// single-thread-at-a-time by contract, so the test serialises them as a host
// must; everything read from a frame runs concurrently.
#include <gtest/gtest.h>

#include <korloader/korloader.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/frame_walker.h"
#include "support/sample_frames.h"
#include "support/temp_dir.h"

namespace {

struct Files {
    KorTest::TempDir dir;
    std::vector<std::string> paths;
    explicit Files(const std::vector<KorTest::SampleFile>& samples) {
        for (const KorTest::SampleFile& s : samples) {
            paths.push_back(dir.File(s.name));
            EXPECT_TRUE(KorTest::WriteFileBytes(paths.back(), s.bytes));
        }
    }
};

}  // namespace

TEST(ConcurrentStress, EightThreadsOpenShareReadAndReleaseFrames) {
    const Files files(KorTest::ValidFrames());
    const size_t fileCount = files.paths.size();

    // What one thread alone reads from each file.
    std::vector<KorTest::FrameDigest> reference;
    for (const std::string& path : files.paths) {
        IKor* frame = newIKor(path.c_str());
        ASSERT_NE(frame, nullptr) << path;
        reference.push_back(KorTest::WalkFrame(frame));
        deleteIKor(frame);
    }

    constexpr int kThreads = 8;
    constexpr int kRounds = 60;
    std::mutex factories;  // the host's side of the single-thread contract
    std::atomic<int> mismatches{0}, nullOpens{0}, reads{0};
    auto host = [&](unsigned seed) {
        std::mt19937 random(seed);
        struct Held {
            IKor* frame;
            size_t file;
        };
        std::vector<Held> held;
        int order[32];
        for (int c = 0; c < 32; ++c) order[c] = c;
        for (int round = 0; round < kRounds; ++round) {
            // Open one more frame (often one that another thread holds), or
            // give one back, at random; keep at most three.
            if (held.size() < 3 && (held.empty() || random() % 3 != 0)) {
                const size_t file = random() % fileCount;
                IKor* frame;
                {
                    std::lock_guard<std::mutex> lock(factories);
                    frame = newIKor(files.paths[file].c_str());
                }
                if (frame == nullptr) {
                    ++nullOpens;
                    continue;
                }
                held.push_back({frame, file});
            } else {
                const size_t victim = random() % held.size();
                {
                    std::lock_guard<std::mutex> lock(factories);
                    deleteIKor(held[victim].frame);
                }
                held.erase(held.begin() + static_cast<std::ptrdiff_t>(victim));
                continue;
            }
            // Read a held frame, decoding its channels in a random order.
            const Held& h = held[random() % held.size()];
            std::shuffle(order, order + 32, random);
            if (KorTest::WalkFrame(h.frame, {}, order) != reference[h.file]) ++mismatches;
            ++reads;
        }
        std::lock_guard<std::mutex> lock(factories);
        for (const Held& h : held) deleteIKor(h.frame);
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) threads.emplace_back(host, 1234u + static_cast<unsigned>(t));
    for (std::thread& t : threads) t.join();

    EXPECT_EQ(mismatches.load(), 0);
    EXPECT_EQ(nullOpens.load(), 0);
    EXPECT_GT(reads.load(), kThreads * kRounds / 3);
}

TEST(LeakCycles, TenThousandOpenReadReleaseCycles) {
    // Valid frames and hostile ones (whose opens fail part-way): every cycle
    // must give back all it took; LeakSanitizer checks at exit in the ASan
    // build. Frames are small and reads capped, to keep the run short.
    std::vector<KorTest::SampleFile> samples = KorTest::ValidFrames();
    for (KorTest::SampleFile& s : KorTest::HostileFrames()) samples.push_back(std::move(s));
    const Files files(samples);
    KorTest::WalkLimits limits;
    limits.particlesPerGroup = 8;
    limits.outOfRangeIds = false;
    int opened = 0;
    for (int cycle = 0; cycle < 10000; ++cycle) {
        IKor* frame = newIKor(files.paths[static_cast<size_t>(cycle) % files.paths.size()].c_str());
        if (frame == nullptr) continue;
        ++opened;
        KorTest::WalkFrame(frame, limits);
        deleteIKor(frame);
    }
    EXPECT_GT(opened, 0);
    EXPECT_LT(opened, 10000);
}
