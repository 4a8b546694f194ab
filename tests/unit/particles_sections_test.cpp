// The particle data of a cache file: group directory (chunk 1000),
// compressed particle data (chunk 1002), the tagged sections 7 and 13 with
// their sub-records and ID deltas, the bounding box, and damaged input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>

#include "frame/byte_source.h"
#include "frame/import_kor.h"
#include "frame/ostrel_frame_data.h"
#include "frame/particle_bbox.h"
#include "log_capture.h"
#include "particles_test_util.h"
#include "support/kor_writer.h"
#include "support/particle_writer.h"
#include "util/alloc.h"

using namespace KorParticles;
using KorTest::Bytes;
using KorTest::ByteWriter;
using KorTest::KorWriter;
using KorTest::Words;
using ParticleTest::Pattern;
using ParticleTest::ReadAll;

namespace {

struct Loaded {
    std::unique_ptr<OstrelFrameData> frame = std::make_unique<OstrelFrameData>();
    int status = -1;
    PGroup& Group(int i) { return frame->groups[i]; }
};

Loaded Load(const KorWriter& writer) {
    const Bytes bytes = writer.Build();
    Loaded loaded;
    KorFrame::MemorySource source(bytes.data(), bytes.size());
    loaded.frame->ResetFrame(0);
    loaded.status = ImportKorFrom(*loaded.frame, source, "memory.kor");
    return loaded;
}

// A file that ends inside a tag-7 section cut to `section`.
Loaded LoadCut(const Bytes& section) {
    Bytes bytes = KorWriter().NoTrailer().Record(7, section).Build();
    bytes.resize(bytes.size() - 4);  // no end tag behind the cut
    Loaded loaded;
    KorFrame::MemorySource source(bytes.data(), bytes.size());
    loaded.frame->ResetFrame(0);
    loaded.status = ImportKorFrom(*loaded.frame, source, "memory.kor");
    return loaded;
}

const char* const kBroken = "OstrelFrameData::ImportKor broken or bad memory allocation. File is: memory.kor\n";
const std::array<float, 6> kBox = {-1, -2, -3, 4, 5, 6};

KorWriter WithDirectory(const std::vector<KorTest::DirectoryGroup>& groups) {
    KorWriter w;
    w.Chunk(1000, KorTest::GroupDirectoryChunk(groups, kBox)).AfterChunk(KorTest::Int32Bytes(100000));
    return w;
}

KorTest::StoredChannel Stored(int id, uint32_t method, const Words& e, int32_t count) {
    return {id, method, KorTest::EncodeParticleChannel(method, e, count, WordsOf(id))};
}

KorTest::SectionGroup SectionOf(const std::string& name, int32_t count, std::map<int, Words> channels,
                                std::vector<KorTest::SubRecord> records = {}) {
    KorTest::SectionGroup g;
    g.name = name;
    g.count = count;
    g.channels = std::move(channels);
    g.records = std::move(records);
    return g;
}

}  // namespace

// --- Chunk 1000

TEST(GroupDirectory, NamesCountsMasksAttributesAndTheBoundingBox) {
    Loaded l = Load(WithDirectory({{"smoke", 10, 0x401, 0}, {"spray", 3, 1, kVelocityFromGrid}}));
    ASSERT_EQ(l.status, 0);
    ASSERT_EQ(l.frame->groups.Count(), 2);
    EXPECT_STREQ(l.Group(0).GetName(), "smoke");
    EXPECT_EQ(l.Group(0).particleCount, 10);
    EXPECT_EQ(l.Group(0).channelMask, 0x401u);
    EXPECT_EQ(l.Group(1).attributes, kVelocityFromGrid);
    EXPECT_EQ(l.Group(1).frame, l.frame.get());
    for (int i = 0; i < 6; ++i) EXPECT_EQ(l.frame->particleBbox[i], kBox[i]);
    // Without channel data the groups hold no positions.
    EXPECT_EQ(l.frame->GetNumParticleGroups(), 0);
    EXPECT_EQ(l.frame->GetParticleGroupByName("spray"), &l.Group(1));
}

TEST(GroupDirectory, CountsTheFileCannotHoldAreRefused) {
    for (int32_t groups : {-1, 1 << 30}) {
        LogCapture log;
        Bytes payload = ByteWriter().Put<int32_t>(groups).Get();
        Loaded l = Load(KorWriter().Chunk(1000, payload).AfterChunk(KorTest::Int32Bytes(100000)));
        EXPECT_EQ(l.status, 4) << groups;
        EXPECT_TRUE(log.Logged("OstrelFrameData::ImportKor bad particle group count!\n"));
        EXPECT_TRUE(log.Logged(kBroken));
    }
    LogCapture log;
    Loaded l = Load(WithDirectory({{"bad", -4, 1, 0}}));
    EXPECT_EQ(l.status, 4);
    EXPECT_TRUE(log.Logged("OstrelFrameData::ImportKor bad particle count!\n"));
}

TEST(GroupDirectory, AMissingValueBehindTheChunkFailsTheFile) {
    LogCapture log;
    Loaded l = Load(KorWriter().Chunk(1000, KorTest::GroupDirectoryChunk({}, kBox)).NoEndOfChunks());
    EXPECT_EQ(l.status, 4);
}

// --- Chunk 1002

TEST(CompressedParticles, ChannelsStayCompressedUntilFirstUse) {
    const int32_t n = 40;
    const Words pos = Pattern(3 * n, 1), vel = Pattern(3 * n, 2);
    KorTest::CompressedGroup g{"liquid", 0, n, 0x1122334455667788, {}};
    g.channels = {Stored(0, 4, pos, n), Stored(1, 1, vel, n), Stored(3, 0, Pattern(n, 3), n), Stored(12, 4, Pattern(n, 4), n)};
    Loaded l = Load(WithDirectory({{"liquid", n, 0, 0}}).Chunk(1002, KorTest::CompressedParticlesChunk({g})));
    ASSERT_EQ(l.status, 0);
    PGroup& group = l.Group(0);
    EXPECT_EQ(group.value64, 0x1122334455667788);
    EXPECT_EQ(group.channelMask, (1u << 0) | (1u << 1) | (1u << 3) | (1u << 12));
    EXPECT_EQ(group.Method(0), 4u);
    EXPECT_EQ(group.DecodedSize(0), 0);
    EXPECT_GT(group.CompressedSize(0), 0);
    EXPECT_EQ(ReadAll(group, 0), pos);
    EXPECT_EQ(ReadAll(group, 1), vel);
    EXPECT_EQ(ReadAll(group, 3), Pattern(n, 3));
    EXPECT_EQ(ReadAll(group, 12), Pattern(n, 4));
    EXPECT_EQ(l.frame->GetNumParticleGroups(), 1);
    // The directory's bounding box stays; nothing was computed.
    EXPECT_EQ(l.frame->particleBbox[0], -1.0f);
}

TEST(CompressedParticles, AZeroByteRecordLeavesTheChannelAbsent) {
    KorTest::CompressedGroup g{"g", 0, 2, 0, {{0, 0, KorTest::EncodePlain(Pattern(6, 1))}, {2, 1, {}}}};
    Loaded l = Load(KorWriter().Chunk(1002, KorTest::CompressedParticlesChunk({g})));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.Group(0).channelMask, 1u);
    EXPECT_EQ(l.Group(0).HasChannel(2), 0);
}

TEST(CompressedParticles, ReplacesTheGroupsOfTheDirectory) {
    KorTest::CompressedGroup g{"only", 0, 1, 0, {Stored(0, 0, Pattern(3, 1), 1)}};
    Loaded l = Load(WithDirectory({{"a", 1, 1, 0}, {"b", 1, 1, 0}}).Chunk(1002, KorTest::CompressedParticlesChunk({g})));
    ASSERT_EQ(l.status, 0);
    ASSERT_EQ(l.frame->groups.Count(), 1);
    EXPECT_STREQ(l.Group(0).GetName(), "only");
}

TEST(CompressedParticles, HostileRecordsFailTheFile) {
    struct Case {
        const char* what;
        Bytes payload;
        const char* line;
    };
    auto group = [](int32_t channels) {
        return ByteWriter().Put<int32_t>(1).PutString("g").Put<uint32_t>(0).Put<int32_t>(1).Put<int64_t>(0).Put(channels);
    };
    const char* badChannel = "OstrelFrameData::ImportKor bad particle channel!\n";
    const std::vector<Case> cases = {
        {"channel id 32", group(1).Put<int32_t>(32).Put<uint32_t>(0).Put<int32_t>(0).Get(), badChannel},
        {"channel id -1", group(1).Put<int32_t>(-1).Put<uint32_t>(0).Put<int32_t>(0).Get(), badChannel},
        {"negative byte count", group(1).Put<int32_t>(0).Put<uint32_t>(0).Put<int32_t>(-8).Get(),
         "Failed to load compressed particle data!\n"},
        {"bytes past the end", group(1).Put<int32_t>(0).Put<uint32_t>(0).Put<int32_t>(1000).Put<int32_t>(0).Get(),
         "Failed to load compressed particle data!\n"},
        {"negative record count", group(-1).Get(), badChannel},
        {"record count too large", group(1 << 28).Get(), badChannel},
        {"group count too large", ByteWriter().Put<int32_t>(1 << 26).Get(),
         "OstrelFrameData::ImportKor bad particle group count!\n"},
        {"negative particle count",
         ByteWriter().Put<int32_t>(1).PutString("g").Put<uint32_t>(0).Put<int32_t>(-1).Put<int64_t>(0).Put<int32_t>(0).Get(),
         "OstrelFrameData::ImportKor bad particle count!\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Loaded l = Load(KorWriter().Chunk(1002, c.payload));
        EXPECT_EQ(l.status, 4) << c.what;
        EXPECT_TRUE(log.Logged(c.line)) << c.what;
    }
}

TEST(CompressedParticles, AllocationFailuresFailTheFileWithoutCrashing) {
    KorTest::CompressedGroup g{"g", 0, 5, 0, {Stored(0, 1, Pattern(15, 1), 5), Stored(10, 0, Pattern(10, 2), 5)}};
    const KorWriter w = WithDirectory({{"g", 5, 1, 0}}).Chunk(1002, KorTest::CompressedParticlesChunk({g}));
    for (int k = 1; k < 40; ++k) {
        ZUtils::FailAllocationAt(k);
        Loaded l = Load(w);
        ZUtils::FailAllocationAt(0);
        EXPECT_TRUE(l.status == 0 || l.status == 4) << k;
    }
}

// --- Tagged sections

TEST(ParticleSection, PlainSectionDecodesAtOnceWithSubRecords) {
    const int32_t n = 4;
    const Words pos = KorTest::FloatWords({0, 0, 0, 1, 2, 3, -1, 5, 2, 4, 4, 4});
    const std::vector<int64_t> ids = {5, 6, 7, 100};
    KorTest::SectionGroup g = SectionOf("fire", n, {{0, pos}, {2, Pattern(n, 2)}, {20, Pattern(n, 3)}},
                                        {KorTest::AttributeRecord(kVelocityFromGrid), KorTest::IdRecord(ids),
                                         KorTest::ValueRecord(-77)});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({g}, false)));
    ASSERT_EQ(l.status, 0);
    PGroup& group = l.Group(0);
    EXPECT_STREQ(group.GetName(), "fire");
    EXPECT_EQ(group.attributes, kVelocityFromGrid);
    EXPECT_EQ(group.value64, -77);
    EXPECT_EQ(group.DecodedSize(0), 48);
    EXPECT_EQ(ReadAll(group, 0), pos);
    EXPECT_EQ(ReadAll(group, 2), Pattern(n, 2));
    EXPECT_EQ(ReadAll(group, 20), Pattern(n, 3));
    EXPECT_EQ(ReadAll(group, 10), KorTest::Int64Words(ids));
    EXPECT_EQ(group.FindParticleByID(100), 3);
    EXPECT_FALSE(group.IdOrderBuilt());
    // No directory: the box is computed from the positions.
    const float box[6] = {-1, 0, 0, 4, 5, 4};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(l.frame->particleBbox[i], box[i]) << i;
}

TEST(ParticleSection, CompressedSectionIsComponentMajor) {
    const int32_t n = 5;
    const Words pos = Pattern(3 * n, 8), colour = Pattern(3 * n, 9);
    KorTest::SectionGroup g = SectionOf("s", n, {{0, pos}, {4, colour}, {11, Pattern(n, 1)}});
    Loaded l = Load(KorWriter().Record(13, KorTest::ParticleSection({g, SectionOf("t", 1, {{2, Pattern(1, 3)}})}, true)));
    ASSERT_EQ(l.status, 0);
    ASSERT_EQ(l.frame->groups.Count(), 2);
    EXPECT_EQ(ReadAll(l.Group(0), 0), pos);
    EXPECT_EQ(ReadAll(l.Group(0), 4), colour);
    EXPECT_EQ(ReadAll(l.Group(0), 11), Pattern(n, 1));
    EXPECT_EQ(ReadAll(l.Group(1), 2), Pattern(1, 3));
    EXPECT_NE(l.Group(0).DecoderState(0), nullptr);  // kept for the group's life
}

TEST(ParticleSection, AStreamThatDoesNotDecodeFailsTheFile) {
    LogCapture log;
    KorTest::SectionGroup g = SectionOf("s", 2, {{0, Pattern(6, 1)}, {2, Pattern(2, 2)}});
    g.offsetOverrides[2] = 0;  // the position stream: 6 values, not 2
    Loaded l = Load(KorWriter().Record(13, KorTest::ParticleSection({g}, true)));
    EXPECT_EQ(l.status, 4);
    EXPECT_TRUE(log.Logged("Error decompressing particle channel 2 with method 3\n"));
    EXPECT_TRUE(log.Logged(kBroken));
    EXPECT_EQ(ReadAll(l.Group(0), 0), Pattern(6, 1));  // decoded before the failure, kept
}

TEST(ParticleSection, IdDeltasBecomeIdsAndANegativeDeltaBuildsTheOrdering) {
    // Deltas 5, 1, 1 become 5, 6, 7: no ordering.
    KorTest::SectionGroup ascending = SectionOf("a", 3, {{0, Pattern(9, 1)}}, {KorTest::IdBlockRecord(KorTest::DirectTokenBlock({5, 0, 1, 0, 1, 0}))});
    // Deltas 5, -1 become 5, 4: the ordering is built at once.
    KorTest::SectionGroup descending = SectionOf("d", 2, {{0, Pattern(6, 1)}}, {KorTest::IdBlockRecord(KorTest::DirectTokenBlock({5, 0, -1, -1}))});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({ascending, descending}, false)));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(ReadAll(l.Group(0), 10), KorTest::Int64Words({5, 6, 7}));
    EXPECT_FALSE(l.Group(0).IdOrderBuilt());
    EXPECT_EQ(ReadAll(l.Group(1), 10), KorTest::Int64Words({5, 4}));
    EXPECT_TRUE(l.Group(1).IdOrderBuilt());
    EXPECT_EQ(l.Group(1).IdOrder()[0], 1);
    EXPECT_EQ(l.Group(1).FindParticleByID(4), 1);
}

TEST(ParticleSection, LargeAndWrappingIdDeltas) {
    const std::vector<int64_t> ids = {-(1LL << 50), 3, INT64_MAX, INT64_MIN, 0};
    KorTest::SectionGroup g = SectionOf("g", 5, {{0, Pattern(15, 1)}}, {KorTest::IdRecord(ids)});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({g}, false)));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(ReadAll(l.Group(0), 10), KorTest::Int64Words(ids));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(l.Group(0).FindParticleByID(ids[i]), i);
}

TEST(ParticleSection, BadParticlesAreCountedAndLeftOutOfTheBox) {
    LogCapture log;
    KorTest::SectionGroup g = SectionOf("far", 1, {{0, KorTest::FloatWords({1e6f, 0, 0})}});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({g}, false)));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.frame->particleBbox[0], 1e20f);
    EXPECT_EQ(l.frame->particleBbox[3], -1e20f);
    const std::vector<std::string> debugger = log.Debugger();
    EXPECT_NE(std::find(debugger.begin(), debugger.end(), "#bad particles found in group far, count:1\n"), debugger.end());
}

TEST(ParticleSection, TheBoxSpansGroupsAndSkipsNonFiniteSums) {
    LogCapture log;
    KorTest::SectionGroup a = SectionOf("a", 3, {{0, KorTest::FloatWords({1, 1, 1, NAN, 0, 0, 99999, 0, 0})}});
    KorTest::SectionGroup b = SectionOf("b", 2, {{0, KorTest::FloatWords({-5, 2, 0, INFINITY, 0, 0})}});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({a, b}, false)));
    ASSERT_EQ(l.status, 0);
    const float box[6] = {-5, 0, 0, 99999, 2, 1};
    for (int i = 0; i < 6; ++i) EXPECT_EQ(l.frame->particleBbox[i], box[i]) << i;
    EXPECT_TRUE(log.Logged("bad particles found in group a, count:1\n"));
    EXPECT_TRUE(log.Logged("bad particles found in group b, count:1\n"));
    ASSERT_NE(l.frame->bboxJob, nullptr);
    EXPECT_STREQ(l.frame->bboxJob->GetName(), "MTComputeParticlesBbox");
}

TEST(ParticleSection, ADirectoryKeepsItsBoxWhileTheSectionRenames) {
    KorTest::SectionGroup g = SectionOf("renamed", 2, {{0, KorTest::FloatWords({50, 50, 50, 60, 60, 60})}});
    Loaded l = Load(WithDirectory({{"old", 7, 1, 9}}).Record(7, KorTest::ParticleSection({g}, false)));
    ASSERT_EQ(l.status, 0);
    EXPECT_STREQ(l.Group(0).GetName(), "renamed");
    EXPECT_EQ(l.Group(0).particleCount, 2);
    EXPECT_EQ(l.Group(0).attributes, 9u);  // the directory's, not replaced
    for (int i = 0; i < 6; ++i) EXPECT_EQ(l.frame->particleBbox[i], kBox[i]);
}

TEST(ParticleSection, ASecondSectionWithAnotherCountDropsStaleChannels) {
    KorTest::SectionGroup first = SectionOf("g", 4, {{0, Pattern(12, 1)}, {2, Pattern(4, 2)}});
    KorTest::SectionGroup second = SectionOf("g", 6, {{0, Pattern(18, 3)}});
    Loaded l = Load(KorWriter()
                        .Record(7, KorTest::ParticleSection({first}, false))
                        .Record(7, KorTest::ParticleSection({second}, false)));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(ReadAll(l.Group(0), 0), Pattern(18, 3));
    EXPECT_EQ(l.Group(0).HasChannel(2), 0);  // made for 4 particles
}

TEST(ParticleSection, EveryFieldHasItsMark) {
    const Bytes full = KorTest::ParticleSection(
        {SectionOf("g", 1, {{0, KorTest::FloatWords({1, 2, 3})}},
                   {KorTest::AttributeRecord(1), KorTest::IdRecord({1}), KorTest::ValueRecord(2)})},
        false);
    // Cut the section after each field; the file must fail with that field's mark.
    struct Cut {
        size_t keep;
        const char* mark;
    };
    const size_t words = 4, groups = words + 12, name = groups + 4, count = name + 5, offsets = count + 4;
    const size_t sub1 = offsets + 128, attr = sub1 + 4, sub2 = attr + 4, idBytes = sub2 + 4;
    const std::vector<Cut> cuts = {{2, "9\n"},           {words + 4, "x91\n"}, {groups + 2, "11\n"},
                                   {count + 2, "12\n"},  {offsets + 60, "13\n"}, {sub1 + 1, "14\n"},
                                   {attr + 3, "15\n"},   {sub2 + 1, "14\n"},   {idBytes + 2, "16\n"},
                                   {idBytes + 6, "x161\n"}};
    for (const Cut& c : cuts) {
        LogCapture log;
        Loaded l = LoadCut(Bytes(full.begin(), full.begin() + static_cast<long>(c.keep)));
        EXPECT_EQ(l.status, 4) << c.keep;
        ASSERT_FALSE(log.Log().empty());
        EXPECT_EQ(log.Log().front(), c.mark) << c.keep;
    }
    LogCapture log;
    Loaded l = LoadCut(Bytes(full.begin(), full.end() - 6));  // in the 64-bit value of sub-tag 3
    EXPECT_EQ(l.status, 4);
    EXPECT_EQ(log.Log().front(), "18\n");
}

TEST(ParticleSection, TagThirteenWordsHaveTheirOwnMark) {
    LogCapture log;
    Loaded l = Load(KorWriter().NoTrailer().Record(13, ByteWriter().Put<int32_t>(10).Put<int32_t>(0).Get()));
    EXPECT_EQ(l.status, 4);
    EXPECT_EQ(log.Log().front(), "13\n");
}

TEST(ParticleSection, UnknownSubTagFailsTheFile) {
    LogCapture log;
    KorTest::SectionGroup g = SectionOf("g", 1, {{0, Pattern(3, 1)}}, {{4, {}}});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({g}, false)));
    EXPECT_EQ(l.status, 4);
    EXPECT_TRUE(log.Logged("19\n"));
    EXPECT_TRUE(log.Logged(kBroken));
    EXPECT_EQ(l.frame->groups.Count(), 1);  // read before the failure, kept
}

TEST(ParticleSection, HostileOffsetsCountsAndIdBlocksFailTheFile) {
    const char* badChannel = "OstrelFrameData::ImportKor bad particle channel!\n";
    struct Case {
        const char* what;
        Bytes section;
        bool compressed;
        const char* line;
    };
    auto offsetCase = [](int channel, int32_t offset, bool compressed) {
        KorTest::SectionGroup g = SectionOf("g", 2, {{0, Pattern(6, 1)}});
        g.offsetOverrides[channel] = offset;
        return KorTest::ParticleSection({g}, compressed);
    };
    const std::vector<Case> cases = {
        {"words reach past the data", offsetCase(2, 5, false), false, badChannel},
        {"offset past the data", offsetCase(2, 7, false), false, badChannel},
        {"negative offset", offsetCase(0, -2, false), false, badChannel},
        {"compressed offset past the data", offsetCase(2, 1000, true), true, badChannel},
        {"negative word count", ByteWriter().Put<int32_t>(-1).Get(), false, "x91\n"},
        {"group count too large", ByteWriter().Put<int32_t>(0).Put<int32_t>(1 << 20).Get(), false, kBroken},
        {"negative group count", ByteWriter().Put<int32_t>(0).Put<int32_t>(-1).Get(), false,
         "OstrelFrameData::ImportKor bad particle group count!\n"},
        {"negative particle count", KorTest::ParticleSection({SectionOf("g", -1, {})}, false), false,
         "OstrelFrameData::ImportKor bad particle count!\n"},
        {"negative id byte count",
         KorTest::ParticleSection({SectionOf("g", 1, {}, {{2, ByteWriter().Put<int32_t>(-4).Get()}})}, false), false,
         "x161\n"},
        {"ids missing from the block",
         KorTest::ParticleSection({SectionOf("g", 3, {}, {KorTest::IdBlockRecord(KorTest::DirectTokenBlock({1, 0}))})},
                                  false),
         false, "x161\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        Loaded l = Load(KorWriter().Record(c.compressed ? 13 : 7, c.section));
        EXPECT_EQ(l.status, 4) << c.what;
        EXPECT_TRUE(log.Logged(c.line)) << c.what;
    }
}

TEST(ParticleSection, AllocationFailuresFailTheFileWithoutCrashing) {
    KorTest::SectionGroup g = SectionOf("g", 3, {{0, Pattern(9, 1)}, {2, Pattern(3, 1)}},
                                        {KorTest::IdRecord({3, 1, 2})});
    for (bool compressed : {false, true}) {
        const KorWriter w = KorWriter().Record(compressed ? 13 : 7, KorTest::ParticleSection({g}, compressed));
        for (int k = 1; k < 60; ++k) {
            ZUtils::FailAllocationAt(k);
            Loaded l = Load(w);
            ZUtils::FailAllocationAt(0);
            EXPECT_TRUE(l.status == 0 || l.status == 4) << k;
        }
    }
}

// --- ID deltas in the coded entropy form (the codec's own test encoder)

#include "support/entropy_encoder.h"

TEST(ParticleSection, CodedIdBlocksDecodeTokenByToken) {
    std::vector<int64_t> ids(200);
    for (size_t i = 0; i < ids.size(); ++i) ids[i] = 1000 + static_cast<int64_t>(i % 3 == 0 ? 2 * i : 2 * i + 1);
    std::vector<int32_t> tokens;
    for (size_t i = 0; i < ids.size(); ++i) {
        const uint64_t delta = static_cast<uint64_t>(ids[i]) - (i ? static_cast<uint64_t>(ids[i - 1]) : 0u);
        tokens.push_back(static_cast<int32_t>(static_cast<uint32_t>(delta)));
        tokens.push_back(static_cast<int32_t>(static_cast<uint32_t>(delta >> 32)));
    }
    const Bytes block = KorTest::EncodeEntropyBlock(tokens, KorTest::EntropyForm::Coded);
    KorTest::SectionGroup g = SectionOf("coded", 200, {}, {KorTest::IdBlockRecord(block)});
    Loaded l = Load(KorWriter().Record(7, KorTest::ParticleSection({g}, false)));
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(ReadAll(l.Group(0), 10), KorTest::Int64Words(ids));
    EXPECT_EQ(l.Group(0).FindParticleByID(1300), 150);
}

TEST(ParticleSection, FlippedBytesNeverCrashTheReaderOrTheGroups) {
    const int32_t n = 40;
    KorTest::CompressedGroup packed{"packed", 0, n, 0, {}};
    for (int c : {0, 1, 2, 10})
        packed.channels.push_back({c, static_cast<uint32_t>(c % 5),
                                   KorTest::EncodeParticleChannel(c % 5, Pattern(static_cast<size_t>(n) * WordsOf(c), c), n, WordsOf(c))});
    const KorTest::SectionGroup plain = SectionOf("plain", 6, {{0, Pattern(18, 1)}, {4, Pattern(18, 2)}},
                                                  {KorTest::IdRecord({9, 3, 4, 5, 1, 2}), KorTest::ValueRecord(1)});
    const KorTest::SectionGroup sparse = SectionOf("sparse", 5, {{0, Pattern(15, 3)}, {3, Pattern(5, 4)}},
                                                   {KorTest::AttributeRecord(kVelocityFromGrid)});
    const Bytes valid = WithDirectory({{"packed", n, 0, 0}})
                            .Chunk(1002, KorTest::CompressedParticlesChunk({packed}))
                            .Record(7, KorTest::ParticleSection({plain}, false))
                            .Record(13, KorTest::ParticleSection({sparse}, true))
                            .Build();
    std::mt19937 random(12345);
    LogCapture quiet;
    for (int round = 0; round < 400; ++round) {
        Bytes bytes = valid;
        for (int flips = 1 + static_cast<int>(random() % 4); flips > 0; --flips)
            bytes[random() % bytes.size()] ^= static_cast<uint8_t>(1u << (random() % 8));
        auto frame = std::make_unique<OstrelFrameData>();
        frame->ResetFrame(0);
        KorFrame::MemorySource source(bytes.data(), bytes.size());
        if (ImportKorFrom(*frame, source, "memory.kor") != 0) continue;
        for (PGroup& g : frame->groups) {
            for (int c = 0; c < KOR_PARTICLE_CHANNEL_COUNT; ++c) {
                uint32_t element[3];
                for (int i = 0; i < g.particleCount; ++i)
                    if (!g.GetParticleChannel(i, c, element)) break;
            }
            g.FindParticleByID(3);
        }
        quiet.Clear();
    }
}
