// Runs the build's command-line tools as separate processes in the current
// test's folders, and the bundled simulated machines they run against.
#pragma once

#include <sys/types.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zxtest {

struct ToolResult {
    int exitCode = -1;  // -signal when killed
    std::string out;
    std::string err;
};

// Starts args[0] with the simulated machines' state and the NVAPI simulator's
// call log (nvapi.log) in the test's folder; its output goes to files there.
pid_t startTool(const std::vector<std::string>& args, const std::string& stdinFile = "");
// What the tool has written to standard output once that holds text; "" after
// about 20 s without it.
std::string waitForOutput(pid_t pid, const std::string& text);
ToolResult finishTool(pid_t pid);
ToolResult runTool(const std::vector<std::string>& args, const std::string& stdinFile = "");

// zxctl --simulate MACHINE ARGS...
ToolResult zxctl(const std::string& machine, std::vector<std::string> args);
// Its answer to ARGS... --json (a discarded value if it is none).
nlohmann::json zxctlJson(const std::string& machine, std::vector<std::string> args);
// A `zxctl lock hold` run on the machine, once it holds the lock (-1 if it
// never does). SIGINT ends it.
pid_t holdLock(const std::string& machine);

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
    unsigned voltage;  // current GPU voltage
    Level memoryVoltage;
    Level pwm;
};
struct Machine {
    const char* name;
    const char* backend;
    const char* cardId;
    const char* description0;
    std::vector<GpuExpect> gpus;
    // A voltage set on the last GPU, the value then shown and the one `reset` brings back.
    unsigned setVoltage;
    unsigned shownVoltage;
    unsigned defaultVoltage;
};

// The regulators' pins start at the profiles' 3D defaults. A kind-2 card's
// current voltage lives only in the user store: 0 until first set. On kind 1,
// PWM level 1 is bit 0 of the VID code, as 1125 mV's code has it.
inline const Machine kMachines[] = {
    {"nvidia-kind1", "NVIDIA", "10DE_0622_B111_7A3C", "ZX GeForce 9600 GT, 512 MB GDDR3",
     {{52, {}, 2, {300, 500, 650}, {400, 800, 900}, 45, 30, 1200, 2, 0}}, 1125, 1125, 1200},
    {"nvidia-dual-kind2", "NVIDIA", "10DE_0611_A102_7A3C", "ZX GeForce 8800 GT, 1 GB GDDR3",
     {{54, {}, 2, {300, 550, 700}, {500, 900, 1100}, 40, 25, 0, {}, {}},
      {61, {}, 1, {300, 550, 700}, {500, 900, 1100}, 55, 25, 0, {}, {}}},
     1150, 1150, 1200},
    // The profile's voltage scale has steps of 50: 1125 is shown as 1100.
    {"ati-radeon", "ATI", "1002_9460_0502_7A3C", "ZX Radeon HD 4850, 512 MB GDDR3",
     {{58, 35, 2, {300, 500, 625}, {500, 800, 993}, 35, 20, 1200, 2, 0}}, 1125, 1100, 1200},
};

// Test names and messages show the machine's name.
inline void PrintTo(const Machine& m, std::ostream* os) { *os << m.name; }
inline std::string testName(const Machine& m) {
    std::string n = m.name;
    for (char& c : n) {
        c = c == '-' ? '_' : c;
    }
    return n;
}

}  // namespace zxtest
