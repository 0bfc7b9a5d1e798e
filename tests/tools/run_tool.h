// Runs a command-line tool of the build as a separate process, in the current
// test's temporary folders, and collects its exit code and output.
#pragma once

#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace zxtest {

struct ToolResult {
    int exitCode = -1;  // -signal when killed
    std::string out;
    std::string err;
};

struct ToolRun {
    std::vector<std::string> args;                            // args[0] is the program
    std::vector<std::pair<std::string, std::string>> env;     // added to the test's environment
    std::string stdinFile;                                    // "" for /dev/null
};

ToolResult runTool(const ToolRun& run);

// Starts without waiting; the output goes to files read by finishTool.
pid_t startTool(const ToolRun& run);
// Waits until the running tool's standard output contains text (false after
// about 20 s).
bool waitForOutput(pid_t pid, const std::string& text);
ToolResult finishTool(pid_t pid);
// What the running tool has written to standard output so far.
std::string outputSoFar(pid_t pid);

}  // namespace zxtest
