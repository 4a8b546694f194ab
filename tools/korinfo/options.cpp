#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace KorInfo {

namespace {

constexpr const char* kUsage =
    "usage: korinfo [OPTIONS] FILE|TEMPLATE...\n"
    "\n"
    "Prints what is in cache frames (.kor, and .vdb and .f3d through the import\n"
    "modules). A TEMPLATE (smoke_####.kor, smoke_%04d.kor, smoke_<frame04>.kor)\n"
    "stands for a sequence: its frame range, missing frames, one line per frame\n"
    "and warnings where it drifts.\n"
    "\n"
    "options:\n"
    "  --stats             decode the channels: decoded minimum, maximum, mean and\n"
    "                      the number of non-zero cells\n"
    "  --group NAME        every channel of particle group NAME with its decoded\n"
    "                      minimum and maximum\n"
    "  --json              one JSON document on standard output instead of text\n"
    "  --drift F           a channel range that grows or shrinks by more than a\n"
    "                      factor F between frames is drift (default 10)\n"
    "  --plugins DIR       load the import modules from DIR (default: the module\n"
    "                      directory of this installation)\n"
    "  --png OUT.png       write a preview picture (for a TEMPLATE: an output\n"
    "                      template, e.g. preview_####.png)\n"
    "  --project AXIS      the picture shows the maximum along AXIS (x, y or z;\n"
    "                      the default is --project z)\n"
    "  --slice AXIS=N      the picture shows cell slice N across AXIS\n"
    "  --channel NAME|ID   the grid channel of the picture (default smoke)\n"
    "  --particles GROUP   draw the positions of particle group GROUP over it\n"
    "  -q, --quiet         no progress bar\n"
    "  -h, --help          this text\n"
    "\n"
    "Exit status: 0 when every file was read, 1 when one was not (each is named\n"
    "with its reason on standard error; the others are still reported), 2 for\n"
    "bad usage.\n";

// "x", "y" or "z" (either case); -1 otherwise.
int ParseAxis(const std::string& text) {
    if (text.size() != 1) return -1;
    switch (text[0]) {
        case 'x':
        case 'X': return 0;
        case 'y':
        case 'Y': return 1;
        case 'z':
        case 'Z': return 2;
        default: return -1;
    }
}

// A whole decimal number in 0..INT32_MAX.
bool ParseCount(const std::string& text, int& value) {
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
    const long long parsed = std::atoll(text.c_str());
    if (parsed > 2147483647LL) return false;
    value = static_cast<int>(parsed);
    return true;
}

bool ParseFactor(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    const double parsed = std::strtod(text.c_str(), &end);
    if (errno != 0 || end == nullptr || *end != '\0' || !std::isfinite(parsed) || parsed <= 1.0) return false;
    value = parsed;
    return true;
}

}  // namespace

const char* UsageText() { return kUsage; }

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
    ParsedCommandLine result;
    Options& options = result.options;
    const auto bad = [&](std::string message) {
        result.outcome = ParseOutcome::BadUsage;
        result.error = std::move(message);
        return result;
    };
    bool sliceGiven = false, projectGiven = false, onlyInputs = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (onlyInputs || arg.empty() || arg[0] != '-' || arg == "-") {
            options.inputs.push_back(arg);
            continue;
        }
        if (arg == "--") {
            onlyInputs = true;
            continue;
        }
        // Options with a value take it from the next argument or after '='.
        std::string name = arg, value;
        bool hasValue = false;
        if (const size_t equals = arg.find('='); arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            value = arg.substr(equals + 1);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue) return true;
            if (i + 1 >= argc) return false;
            value = argv[++i];
            return true;
        };
        const auto flag = [&](bool& target) -> bool {
            if (hasValue) return false;
            target = true;
            return true;
        };
        if (name == "-h" || name == "--help") {
            result.outcome = ParseOutcome::Help;
            return result;
        } else if (name == "--stats") {
            if (!flag(options.stats)) return bad("--stats takes no value");
        } else if (name == "--json") {
            if (!flag(options.json)) return bad("--json takes no value");
        } else if (name == "-q" || name == "--quiet") {
            if (!flag(options.quiet)) return bad("--quiet takes no value");
        } else if (name == "--drift") {
            if (!takeValue() || !ParseFactor(value, options.drift))
                return bad("--drift needs a factor above 1, e.g. --drift 10");
        } else if (name == "--group") {
            if (!takeValue() || value.empty()) return bad("--group needs a group name");
            options.group = value;
        } else if (name == "--plugins") {
            if (!takeValue() || value.empty()) return bad("--plugins needs a directory");
            options.moduleDir = value;
        } else if (name == "--png") {
            if (!takeValue() || value.empty()) return bad("--png needs an output file");
            options.preview.output = value;
        } else if (name == "--project") {
            const int axis = takeValue() ? ParseAxis(value) : -1;
            if (axis < 0) return bad("--project needs an axis: x, y or z");
            options.preview.axis = axis;
            options.preview.project = true;
            projectGiven = true;
        } else if (name == "--slice") {
            const size_t equals = takeValue() ? value.find('=') : std::string::npos;
            const int axis = equals == std::string::npos ? -1 : ParseAxis(value.substr(0, equals));
            int index = 0;
            if (axis < 0 || !ParseCount(value.substr(equals + 1), index))
                return bad("--slice needs an axis and a cell index, e.g. --slice z=64");
            options.preview.axis = axis;
            options.preview.project = false;
            options.preview.slice = index;
            sliceGiven = true;
        } else if (name == "--channel") {
            if (!takeValue() || value.empty()) return bad("--channel needs a channel name or id");
            options.preview.channel = value;
        } else if (name == "--particles") {
            if (!takeValue() || value.empty()) return bad("--particles needs a group name");
            options.preview.particles = value;
        } else {
            return bad("unknown option " + arg);
        }
    }
    if (sliceGiven && projectGiven) return bad("--slice and --project exclude each other");
    const PreviewRequest defaults;
    const bool pictureOptions =
        sliceGiven || projectGiven || options.preview.channel != defaults.channel || !options.preview.particles.empty();
    if (pictureOptions && options.preview.output.empty())
        return bad("--slice, --project, --channel and --particles shape the --png picture: add --png OUT.png");
    if (options.inputs.empty()) return bad("no file given");
    return result;
}

}  // namespace KorInfo
