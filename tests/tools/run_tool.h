// Runs the build's command-line tools as separate processes in the current
// test's folders, and the bundled simulated machines they run against.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "support/test_env.h"

namespace zxtest {

struct ToolResult {
    int exitCode = -1;  // -signal when killed
    std::string out;
    std::string err;
};

inline std::string toolOutputPath(pid_t pid, const char* stream) {
    return testRoot() + "/tool-" + std::to_string(pid) + "." + stream;
}
inline std::string readIfThere(const std::string& path) { return fileExists(path) ? readFile(path) : ""; }

// How a tool runs besides its arguments: where its standard output goes
// (default a file in the test's folder) and the largest file it may write
// (0: no limit; a larger write fails with EFBIG, as on a full disk).
struct ToolSetting {
    std::string stdoutPath;
    std::size_t fileSizeLimit = 0;
};

// Starts args[0] with the simulated machines' state and the NVAPI simulator's
// call log (nvapi.log) in the test's folder; its output goes to files there.
inline pid_t startTool(const std::vector<std::string>& args, const ToolSetting& setting = {}) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("XDG_STATE_HOME", (testRoot() + "/state").c_str(), 1);
        ::setenv("ZXSIM_NVAPI_LOG", (testRoot() + "/nvapi.log").c_str(), 1);
        if (setting.fileSizeLimit != 0) {
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{setting.fileSizeLimit, setting.fileSizeLimit};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        const int in = ::open("/dev/null", O_RDONLY);
        const std::string outPath = setting.stdoutPath.empty() ? toolOutputPath(::getpid(), "out") : setting.stdoutPath;
        const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int err = ::open(toolOutputPath(::getpid(), "err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
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

// What the tool has written to standard output once that holds text; "" after
// about 20 s without it.
inline std::string waitForOutput(pid_t pid, const std::string& text) {
    for (int i = 0; i < 2000; ++i) {
        const std::string out = readIfThere(toolOutputPath(pid, "out"));
        if (out.find(text) != std::string::npos) {
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return "";
}

inline ToolResult finishTool(pid_t pid) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status), readIfThere(toolOutputPath(pid, "out")),
            readIfThere(toolOutputPath(pid, "err"))};
}

inline ToolResult runTool(const std::vector<std::string>& args, const ToolSetting& setting = {}) {
    return finishTool(startTool(args, setting));
}

// zxctl --simulate MACHINE ARGS...
inline ToolResult zxctl(const std::string& machine, std::vector<std::string> args) {
    args.insert(args.begin(), {ZXCTL_PROGRAM, "--simulate", machine});
    return runTool(args);
}

// Its answer to ARGS... --json (a discarded value if it is none).
inline nlohmann::json zxctlJson(const std::string& machine, std::vector<std::string> args) {
    args.push_back("--json");
    const ToolResult r = zxctl(machine, args);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return nlohmann::json::parse(r.out, nullptr, false);
}

// A `zxctl lock hold` run on the machine, once it holds the lock (-1 if it
// never does). SIGINT ends it.
inline pid_t holdLock(const std::string& machine) {
    const pid_t pid = startTool({ZXCTL_PROGRAM, "--simulate", machine, "lock", "hold"});
    return waitForOutput(pid, "Holding the card lock").empty() ? -1 : pid;
}

// What each machine's scenario and profile say, GPU 0 first (lower bus).
using Level = std::optional<unsigned>;  // nothing: "not supported by this card"
struct GpuExpect {
    unsigned temperature;
    std::optional<unsigned> usage;  // nothing: "failed" (NVIDIA drivers cannot tell)
    unsigned currentLevel;
    std::vector<unsigned> gpuMHz;
    std::vector<unsigned> memoryMHz;
    unsigned fan;
    unsigned fanMin;
    std::optional<unsigned> voltage;  // current GPU voltage, mV; nothing: unknown until set
    Level memoryVoltage;
    Level pwm;
};
struct Machine {
    const char* name;
    const char* backend;
    const char* cardId;
    const char* description0;
    std::vector<GpuExpect> gpus;
};

// The regulators' pins start at the profiles' 3D defaults. A kind-2 card's
// current voltage lives only in the user store: unknown until first set.
inline const Machine kMachines[] = {
    {"nvidia-kind1", "NVIDIA", "10DE_0622_B111_7A3C", "ZX GeForce 9600 GT, 512 MB GDDR3",
     {{52, {}, 2, {300, 500, 650}, {400, 800, 900}, 45, 30, 1200, 2, 0}}},
    {"nvidia-dual-kind2", "NVIDIA", "10DE_0611_A102_7A3C", "ZX GeForce 8800 GT, 1 GB GDDR3",
     {{54, {}, 2, {300, 550, 700}, {500, 900, 1100}, 40, 25, {}, {}, {}},
      {61, {}, 1, {300, 550, 700}, {500, 900, 1100}, 55, 25, {}, {}, {}}}},
    {"ati-radeon", "ATI", "1002_9460_0502_7A3C", "ZX Radeon HD 4850, 512 MB GDDR3",
     {{58, 35, 2, {300, 500, 625}, {500, 800, 993}, 35, 20, 1200, 2, 0}}},
};

// Test names show the machine's name.
inline void PrintTo(const Machine& m, std::ostream* os) { *os << m.name; }
inline std::string testName(const ::testing::TestParamInfo<Machine>& info) {
    std::string n = info.param.name;
    std::replace(n.begin(), n.end(), '-', '_');
    return n;
}

}  // namespace zxtest
