// Every allocation that opening and fully reading a frame makes is made to
// fail in turn. Each time: no crash, no leak (LeakSanitizer in the ASan
// build), the load gives status 4 or a frame whose reads each either give
// the right values or fail cleanly (null channel, failed particle read), and
// a later read of the same file with memory gives the whole frame again.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "api/frame_cache.h"
#include "api/load_frame.h"
#include "frame/ostrel_frame_data.h"
#include "korloader/korloader.h"
#include "support/fresh_process.h"
#include "support/frame_walker.h"
#include "support/sample_frames.h"
#include "support/temp_dir.h"
#include "support/test_grid_file.h"
#include "util/alloc.h"

#if defined(_WIN32)
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#endif

using KorTest::ItemLog;

namespace {

// Start of the module that holds `site`, or 0.
uintptr_t ModuleBase(const void* site) {
#if defined(_WIN32)
    HMODULE module = nullptr;
    const DWORD flags = GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT;
    return GetModuleHandleExW(flags, static_cast<LPCWSTR>(site), &module) ? reinterpret_cast<uintptr_t>(module) : 0;
#else
    Dl_info info{};
    return dladdr(site, &info) ? reinterpret_cast<uintptr_t>(info.dli_fbase) : 0;
#endif
}

std::mutex g_sitesMutex;
std::set<const void*> g_sites;
void ObserveSite(const void* site) {
    std::lock_guard<std::mutex> lock(g_sitesMutex);
    g_sites.insert(site);
}

struct Loaded {
    std::unique_ptr<OstrelFrameData> frame = std::make_unique<OstrelFrameData>();
    int status = -1;
    ItemLog items;
};

Loaded LoadAndWalk(const std::string& path) {
    Loaded l;
    l.status = LoadCacheFile(*l.frame, path.c_str(), "");
    if (l.status == 0) KorTest::WalkFrame(l.frame.get(), {}, nullptr, &l.items);
    return l;
}

// Reads that may fail under memory pressure must give the reference value
// or fail; what a frame says about itself must not change at all.
void ExpectSoundReads(const ItemLog& reference, const ItemLog& got, int64_t k) {
    for (const auto& [item, value] : got) {
        const auto ref = reference.find(item);
        ASSERT_NE(ref, reference.end()) << "allocation " << k << ": unexpected item " << item;
        const bool metadata = item == "header" || item.find(' ', item.find(' ') + 1) == std::string::npos;
        if (metadata && item.rfind("grid", 0) != 0)
            EXPECT_EQ(value, ref->second) << "allocation " << k << ": " << item << " changed";
        else
            EXPECT_TRUE(value == ref->second || value == KorTest::kFailedItem)
                << "allocation " << k << ": " << item << " read wrong values";
    }
    for (const auto& [item, value] : reference)
        EXPECT_TRUE(got.count(item)) << "allocation " << k << ": " << item << " missing";
}

void ExpectSameLoadedFields(const OstrelFrameData& reference, const OstrelFrameData& got, int64_t k) {
    EXPECT_TRUE(got.infoText == reference.infoText) << "allocation " << k;
    EXPECT_EQ(got.compressedLength, reference.compressedLength) << "allocation " << k;
    EXPECT_EQ(got.groups.Count(), reference.groups.Count()) << "allocation " << k;
    EXPECT_EQ(got.frameNumber, reference.frameNumber) << "allocation " << k;
    EXPECT_EQ(std::memcmp(got.particleBbox, reference.particleBbox, sizeof got.particleBbox), 0) << "allocation " << k;
}

class AllocationFailure : public ::testing::Test {
protected:
    void SetUp() override { ZUtils::SetAllocationFailureObserver(&ObserveSite); }
    void TearDown() override {
        ZUtils::FailAllocationAt(0);
        ZUtils::SetAllocationFailureObserver(nullptr);
    }
};

}  // namespace

TEST_F(AllocationFailure, EveryAllocationOfLoadingAndReadingFailsCleanly) {
    KorTest::TempDir dir;
    int64_t allocationsTried = 0;
    for (const KorTest::SampleFile& sample : KorTest::ValidFrames()) {
        const std::string path = dir.File(sample.name);
        ASSERT_TRUE(KorTest::WriteFileBytes(path, sample.bytes));
        const Loaded reference = LoadAndWalk(path);
        ASSERT_EQ(reference.status, 0) << sample.name;

        ZUtils::FailAllocationAt(INT64_MAX);  // count without failing
        LoadAndWalk(path);
        const int64_t allocations = ZUtils::AllocationsCounted();
        ZUtils::FailAllocationAt(0);
        allocationsTried += allocations;

        for (int64_t k = 1; k <= allocations; ++k) {
            ZUtils::FailAllocationAt(k);
            const Loaded l = LoadAndWalk(path);
            ZUtils::FailAllocationAt(0);
            SCOPED_TRACE(sample.name);
            ASSERT_TRUE(l.status == 0 || l.status == 4) << "allocation " << k << ": status " << l.status;
            if (l.status == 0) {
                ExpectSoundReads(reference.items, l.items, k);
                ExpectSameLoadedFields(*reference.frame, *l.frame, k);
            }
            const Loaded again = LoadAndWalk(path);
            ASSERT_EQ(again.status, 0) << "allocation " << k;
            EXPECT_EQ(again.items, reference.items) << "allocation " << k;
            if (HasFatalFailure()) return;
        }
    }
    // The sites as offsets into their module, for addr2line.
    std::printf("[ alloc    ] %lld allocations failed in turn at %zu distinct sites:",
                static_cast<long long>(allocationsTried), g_sites.size());
    for (const void* site : g_sites) {
        const uintptr_t base = ModuleBase(site);
        std::printf(" %#llx", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(site) - base - 1));
    }
    std::printf("\n");
    EXPECT_FALSE(g_sites.empty());
}

TEST_F(AllocationFailure, EveryAllocationOfAnOpenThroughTheFrameCacheFailsCleanly) {
    KorTest::TempDir dir;
    const std::string path = dir.File("rich.kor");
    ASSERT_TRUE(KorTest::WriteFileBytes(path, KorTest::RichFrame()));
    ItemLog reference;
    {
        IKor* frame = OstrelFrame::OpenFrame(path.c_str(), "");
        ASSERT_NE(frame, nullptr);
        KorTest::WalkFrame(frame, {}, nullptr, &reference);
        OstrelFrame::ReleaseFrame(frame);
    }
    ZUtils::FailAllocationAt(INT64_MAX);
    {
        IKor* frame = OstrelFrame::OpenFrame(path.c_str(), "");
        KorTest::WalkFrame(frame);
        OstrelFrame::ReleaseFrame(frame);
    }
    const int64_t allocations = ZUtils::AllocationsCounted();
    ZUtils::FailAllocationAt(0);

    for (int64_t k = 1; k <= allocations; ++k) {
        ZUtils::FailAllocationAt(k);
        IKor* frame = OstrelFrame::OpenFrame(path.c_str(), "");
        ItemLog got;
        if (frame != nullptr) KorTest::WalkFrame(frame, {}, nullptr, &got);
        ZUtils::FailAllocationAt(0);
        if (frame != nullptr) {
            ExpectSoundReads(reference, got, k);
            EXPECT_EQ(OstrelFrame::Frames().Count(), 1);
            OstrelFrame::ReleaseFrame(frame);
        }
        // A failed open leaves nothing behind; a released frame is gone.
        EXPECT_EQ(OstrelFrame::Frames().Count(), 0) << "allocation " << k;
        IKor* again = OstrelFrame::OpenFrame(path.c_str(), "");
        ASSERT_NE(again, nullptr) << "allocation " << k;
        ItemLog full;
        KorTest::WalkFrame(again, {}, nullptr, &full);
        EXPECT_EQ(full, reference) << "allocation " << k;
        OstrelFrame::ReleaseFrame(again);
    }
}

// The mapping exports over a two-file OpenVDB sequence (through the test
// modules), with each allocation of the answer failing in turn: an answer is
// whole, or it reports the failure as "cut" (0) with "" written. It never
// drops grids or passes a short text off as complete.
namespace {

const std::string kGoodModules = std::string(KOR_TEST_MODULES_DIR) + "/good";

struct Answer {
    int result = -2;
    std::string text;
    bool operator==(const Answer&) const = default;
};
void PrintTo(const Answer& a, std::ostream* os) { *os << a.result << " \"" << a.text << "\""; }

// Writes the sequence and loads the modules; returns its template.
std::string MakeSequence(const KorTest::TempDir& dir) {
    // Names longer than a string's small buffer, so that copying one allocates.
    EXPECT_TRUE(KorTest::WriteTestGridFile(dir.File("seq_0001.vdb"),
                                           KorTest::GridsNamed({"density", "particle_count_per_cell"})));
    // Listed in the directory's order: both orders give the same union.
    EXPECT_TRUE(KorTest::WriteTestGridFile(
        dir.File("seq_0002.vdb"), KorTest::GridsNamed({"density", "particle_count_per_cell", "grid_with_a_long_name"})));
    EXPECT_EQ(initalizeKoraLoader(kGoodModules.c_str(), "test", 0), 3);
    return dir.File("seq_####.vdb");
}

template <class Ask>
void ExpectWholeOrReported(Ask ask, const Answer& reference) {
    ZUtils::FailAllocationAt(INT64_MAX);
    ASSERT_EQ(ask(), reference);
    const int64_t allocations = ZUtils::AllocationsCounted();
    ZUtils::FailAllocationAt(0);
    ASSERT_GT(allocations, 0);
    for (int64_t k = 1; k <= allocations; ++k) {
        ZUtils::FailAllocationAt(k);
        const Answer got = ask();
        ZUtils::FailAllocationAt(0);
        EXPECT_TRUE(got == reference || (got == Answer{0, ""})) << "allocation " << k << ": " << ::testing::PrintToString(got);
    }
}

}  // namespace

TEST_F(AllocationFailure, ADefaultMappingIsWholeOrReportedAsCut) {
    KorTest::InFreshProcess([] {
        KorTest::TempDir dir;
        const std::string sequence = MakeSequence(dir);
        const auto ask = [&] {
            char out[256];
            Answer a;
            a.result = korGenerateDefaultChannelMappings(out, sizeof out, sequence.c_str());
            a.text = out;
            return a;
        };
        ExpectWholeOrReported(ask, {1, "2,density;1,particle_count_per_cell;"});
    });
}

TEST_F(AllocationFailure, TheGridListingIsWholeOrReportedAsCut) {
    KorTest::InFreshProcess([] {
        KorTest::TempDir dir;
        const std::string sequence = MakeSequence(dir);
        const std::vector<std::string> grids = {"density", "particle_count_per_cell", "grid_with_a_long_name"};
        for (int index = 0; index <= 3; ++index) {
            const auto ask = [&] {
                char out[256] = "x";
                int flag = -1;
                Answer a;
                a.result = korGet3rdPartyChannelName(out, sizeof out, &flag, sequence.c_str(), index);
                a.text = a.result >= 0 ? out : "-";
                return a;
            };
            ExpectWholeOrReported(ask, index < 3 ? Answer{1, grids[index]} : Answer{-1, "-"});
        }
    });
}

// A mapping string's entries are read in place: no allocation can fail them.
TEST_F(AllocationFailure, DecomposingAMappingNeedsNoMemory) {
    ZUtils::FailAllocationAt(1, true);
    int id = -1;
    char name[16];
    const int result = korDecomposeChannelMappingsString(&id, name, sizeof name, "2,density;10,fuel;", 1);
    const int beyond = korDecomposeChannelMappingsString(&id, name, sizeof name, "2,density;10,fuel;", 2);
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(id, 10);
    EXPECT_STREQ(name, "fuel");
    EXPECT_EQ(beyond, -1);
}

// A second open of a shared frame only counts a reference up.
TEST_F(AllocationFailure, ACacheHitNeedsNoMemory) {
    KorTest::TempDir dir;
    const std::string path = dir.File("rich.kor");
    ASSERT_TRUE(KorTest::WriteFileBytes(path, KorTest::RichFrame()));
    const char* mapping = "2,a_mapping_longer_than_a_small_string;";
    IKor* frame = newIKorWithChannelsMapping(path.c_str(), mapping);
    ASSERT_NE(frame, nullptr);
    ZUtils::FailAllocationAt(1, true);
    IKor* again = newIKorWithChannelsMapping(path.c_str(), mapping);
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(again, frame);
    deleteIKor(again);
    deleteIKor(frame);
    EXPECT_EQ(OstrelFrame::Frames().Count(), 0);
}
