// The native cache container: every record, the trailer generations, the
// chunk walk, and every way a damaged file is refused.
#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <memory>
#include <string>

#include "api/load_frame.h"
#include "frame/byte_source.h"
#include "frame/import_kor.h"
#include "frame/ostrel_frame_data.h"
#include "log_capture.h"
#include "support/kor_writer.h"
#include "support/temp_dir.h"
#include "util/alloc.h"

using KorTest::Bytes;
using KorTest::ByteWriter;
using KorTest::KorWriter;

namespace {

struct Loaded {
    std::unique_ptr<OstrelFrameData> frame = std::make_unique<OstrelFrameData>();
    int status = -1;
};

Loaded LoadBytes(const Bytes& bytes) {
    Loaded loaded;
    loaded.frame->ResetFrame(0);
    KorFrame::MemorySource source(bytes.data(), bytes.size());
    loaded.status = ImportKorFrom(*loaded.frame, source, "memory.kor");
    return loaded;
}

const char* const kBroken = "OstrelFrameData::ImportKor broken or bad memory allocation. File is: memory.kor\n";

double SimDouble(const OstrelFrameData& frame, int at) {
    double d;
    std::memcpy(&d, frame.simInfo + at, sizeof d);
    return d;
}

Bytes Int32s(std::initializer_list<int32_t> values) {
    ByteWriter w;
    for (int32_t v : values) w.Put(v);
    return w.Get();
}

}  // namespace

TEST(Container, HeaderAndEndTagAloneGiveAnEmptyFrame) {
    Bytes bytes = {'K', 'O', 'R', 'A', 0, 0, 0, 0};
    Loaded l = LoadBytes(bytes);
    EXPECT_EQ(l.status, 0);
    EXPECT_EQ(l.frame->nx, 0);
    EXPECT_EQ(l.frame->channelMask, 0u);
    EXPECT_EQ(l.frame->groups.Count(), 0);
    EXPECT_EQ(l.frame->frameNumber, 0);  // no tag 4
    EXPECT_EQ(l.frame->formatVersion, 0);
}

TEST(Container, EveryTaggedRecordSetsItsField) {
    const KorTest::Transform t = {2, 0, 0, 0, 3, 0, 0, 0, 4, 5, 6, 7};
    const KorTest::Transform a = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    KorWriter w;
    w.Mask(0x80000006u)
        .GridTransform(t)
        .Grid(3, 4, 5)
        .RawChannelBlock({2, 1, 77})
        .FrameNumber(-12)
        .TimeStep(0.04f)
        .AuxTransform(a)
        .Time(1.5f)
        .Tag9(99, 0.25f)
        .AuxTransforms(t, a, t, 0x1122334455667788ull);
    Loaded l = LoadBytes(w.Build());
    ASSERT_EQ(l.status, 0);
    OstrelFrameData& f = *l.frame;
    EXPECT_EQ(f.channelMask, 0x80000006u);
    EXPECT_EQ(f.flags & 1, 1);  // backup frame from mask bit 31
    EXPECT_EQ(std::memcmp(f.transform, t.data(), 48), 0);
    EXPECT_EQ(f.nx, 3);
    EXPECT_EQ(f.ny, 4);
    EXPECT_EQ(f.nz, 5);
    ASSERT_EQ(f.compressedLength, 3);
    EXPECT_EQ(f.compressedBlock[2], 77);
    EXPECT_EQ(f.frameNumber, -12);
    EXPECT_FLOAT_EQ(f.timeStep, 0.04f);
    EXPECT_EQ(std::memcmp(f.auxTransforms[0], t.data(), 48), 0);  // tag 11 came after tag 6
    EXPECT_EQ(std::memcmp(f.auxTransforms[1], a.data(), 48), 0);
    EXPECT_EQ(f.tag9Value, 0.25f);
    int32_t value9;
    std::memcpy(&value9, f.simInfo + 348, 4);
    EXPECT_EQ(value9, 99);
    uint64_t extra;
    std::memcpy(&extra, f.simInfo + 384, 8);
    EXPECT_EQ(extra, 0x1122334455667788ull);
    EXPECT_EQ(SimDouble(f, 8), 1.5);  // tag 8 widens the float
    EXPECT_EQ(f.formatVersion, 4);
}

TEST(Container, Tag10SetsBothTimesAndASmallTag12BlockOnlyItsBytes) {
    KorWriter w;
    ByteWriter times;
    times.Put(2.25).Put(-8.5);
    w.SimInfo(Bytes(100, 0xAB)).Record(10, times.Get());
    Loaded l = LoadBytes(w.Build());
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.frame->simInfo[7], 0xAB);
    EXPECT_EQ(SimDouble(*l.frame, 8), 2.25);  // tag 10 follows tag 12
    EXPECT_EQ(SimDouble(*l.frame, 16), -8.5);
    EXPECT_EQ(l.frame->simInfo[99], 0xAB);
    EXPECT_EQ(l.frame->simInfo[100], 0);
}

TEST(Container, ALargeTag12BlockFillsTheSettingsAndSkipsTheRest) {
    Bytes info(400);
    for (size_t i = 0; i < info.size(); ++i) info[i] = static_cast<uint8_t>(i * 3 + 1);
    KorWriter w;
    w.SimInfo(info).Record(4, Int32s({31}));  // read only if the 8 extra bytes were skipped
    Loaded l = LoadBytes(w.Build());
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(std::memcmp(l.frame->simInfo, info.data(), 392), 0);
    EXPECT_EQ(l.frame->frameNumber, 31);
}

TEST(Container, ChunksGiveInfoTextAndChannelRanges) {
    KorWriter w;
    w.Grid(1, 1, 1)
        .InfoText("made by a test")
        .Chunk(4242, Bytes(37, 1))  // unknown chunks are skipped by their size
        .ChannelRanges({{2, 0.0f, 3.5f}, {40, 1, 2}, {-1, 1, 2}, {31, -1, 1}});
    Loaded l = LoadBytes(w.Build());
    ASSERT_EQ(l.status, 0);
    EXPECT_STREQ(l.frame->infoText.c_str(), "made by a test");
    EXPECT_EQ(l.frame->rangeMin[2], 0.0f);
    EXPECT_EQ(l.frame->rangeMax[2], 3.5f);
    EXPECT_EQ(l.frame->rangeMax[31], 1.0f);
    EXPECT_EQ(l.frame->rangeMin[1], FLT_MAX);  // not known
    EXPECT_EQ(l.frame->rangeMax[1], -FLT_MAX);
}

TEST(Container, OlderTrailersUse32BitSizesAndVersion2StopsAfterTheGroupDirectory) {
    for (int version : {2, 3}) {
        KorWriter w;
        w.Version(version)
            .Chunk(1000, Int32s({0, 0, 0, 0, 0, 0, 0}))  // no groups, a bounding box
            .AfterChunk(Int32s({100000}))
            .InfoText("after the directory");
        Loaded l = LoadBytes(w.Build());
        ASSERT_EQ(l.status, 0) << version;
        EXPECT_EQ(l.frame->formatVersion, version);
        EXPECT_EQ(l.frame->infoText.Empty(), version == 2) << version;
    }
}

TEST(Container, AFileWithoutTrailerIsReadFromItsTaggedRecords) {
    KorWriter w;
    w.NoTrailer().Grid(2, 2, 2).FrameNumber(7).InfoText("never read");
    Loaded l = LoadBytes(w.Build());
    ASSERT_EQ(l.status, 0);
    EXPECT_EQ(l.frame->frameNumber, 7);
    EXPECT_EQ(l.frame->nx, 2);
    EXPECT_TRUE(l.frame->infoText.Empty());
}

TEST(Container, AnUnknownTagEndsTheRecordsLikeTagZero) {
    KorWriter w;
    w.FrameNumber(3).EndTag(14).Record(0, {});  // the bytes after it are never looked at
    Bytes bytes = w.Build();
    Loaded l = LoadBytes(bytes);
    EXPECT_EQ(l.status, 0);
    KorWriter negative;
    negative.EndTag(-5);
    EXPECT_EQ(LoadBytes(negative.Build()).status, 0);
}

TEST(Container, NegativeWordCountFailsWithBothLines) {
    LogCapture log;
    ByteWriter tag3;
    tag3.Put<int32_t>(1).Put<int32_t>(1).Put<int32_t>(1).Put<int32_t>(-1);
    KorWriter w;
    w.Record(3, tag3.Get());
    Loaded l = LoadBytes(w.Build());
    EXPECT_EQ(l.status, 4);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{"OstrelFrameData::ImportKor bad comprDataSzInts!", kBroken}));
    EXPECT_EQ(l.frame->compressedLength, 0);
    EXPECT_EQ(l.frame->compressedBlock, nullptr);
}

TEST(Container, ANegativeDataOffsetInAnOldFileIsStatus3WithoutALogLine) {
    LogCapture log;
    KorWriter w;
    w.Version(2).DataOffset(-1);
    EXPECT_EQ(LoadBytes(w.Build()).status, 3);
    EXPECT_TRUE(log.Log().empty());
}

TEST(Container, WrongMagicIsNoHeader) {
    LogCapture log;
    Bytes bytes = KorWriter().NoTrailer().Build();
    bytes[3] = 'X';
    EXPECT_EQ(LoadBytes(bytes).status, 4);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{"no hdr\n", kBroken}));
}

TEST(Container, AFileShorterThanItsTrailerMagicFails) {
    LogCapture log;
    EXPECT_EQ(LoadBytes(Bytes{'K', 'O', 'R'}).status, 4);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{"Failed while seeking to kora2 magic!\n", kBroken}));
    log.Clear();
    EXPECT_EQ(LoadBytes(Bytes{}).status, 4);
}

TEST(Container, AChunkAreaWithoutItsEndRunsIntoTheTrailerAndFails) {
    LogCapture log;
    KorWriter w;
    w.InfoText("x").NoEndOfChunks();
    EXPECT_EQ(LoadBytes(w.Build()).status, 4);
    EXPECT_TRUE(log.Logged(kBroken));
}

TEST(Container, ATrailerPointingOutsideTheFileFails) {
    for (int64_t offset : {int64_t{-1}, int64_t{1} << 40, INT64_MAX}) {
        LogCapture log;
        KorWriter w;
        w.DataOffset(offset);
        EXPECT_EQ(LoadBytes(w.Build()).status, 4) << offset;
        EXPECT_TRUE(log.Logged(kBroken));
    }
}

TEST(Container, CountsAndSizesLargerThanTheFileAreRefusedBeforeAllocating) {
    // A 30-byte file claiming a gigabyte of channel words.
    ByteWriter tag3;
    tag3.Put<int32_t>(1).Put<int32_t>(1).Put<int32_t>(1).Put<int32_t>(0x10000000);
    KorWriter w;
    w.NoTrailer().Record(3, tag3.Get());
    ZUtils::FailAllocationAt(INT64_MAX);  // count allocations without failing any
    Loaded l = LoadBytes(w.Build());
    const int64_t allocations = ZUtils::AllocationsCounted();
    ZUtils::FailAllocationAt(0);
    EXPECT_EQ(l.status, 4);
    EXPECT_LT(allocations, 16);  // a few small ones, never the gigabyte

    const std::vector<std::pair<const char*, KorWriter>> hostile = {
        {"negative tag-12 size", KorWriter().NoTrailer().Record(12, Int32s({-1}))},
        {"tag-12 size beyond the file", KorWriter().NoTrailer().Record(12, Int32s({1 << 30}))},
        {"negative info text length", KorWriter().Chunk(1001, Int32s({-5}))},
        {"info text beyond the file", KorWriter().Chunk(1001, Int32s({1 << 30}))},
        {"range count beyond the file", KorWriter().Chunk(1003, Int32s({1 << 28}))},
        {"negative range count", KorWriter().Chunk(1003, Int32s({-1}))},
        {"negative chunk size", KorWriter().Chunk(5000, {}, -8)},
        {"chunk fields beyond its size", KorWriter().Chunk(1003, Int32s({1, 2, 0, 0}), 4)},
    };
    for (const auto& [what, writer] : hostile) {
        LogCapture log;
        EXPECT_EQ(LoadBytes(writer.Build()).status, 4) << what;
        EXPECT_TRUE(log.Logged(kBroken)) << what;
    }
}

TEST(Container, EveryTruncationOfARichFileIsRefusedCleanly) {
    KorWriter w;
    w.Mask(4).GridTransform(KorTest::kIdentity).Grid(2, 2, 2).RawChannelBlock({2, 2, 5, 6}).FrameNumber(5);
    w.TimeStep(0.1f).SimInfo(Bytes(50, 1)).Tag9(1, 2).Times(1, 2).InfoText("text").ChannelRanges({{2, 0, 1}});
    const Bytes full = w.Build();
    ASSERT_EQ(LoadBytes(full).status, 0);
    KorWriter recordsOnly = w;
    const size_t recordsEnd = recordsOnly.NoTrailer().Build().size();
    for (size_t n = 0; n < full.size(); ++n) {
        Loaded l = LoadBytes(Bytes(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(n)));
        // Cut behind the end tag, what is left is a complete file without trailer.
        if (n < recordsEnd)
            EXPECT_EQ(l.status, 4) << "cut at " << n;
        else
            EXPECT_EQ(l.status, 0) << "cut at " << n;
    }
}

TEST(Container, ReadFailuresLogTheirMarks) {
    struct Case {
        int32_t tag;
        Bytes payload;
        const char* mark;
    };
    const Case cases[] = {
        {1, {}, "1\n"},        {2, Bytes(8), "2\n"},           {3, Bytes(8), "3\n"},
        {3, Bytes(12), "4\n"}, {3, Int32s({1, 1, 1, 4}), "x41\n"}, {4, {}, "4\n"},
        {5, {}, "7\n"},        {6, {}, "6\n"},                 {8, {}, "20\n"},
        {9, {}, "21\n"},       {9, Bytes(4), "22\n"},          {10, {}, "24\n"},
        {10, Bytes(8), "25\n"}, {11, Bytes(40), "11\n"},       {11, Bytes(144), "x111\n"},
        {12, {}, "12\n"},      {12, Int32s({8}), "12\n"},      {12, [] { ByteWriter b; b.Put<int32_t>(400).PutBytes(Bytes(392)); return b.Get(); }(), "x121\n"},
    };
    for (const Case& c : cases) {
        LogCapture log;
        ByteWriter bytes;
        bytes.PutBytes("KORA", 4).Put(c.tag).PutBytes(c.payload);
        EXPECT_EQ(LoadBytes(bytes.Get()).status, 4) << c.tag;
        EXPECT_EQ(log.Log(), (std::vector<std::string>{c.mark, kBroken})) << "tag " << c.tag;
    }
    LogCapture log;
    EXPECT_EQ(LoadBytes(Bytes{'K', 'O', 'R', 'A', 4, 0, 0, 0, 7, 0, 0, 0}).status, 4);
    EXPECT_EQ(log.Log(), (std::vector<std::string>{"0\n", kBroken}));
}

TEST(Container, FilesAreOpenedByNameAndMissingOnesAreStatus3) {
    KorTest::TempDir dir;
    const std::string path = dir.File("frame.KOR");  // the extension is matched without case
    ASSERT_TRUE(KorWriter().Grid(4, 5, 6).FrameNumber(9).WriteFile(path));
    OstrelFrameData frame;
    EXPECT_EQ(frame.frameNumber, INT32_MIN);  // never loaded
    EXPECT_EQ(LoadCacheFile(frame, path.c_str(), ""), 0);
    EXPECT_EQ(frame.frameNumber, 9);
    EXPECT_STREQ(frame.path.c_str(), path.c_str());

    LogCapture log;
    OstrelFrameData missing;
    EXPECT_EQ(LoadCacheFile(missing, dir.File("missing.kor").c_str(), ""), 3);
    EXPECT_EQ(LoadCacheFile(missing, nullptr, ""), 3);
    EXPECT_EQ(LoadCacheFile(missing, "", ""), 3);
    EXPECT_EQ(LoadCacheFile(missing, dir.File("frame.txt").c_str(), ""), 3);
    EXPECT_TRUE(missing.path.Empty());
    EXPECT_TRUE(log.Log().empty());
}
