// Regression tests for faults found by fuzzing and by the allocation-failure
// walk, one per fault, named after the hazard. The minimised inputs also stay
// in fuzz/regressions/ and are replayed by the fuzz stage of CI.
#include <gtest/gtest.h>

#include <cstdint>

#include "frame/byte_source.h"
#include "frame/import_kor.h"
#include "frame/ostrel_frame_data.h"
#include "support/kor_writer.h"

namespace {

int LoadBytes(OstrelFrameData& frame, const KorTest::Bytes& bytes) {
    frame.ResetFrame(0);
    KorFrame::MemorySource source(bytes.data(), bytes.size());
    return ImportKorFrom(frame, source, "memory.kor");
}

}  // namespace

TEST(Findings, GridCellCountOfHugeDimensionsDoesNotOverflow) {
    // 2^31-1 cubed does not fit in 64 bits: the count saturates, and no
    // channel of such a grid can be allocated.
    OstrelFrameData frame;
    ASSERT_EQ(LoadBytes(frame, KorTest::KorWriter()
                                   .Grid(0x7fffffff, 0x7fffffff, 0x7fffffff)
                                   .PackedColour(KorTest::Bytes(32, 1))
                                   .Build()),
              0);
    EXPECT_EQ(frame.CellCount(), INT64_MAX);
    EXPECT_EQ(frame.GetChannel(7), nullptr);
    frame.nx = 0x7fffffff;
    frame.ny = 0x7fffffff;
    frame.nz = 2;
    EXPECT_EQ(frame.CellCount(), int64_t{0x7fffffff} * 0x7fffffff * 2);
}
