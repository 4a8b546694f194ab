// korinfo's text output: the report of one frame file and the report of a
// sequence (its range, missing frames, one line per frame and its drift).
#pragma once
#include "examine.h"
#include "sequence_report.h"

namespace KorInfo {

// Everything known about one frame, in the layout of `vdb_print -l`.
void PrintFrame(const FrameFacts& facts);

// With --stats the frame lines count the smoke channel's non-zero cells;
// without, they show its stored range (counting would need a decode).
void PrintSequence(const SequenceReport& report, bool stats);

}  // namespace KorInfo
