// The command line of kor2vdb.
#pragma once
#include <optional>
#include <string>

#include "grid_names.h"

namespace Kor2Vdb {

enum class Compression { Default, Zip, Blosc, None };

struct FrameRange {
    int first = 0, last = 0, step = 1;
};

struct Shard {
    int index = 0, count = 1;  // every count-th frame from the index-th (from 0)
};

struct Options {
    std::string input, output;
    std::optional<FrameRange> frames;
    Shard shard;
    std::optional<ChannelSet> channels;  // none: every channel the frame has
    GridRenames renames;
    float tolerance = 0.0f;
    bool half = false;
    Compression compression = Compression::Default;
    bool particles = true;
    bool pointsSeparate = false;
    bool skipBadChannels = false;
    int jobs = 0;  // 0: one per core
    std::optional<std::string> plugins;
    bool json = false;
    bool quiet = false;
};

struct ParsedCommandLine {
    enum class Outcome { Run, Help, Version, BadUsage } outcome = Outcome::Run;
    Options options;
    std::string error;  // for BadUsage
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The --help text.
const char* HelpText();

}  // namespace Kor2Vdb
