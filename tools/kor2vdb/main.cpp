// kor2vdb: converts cache frames and whole sequences to OpenVDB files.
// `kor2vdb --help` and kor2vdb(1) describe the command.
#include <cstdio>

#include "korloader/korloader.h"
#include "options.h"
#include "run.h"

int main(int argc, char** argv) {
    const Kor2Vdb::ParsedCommandLine parsed = Kor2Vdb::ParseCommandLine(argc, argv);
    switch (parsed.outcome) {
        case Kor2Vdb::ParsedCommandLine::Outcome::Help:
            std::fputs(Kor2Vdb::HelpText(), stdout);
            return 0;
        case Kor2Vdb::ParsedCommandLine::Outcome::Version: {
            const unsigned v = OstrelSDKGetVersionNumber();
            std::printf("kor2vdb (korloader %u.%02u.%02u)\n", v >> 16, (v >> 8) & 0xFF, v & 0xFF);
            return 0;
        }
        case Kor2Vdb::ParsedCommandLine::Outcome::BadUsage:
            std::fprintf(stderr, "kor2vdb: %s\nTry 'kor2vdb --help'.\n", parsed.error.c_str());
            return 2;
        case Kor2Vdb::ParsedCommandLine::Outcome::Run: break;
    }
    return Kor2Vdb::Run(parsed.options);
}
