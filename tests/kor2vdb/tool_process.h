// Runs the kor2vdb executable as a child process, as a shell or a farm
// script does, with its standard output and error captured in files.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

namespace Kor2VdbTest {

struct ToolRun {
    int status = -1;  // exit status, or 128 + signal
    std::string out, err;
};

// Starts kor2vdb with `args`; its output goes to `outFile` and `errFile`.
pid_t StartTool(const std::vector<std::string>& args, const std::string& outFile, const std::string& errFile);

// Waits for a started tool: exit status, or 128 + signal.
int WaitTool(pid_t pid);

// Runs kor2vdb to its end; `scratch` is a directory for the captured output.
ToolRun RunTool(const std::vector<std::string>& args, const std::string& scratch);

std::string ReadFile(const std::string& path);

}  // namespace Kor2VdbTest
