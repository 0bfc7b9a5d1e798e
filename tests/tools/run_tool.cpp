#include "tools/run_tool.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include <gtest/gtest.h>

#include "support/test_env.h"

namespace zxtest {

namespace {

std::string outputPath(pid_t pid, const char* stream) {
    return testRoot() + "/tool-" + std::to_string(pid) + "." + stream;
}

std::string readIfThere(const std::string& path) { return fileExists(path) ? readFile(path) : ""; }

}  // namespace

pid_t startTool(const std::vector<std::string>& args, const std::string& stdinFile) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_STATE_HOME", (testRoot() + "/state").c_str(), 1);
        ::setenv("ZXSIM_NVAPI_LOG", (testRoot() + "/nvapi.log").c_str(), 1);
        const int in = ::open(stdinFile.empty() ? "/dev/null" : stdinFile.c_str(), O_RDONLY);
        const int out = ::open(outputPath(::getpid(), "out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(outputPath(::getpid(), "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (in < 0 || out < 0 || err < 0) {
            ::_exit(126);
        }
        ::dup2(in, 0);
        ::dup2(out, 1);
        ::dup2(err, 2);
        std::vector<char*> argv;
        for (const auto& a : args) {
            argv.push_back(const_cast<char*>(a.c_str()));
        }
        argv.push_back(nullptr);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

std::string waitForOutput(pid_t pid, const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
        const std::string out = readIfThere(outputPath(pid, "out"));
        if (out.find(text) != std::string::npos) {
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

ToolResult finishTool(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), readIfThere(outputPath(pid, "out")),
            readIfThere(outputPath(pid, "err"))};
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& stdinFile) {
    return finishTool(startTool(args, stdinFile));
}

ToolResult zxctl(const std::string& machine, std::vector<std::string> args) {
    args.insert(args.begin(), {ZXCTL_PROGRAM, "--simulate", machine});
    return runTool(args);
}

nlohmann::json zxctlJson(const std::string& machine, std::vector<std::string> args) {
    args.push_back("--json");
    const ToolResult r = zxctl(machine, args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
}

pid_t holdLock(const std::string& machine) {
    const pid_t pid = startTool({ZXCTL_PROGRAM, "--simulate", machine, "lock", "hold"});
    return waitForOutput(pid, "Holding the card lock").empty() ? -1 : pid;
}

}  // namespace zxtest
