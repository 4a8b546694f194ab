// korinfo's command line: what the user asked for, and the usage text.
#pragma once
#include <string>
#include <vector>

namespace KorInfo {

// A picture of one grid channel: a slice or the maximum along an axis.
struct PreviewRequest {
    std::string output;             // --png: a path, or a template for sequences ("" = no picture)
    int axis = 2;                   // 0 x, 1 y, 2 z
    bool project = true;            // --project (default); false: --slice
    int slice = -1;                 // --slice AXIS=N: the cell index N
    std::string channel = "smoke";  // --channel NAME|ID
    std::string particles;          // --particles GROUP: drawn over the picture
};

struct Options {
    std::vector<std::string> inputs;  // files and sequence templates
    bool stats = false;               // decode every channel: decoded min, max, mean, non-zero count
    bool json = false;                // one JSON document instead of text
    bool quiet = false;               // no progress bar
    double drift = 10;                // a range that grows or shrinks by more than this factor is drift
    std::string group;                // --group NAME: every channel of that group, decoded min and max
    std::string moduleDir;            // --plugins DIR ("" = the installed module directory)
    PreviewRequest preview;
};

enum class ParseOutcome { Run, Help, BadUsage };

struct ParsedCommandLine {
    ParseOutcome outcome = ParseOutcome::Run;
    Options options;
    std::string error;  // for BadUsage: what was wrong
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The usage text printed by --help (and, after an error, its first lines).
const char* UsageText();

}  // namespace KorInfo
