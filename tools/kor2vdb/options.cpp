#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Kor2Vdb {

namespace {

bool ParseInt(const std::string& text, long lo, long hi, int* out) {
    if (text.empty()) return false;
    errno = 0;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < lo || value > hi) return false;
    *out = static_cast<int>(value);
    return true;
}

// A-B[:STEP], or A[:STEP]; A and B may be negative (-10--1).
bool ParseFrames(const std::string& text, FrameRange* range) {
    const size_t colon = text.find(':');
    const std::string span = text.substr(0, colon);
    range->step = 1;
    if (colon != std::string::npos && !ParseInt(text.substr(colon + 1), 1, 1000000000, &range->step)) return false;
    const size_t dash = span.find('-', 1);  // a leading '-' is A's sign
    const bool single = dash == std::string::npos;
    if (!ParseInt(span.substr(0, dash), INT32_MIN, INT32_MAX, &range->first)) return false;
    if (single) {
        range->last = range->first;
        return true;
    }
    return ParseInt(span.substr(dash + 1), INT32_MIN, INT32_MAX, &range->last) && range->last >= range->first;
}

bool ParseShard(const std::string& text, Shard* shard) {
    const size_t slash = text.find('/');
    return slash != std::string::npos && ParseInt(text.substr(slash + 1), 1, 1000000, &shard->count) &&
           ParseInt(text.substr(0, slash), 0, shard->count - 1, &shard->index);
}

bool ParseChannels(const std::string& text, ChannelSet* channels, std::string* bad) {
    *channels = 0;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        const std::string item = text.substr(start, comma - start);
        if (!ParseChannelItem(item, channels)) {
            *bad = item;
            return false;
        }
        start = comma + 1;
    }
    return true;
}

bool ParseTolerance(const std::string& text, float* tolerance) {
    errno = 0;
    char* end = nullptr;
    const float value = std::strtof(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !std::isfinite(value) || value < 0) return false;
    *tolerance = value;
    return true;
}

}  // namespace

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine parsed;
    Options& o = parsed.options;
    std::vector<std::string> operands;
    const auto bad = [&](const std::string& why) {
        parsed.outcome = ParsedCommandLine::Outcome::BadUsage;
        parsed.error = why;
        return parsed;
    };
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            operands.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        // --option=value, --option value, -jN, -j N.
        std::string value;
        bool hasValue = false;
        if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
            value = arg.substr(arg.find('=') + 1);
            arg = arg.substr(0, arg.find('='));
            hasValue = true;
        } else if (arg.rfind("-j", 0) == 0 && arg.size() > 2) {
            value = arg.substr(2);
            arg = "-j";
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return hasValue = true;
        };
        const auto flag = [&](bool* target) {
            *target = true;
            return !hasValue;
        };
        bool ok = true;
        if (arg == "-h" || arg == "--help") {
            parsed.outcome = ParsedCommandLine::Outcome::Help;
            return parsed;
        } else if (arg == "--version") {
            parsed.outcome = ParsedCommandLine::Outcome::Version;
            return parsed;
        } else if (arg == "--frames") {
            FrameRange range;
            ok = takeValue() && ParseFrames(value, &range);
            o.frames = range;
        } else if (arg == "--shard") {
            ok = takeValue() && ParseShard(value, &o.shard);
        } else if (arg == "--channels") {
            ChannelSet channels = 0;
            std::string item;
            if (!takeValue()) return bad("--channels needs a list");
            if (!ParseChannels(value, &channels, &item)) return bad("--channels: unknown channel '" + item + "'");
            o.channels = channels;
        } else if (arg == "--name") {
            if (!takeValue()) return bad("--name needs ID=NAME");
            const size_t eq = value.find('=');
            int id = -1;
            if (eq == std::string::npos || !ParseInt(value.substr(0, eq), 0, kLastChannel, &id))
                return bad("--name " + value + ": expected ID=NAME with a channel id from 0 to 30");
            const std::string why = CheckRename(id, value.substr(eq + 1));
            if (!why.empty()) return bad("--name " + value + ": " + why);
            o.renames[id] = value.substr(eq + 1);
        } else if (arg == "--tolerance") {
            ok = takeValue() && ParseTolerance(value, &o.tolerance);
        } else if (arg == "--half") {
            ok = flag(&o.half);
        } else if (arg == "--compression") {
            ok = takeValue();
            if (value == "zip")
                o.compression = Compression::Zip;
            else if (value == "blosc")
                o.compression = Compression::Blosc;
            else if (value == "none")
                o.compression = Compression::None;
            else
                ok = false;
        } else if (arg == "--no-particles") {
            o.particles = false;
            ok = !hasValue;
        } else if (arg == "--points") {
            ok = takeValue() && (value == "separate" || value == "together");
            o.pointsSeparate = value == "separate";
        } else if (arg == "--skip-bad-channels") {
            ok = flag(&o.skipBadChannels);
        } else if (arg == "-j" || arg == "--jobs") {
            ok = takeValue() && ParseInt(value, 1, 4096, &o.jobs);
        } else if (arg == "--plugins") {
            ok = takeValue() && !value.empty();
            o.plugins = value;
        } else if (arg == "--json") {
            ok = flag(&o.json);
        } else if (arg == "--quiet" || arg == "-q") {
            ok = flag(&o.quiet);
        } else {
            return bad("unknown option '" + arg + "'");
        }
        if (!ok) return bad(hasValue ? "bad value for " + arg + ": '" + value + "'" : arg + " needs a value");
    }
    if (operands.size() != 2) return bad(operands.size() < 2 ? "INPUT and OUTPUT are needed" : "too many arguments");
    o.input = operands[0];
    o.output = operands[1];
    const std::string clash = CheckNamesDistinct(o.renames);
    if (!clash.empty()) return bad("--name: " + clash);
    return parsed;
}

const char* HelpText() {
    return R"(Usage: kor2vdb [options] INPUT OUTPUT

Converts cache frames (.kor, and .vdb/.f3d through the import modules) to
OpenVDB files, one frame or a whole sequence.

  INPUT    one frame, or a sequence template: smoke_####.kor, smoke_%04d.kor,
           smoke_<frame04>.kor (the frame number in place of the placeholder)
  OUTPUT   a .vdb path, or a template when INPUT is one; with one INPUT frame
           a template takes the number in INPUT's name

Frames:
  --frames A-B[:STEP]  frames A to B, every STEP-th (default: from the first
                       to the last frame found, each one; a frame missing in
                       between is reported as failed)
  --shard I/N          every N-th of those frames, from the I-th (I from 0 to
                       N-1): N machines with I = 0..N-1 share a sequence
  -j, --jobs N         frames converted in parallel (default: one per core);
                       memory grows with about N frames

Grids:
  --channels LIST      comma-separated channel ids or names (density, vel,
                       Cd, temperature, fuel, smoke, velocity.x, 12, ...);
                       default: every channel of the frame, colour included,
                       speed only if stored
  --name ID=NAME       the grid made from channel ID is called NAME; a vector
                       is named by its first channel (4 vel, 7 Cd, 15 rest,
                       19 uvw) and its split components become NAME.x ...
  --tolerance T        voxels with |value| <= T (every component, for
                       vectors) become inactive background 0 (default 0:
                       exact zeros only); others keep their exact value
  --half               store the grids' floats as half
  --compression C      zip, blosc or none (default: blosc where OpenVDB has
                       it, else zip)
  --skip-bad-channels  write a frame whose channel does not decode without
                       that channel (named on stderr) instead of failing it

Particles:
  --no-particles       no point data grids
  --points separate    the particle groups go to NAME.points.vdb beside the
                       output NAME.vdb (for readers that refuse point data
                       grids); default: together, in the same file

Other:
  --plugins DIR        import modules for .vdb/.f3d input (default: the
                       installed module directory)
  --json               one JSON line per frame on stdout (frame, input,
                       output, ok, grids, active voxels, particles, seconds,
                       error)
  --quiet              no progress bar (it shows on a terminal only)
  -h, --help           this text       --version   the version

What lands in the .vdb: a FloatGrid per scalar channel (1 temperature,
2 density, 3 speed, 10 fuel, 14 wavelet, others channel_<id>); Vec3SGrids
vel (4-6), Cd (7-9), rest (15-17), uvw (19-21), or their components as
scalar grids (vel.x, Cd.g, ...) when one is missing; voxel (i,j,k) is cell
(i,j,k), with the frame's transform as the grid's affine index-to-world map.
Each particle group becomes a PointDataGrid named after it: P in world
space, v, pscale, age, Cd, id (int64), others as channel_<id>. Metadata:
frame, time and info. Files are written to a temporary beside the output
and renamed: a failed or interrupted frame leaves no partial file.

Exit status: 0 every frame converted, 1 some failed (each named on stderr,
the others converted), 2 bad usage.
)";
}

}  // namespace Kor2Vdb
