// korinfo: prints what is in cache frames and sequences, in the spirit of
// `vdb_print -l`.
//
//   korinfo [OPTIONS] FILE|TEMPLATE...
//
// A FILE (.kor, .vdb, .f3d) gets the report of one frame; a TEMPLATE
// (smoke_####.kor) the report of its sequence. --json prints the same facts
// as one JSON document, --png writes preview pictures. Exit status 0 when
// every file was read, 1 when one was not, 2 for bad usage.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "common/sequence.h"
#include "common/utf8_path.h"
#include "frame/channel_pool.h"
#include "examine.h"
#include "json_report.h"
#include "options.h"
#include "paths/frame_paths.h"
#include "png_file.h"
#include "preview.h"
#include "sequence_report.h"
#include "text_report.h"

using namespace KorInfo;

namespace {

// A template stands for its sequence, unless a file has that very name.
bool IsSequenceInput(const std::string& input) {
    std::error_code error;
    return KorTools::IsSequenceTemplate(input) && !std::filesystem::is_regular_file(KorTools::Utf8Path(input), error);
}

// Names the file and why it failed, with what the reader logged.
void ReportFailure(const Inspection& inspection) {
    if (!inspection.failed) return;
    std::fprintf(stderr, "korinfo: %s: %s\n", inspection.path.c_str(), inspection.reason.c_str());
    if (!inspection.log.empty()) std::fprintf(stderr, "korinfo: reader said:\n%s", inspection.log.c_str());
}

int BadUsage(const std::string& message) {
    std::fprintf(stderr, "korinfo: %s\nusage: korinfo [OPTIONS] FILE|TEMPLATE... (korinfo --help for more)\n",
                 message.c_str());
    return 2;
}

// The picture options that the inputs make impossible; "" when they fit.
std::string CheckPreview(const Options& options, int channel) {
    const std::string& output = options.preview.output;
    if (output.empty()) return {};
    if (!PngAvailable()) return "--png is not available: this korinfo was built without libpng";
    if (channel < 0) return "--channel " + options.preview.channel + " names no grid channel";
    bool many = options.inputs.size() > 1;
    for (const std::string& input : options.inputs) many = many || IsSequenceInput(input);
    if (many && !KorTools::IsSequenceTemplate(output))
        return "--png needs an output template (e.g. preview_####.png) for a sequence or several files";
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    const ParsedCommandLine parsed = ParseCommandLine(argc, argv);
    if (parsed.outcome == ParseOutcome::Help) {
        std::fputs(UsageText(), stdout);
        return 0;
    }
    if (parsed.outcome == ParseOutcome::BadUsage) return BadUsage(parsed.error);
    const Options& options = parsed.options;
    const int previewChannel = options.preview.output.empty() ? -1 : ResolveGridChannel(options.preview.channel);
    if (const std::string problem = CheckPreview(options, previewChannel); !problem.empty()) return BadUsage(problem);

    Inspector inspector(options, previewChannel);
    JsonReport json;
    bool ok = true;
    for (const std::string& input : options.inputs) {
        if (IsSequenceInput(input)) {
            const SequenceReport report = InspectSequence(input, inspector, options.drift, options.quiet);
            for (const Inspection& frame : report.frames) ReportFailure(frame);
            if (report.frames.empty())
                std::fprintf(stderr, "korinfo: %s: no file of this sequence exists\n", input.c_str());
            ok = !report.Failed() && ok;
            if (options.json)
                json.AddSequence(report);
            else if (!report.frames.empty())
                PrintSequence(report, options.stats);
            continue;
        }
        const Inspection inspection = inspector.Inspect(input, ParseFrameNumber(input.c_str()), true);
        ReportFailure(inspection);
        ok = !inspection.failed && ok;
        if (options.json) {
            json.AddFile(input, inspection);
        } else if (inspection.facts) {
            PrintFrame(*inspection.facts);
            if (!inspection.picture.empty()) std::printf("  picture: %s\n", inspection.picture.c_str());
        }
    }
    if (options.json) std::printf("%s\n", json.End(ok).c_str());
    if (options.stats && !options.json) {
        // The channel arrays of frames given back, kept for the next frames.
        const ChannelPool::Stats pool = ChannelPool::GetStats();
        std::printf("channel pool: %d arrays kept, %.1f MiB (bound %.1f MiB); %lld reads reused an array, %lld made one; huge pages %s\n",
                    pool.keptArrays, static_cast<double>(pool.keptBytes) / (1 << 20),
                    static_cast<double>(pool.boundBytes) / (1 << 20), static_cast<long long>(pool.reused),
                    static_cast<long long>(pool.made), pool.hugePages ? "on" : "off");
    }
    // A report that did not reach its reader (a full disk, a closed pipe) is a failure too.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        std::fprintf(stderr, "korinfo: cannot write the report: %s\n", std::strerror(errno));
        return 1;
    }
    return ok ? 0 : 1;
}
