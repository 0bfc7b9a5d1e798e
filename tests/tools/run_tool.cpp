#include "tools/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "support/test_env.h"

namespace zxtest {

namespace {

std::string outputPath(pid_t pid, const char* stream) {
    return testRoot() + "/tool-" + std::to_string(pid) + "." + stream;
}

}  // namespace

pid_t startTool(const ToolRun& run) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [name, value] : run.env) {
            ::setenv(name.c_str(), value.c_str(), 1);
        }
        const int in = ::open(run.stdinFile.empty() ? "/dev/null" : run.stdinFile.c_str(), O_RDONLY);
        const std::string out = outputPath(::getpid(), "out");
        const std::string err = outputPath(::getpid(), "err");
        const int o = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int e = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || o < 0 || e < 0) {
            ::_exit(126);
        }
        ::dup2(in, 0);
        ::dup2(o, 1);
        ::dup2(e, 2);
        std::vector<char*> argv;
        for (const auto& a : run.args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

bool waitForOutput(pid_t pid, const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
        if (fileExists(outputPath(pid, "out")) && readFile(outputPath(pid, "out")).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

ToolResult finishTool(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    ToolResult r;
    r.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    r.out = fileExists(outputPath(pid, "out")) ? readFile(outputPath(pid, "out")) : "";
    r.err = fileExists(outputPath(pid, "err")) ? readFile(outputPath(pid, "err")) : "";
    return r;
}

std::string outputSoFar(pid_t pid) {
    return fileExists(outputPath(pid, "out")) ? readFile(outputPath(pid, "out")) : "";
}

ToolResult runTool(const ToolRun& run) { return finishTool(startTool(run)); }

}  // namespace zxtest
