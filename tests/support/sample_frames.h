// A catalogue of cache files for the hardening tests and the fuzzers' seed
// corpora: valid frames of every kind the writers can make, and hostile
// ones (cut short, sizes and offsets pointing elsewhere, counts that do not
// fit). Deterministic: the same bytes on every run.
#pragma once
#include <string>
#include <vector>

#include "support/byte_writer.h"

namespace KorTest {

struct SampleFile {
    std::string name;  // a file name, "<kind>.kor"
    Bytes bytes;
};

// The richest valid frame: every tagged record, chunk area, grid channels,
// packed colour and whatever particle data the writers support.
Bytes RichFrame();

// Valid frames, one per kind (RichFrame among them).
std::vector<SampleFile> ValidFrames();

// Damaged and hostile frames: each must load with status 3 or 4, or load and
// then fail only the channel or group it damages.
std::vector<SampleFile> HostileFrames();

}  // namespace KorTest
