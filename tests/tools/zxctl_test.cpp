// zxctl end to end: the real program on each bundled simulated machine, its
// state under the test's own XDG_STATE_HOME.
#include <gtest/gtest.h>
#include <signal.h>

#include <optional>

#include <nlohmann/json.hpp>

#include "support/test_env.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

using Level = std::optional<unsigned>;  // nothing: "not supported by this card"
constexpr Level kNone = std::nullopt;

// What each machine's scenario and profile say, GPU 0 first (lower bus).
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
    // set voltage on the last GPU: the value asked for, the value then
    // shown, and the value `reset` brings back.
    unsigned setVoltage;
    unsigned shownVoltage;
    unsigned defaultVoltage;
};

// The regulators' pins start at the profiles' 3D defaults. A kind-2 card's
// current voltage lives only in the user store: 0 until first set. On kind 1,
// PWM level 1 is bit 0 of the VID code, as 1125 mV's code has it.
const Machine kMachines[] = {
    {"nvidia-kind1", "NVIDIA", "10DE_0622_B111_7A3C", "ZX GeForce 9600 GT, 512 MB GDDR3",
     {{52, {}, 2, {300, 500, 650}, {400, 800, 900}, 45, 30, 1200, 2, 0}}, 1125, 1125, 1200},
    {"nvidia-dual-kind2", "NVIDIA", "10DE_0611_A102_7A3C", "ZX GeForce 8800 GT, 1 GB GDDR3",
     {{54, {}, 2, {300, 550, 700}, {500, 900, 1100}, 40, 25, 0, kNone, kNone},
      {61, {}, 1, {300, 550, 700}, {500, 900, 1100}, 55, 25, 0, kNone, kNone}},
     1150, 1150, 1200},
    // The profile's voltage scale has steps of 50: 1125 is shown as 1100.
    {"ati-radeon", "ATI", "1002_9460_0502_7A3C", "ZX Radeon HD 4850, 512 MB GDDR3",
     {{58, 35, 2, {300, 500, 625}, {500, 800, 993}, 35, 20, 1200, 2, 0}}, 1125, 1100, 1200},
};

// Test names and messages show the machine's name, not the row's bytes.
void PrintTo(const Machine& m, std::ostream* os) { *os << m.name; }

// A reading the card offers is that number; one it does not is null with
// the reason.
void expectLevel(const json& group, const char* key, Level expected, const std::string& what) {
    if (expected) {
        EXPECT_EQ(group[key], *expected) << what;
    } else {
        EXPECT_TRUE(group[key].is_null()) << what;
        EXPECT_EQ(group["unavailable"][key], "not supported by this card") << what;
    }
}

ToolResult zxctl(const std::vector<std::string>& args) {
    ToolRun run;
    run.args = {ZXCTL_PROGRAM};
    run.args.insert(run.args.end(), args.begin(), args.end());
    run.env = {{"XDG_STATE_HOME", testRoot() + "/state"}};
    return runTool(run);
}

ToolResult sim(const Machine& m, std::vector<std::string> args) {
    args.insert(args.begin(), {"--simulate", m.name});
    return zxctl(args);
}

json statusJson(const Machine& m) {
    const ToolResult r = sim(m, {"status", "--json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return json::parse(r.out);
}

class ZxctlMachine : public ::testing::TestWithParam<Machine> {};

TEST_P(ZxctlMachine, InfoAndStatusShowTheScenario) {
    const Machine& m = GetParam();
    ToolResult r = sim(m, {"info", "--json"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const json info = json::parse(r.out);
    EXPECT_EQ(info["simulated"], m.name);
    EXPECT_EQ(info["backend"], m.backend);
    EXPECT_EQ(info["gpu_count"], m.gpus.size());
    ASSERT_EQ(info["adapters"].size(), m.gpus.size());
    EXPECT_EQ(info["adapters"][0]["card_id"], m.cardId);
    EXPECT_EQ(info["descriptions"][0], m.description0);

    r = sim(m, {"info"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(m.cardId), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(m.description0), std::string::npos) << r.out;

    const json status = statusJson(m);
    ASSERT_EQ(status["gpus"].size(), m.gpus.size());
    for (std::size_t i = 0; i < m.gpus.size(); ++i) {
        const json& g = status["gpus"][i];
        const GpuExpect& e = m.gpus[i];
        EXPECT_EQ(g["temperature_c"], e.temperature) << "GPU " << i;
        EXPECT_EQ(g["current_level"], e.currentLevel) << "GPU " << i;
        EXPECT_EQ(g["clocks"]["gpu"]["mhz"], json(e.gpuMHz)) << "GPU " << i;
        EXPECT_EQ(g["clocks"]["gpu"]["default_mhz"], json(e.gpuMHz)) << "GPU " << i;
        EXPECT_EQ(g["clocks"]["memory"]["mhz"], json(e.memoryMHz)) << "GPU " << i;
        EXPECT_EQ(g["fan"]["percent"], e.fan) << "GPU " << i;
        EXPECT_EQ(g["fan"]["range"]["min"], e.fanMin) << "GPU " << i;
        if (e.usage) {
            EXPECT_EQ(g["usage_percent"], *e.usage) << "GPU " << i;
        } else {
            EXPECT_TRUE(g["usage_percent"].is_null());
            EXPECT_EQ(g["unavailable"]["usage_percent"], "failed");
        }
        EXPECT_EQ(g["voltage"]["current"], e.voltage) << "GPU " << i;
        expectLevel(g["memory_voltage"], "level", e.memoryVoltage, "memory voltage of GPU " + std::to_string(i));
        expectLevel(g["pwm"], "level", e.pwm, "PWM of GPU " + std::to_string(i));
    }

    r = sim(m, {"status"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const GpuExpect& e = m.gpus.back();
    EXPECT_NE(r.out.find(std::to_string(e.temperature) + " °C"), std::string::npos) << r.out;
    const std::string usage = e.usage ? std::to_string(*e.usage) + " %" : "n/a (failed)";
    EXPECT_NE(r.out.find("Usage                 " + usage), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("GPU voltage           " + std::to_string(e.voltage)), std::string::npos) << r.out;
}

TEST_P(ZxctlMachine, SetShowsInALaterRunAndResetAllRestoresTheDefaults) {
    const Machine& m = GetParam();
    const std::string last = std::to_string(m.gpus.size() - 1);
    const std::size_t gpu = m.gpus.size() - 1;
    ASSERT_EQ(sim(m, {"set", "gpu-clock", "1", "420", "--gpu", last}).exitCode, 0);
    ASSERT_EQ(sim(m, {"set", "memory-clock", "2", "600", "--gpu", last}).exitCode, 0);
    ASSERT_EQ(sim(m, {"set", "fan", "80", "--gpu", last}).exitCode, 0);
    ASSERT_EQ(sim(m, {"set", "voltage", std::to_string(m.setVoltage), "--gpu", last}).exitCode, 0);
    const GpuExpect& e = m.gpus[gpu];
    // The other level of each regulator setting the card has.
    const Level memoryVoltage = e.memoryVoltage ? Level(3 - *e.memoryVoltage) : kNone;
    const Level pwm = e.pwm ? Level(1 - *e.pwm) : kNone;
    if (memoryVoltage) {
        ASSERT_EQ(sim(m, {"set", "memory-voltage", std::to_string(*memoryVoltage), "--gpu", last}).exitCode, 0);
    }
    if (pwm) {
        ASSERT_EQ(sim(m, {"set", "pwm", std::to_string(*pwm), "--gpu", last}).exitCode, 0);
    }

    json g = statusJson(m)["gpus"][gpu];
    EXPECT_EQ(g["clocks"]["gpu"]["mhz"][1], 420);
    EXPECT_EQ(g["clocks"]["gpu"]["default_mhz"][1], m.gpus[gpu].gpuMHz[1]);
    EXPECT_EQ(g["clocks"]["memory"]["mhz"][2], 600);
    EXPECT_EQ(g["fan"]["percent"], 80);
    EXPECT_EQ(g["voltage"]["current"], m.shownVoltage);
    expectLevel(g["memory_voltage"], "level", memoryVoltage, "memory voltage");
    expectLevel(g["pwm"], "level", pwm, "PWM");
    if (m.gpus.size() > 1) {
        EXPECT_EQ(statusJson(m)["gpus"][0]["clocks"]["gpu"]["mhz"], json(m.gpus[0].gpuMHz));
    }

    const ToolResult r = sim(m, {"reset", "all", "--gpu", last});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    g = statusJson(m)["gpus"][gpu];
    EXPECT_EQ(g["clocks"]["gpu"]["mhz"], json(m.gpus[gpu].gpuMHz));
    EXPECT_EQ(g["clocks"]["memory"]["mhz"], json(m.gpus[gpu].memoryMHz));
    EXPECT_EQ(g["fan"]["percent"], m.gpus[gpu].fan);
    EXPECT_EQ(g["voltage"]["current"], m.defaultVoltage);
    expectLevel(g["memory_voltage"], "level", e.memoryVoltage, "memory voltage");
    expectLevel(g["pwm"], "level", e.pwm, "PWM");

    // --reset-simulation starts the machine afresh.
    ASSERT_EQ(sim(m, {"set", "gpu-clock", "0", "200", "--gpu", last}).exitCode, 0);
    const ToolResult fresh = sim(m, {"--reset-simulation", "status", "--json"});
    ASSERT_EQ(fresh.exitCode, 0) << fresh.err;
    EXPECT_EQ(json::parse(fresh.out)["gpus"][gpu]["clocks"]["gpu"]["mhz"], json(m.gpus[gpu].gpuMHz));
}

INSTANTIATE_TEST_SUITE_P(Machines, ZxctlMachine, ::testing::ValuesIn(kMachines),
                         [](const auto& param) {
                             std::string n = param.param.name;
                             for (char& c : n) {
                                 c = c == '-' ? '_' : c;
                             }
                             return n;
                         });

TEST(Zxctl, LockHeldByOneRunRefusesSetInAnother) {
    const Machine& m = kMachines[0];
    ToolRun hold;
    hold.args = {ZXCTL_PROGRAM, "--simulate", m.name, "lock", "hold"};
    hold.env = {{"XDG_STATE_HOME", testRoot() + "/state"}};
    const pid_t holder = startTool(hold);
    ASSERT_TRUE(waitForOutput(holder, "Holding the card lock"));
    // The machine's own lock file, not the one in the test's stand-in for
    // /dev/shm (ZXDISPLAY_LOCK_DIR of the test process).
    EXPECT_TRUE(fileExists(testRoot() + "/state/zxdisplaylib/sim/" + m.name + ".lock/ZXDisplayLibMutex"));
    EXPECT_FALSE(fileExists(lockDir() + "/ZXDisplayLibMutex"));

    ToolResult r = sim(m, {"set", "gpu-clock", "1", "420"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_NE(r.err.find("locked by another process"), std::string::npos) << r.err;
    r = sim(m, {"lock", "status"});
    EXPECT_NE(r.out.find("held by another process"), std::string::npos) << r.out;
    EXPECT_EQ(statusJson(m)["gpus"][0]["clocks"]["gpu"]["mhz"][1], m.gpus[0].gpuMHz[1]);

    ::kill(holder, SIGINT);
    r = finishTool(holder);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(sim(m, {"set", "gpu-clock", "1", "420"}).exitCode, 0);
}

TEST(Zxctl, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", "info"},
        {"frobnicate"},
        {},
        {"status", "--gpu", "x"},
        {"set", "gpu-clock", "4", "500"},
        {"set", "gpu-clock", "0", "-1"},
        {"set", "fan", "101"},
        {"set", "fan", "fast"},
        {"reset", "everything"},
        {"watch", "--interval", "0"},
        {"--reset-simulation", "info"},
        {"--simulate", "no-such-machine", "info"},
        // Checked against the machine: a GPU it lacks, a clock outside the
        // card's range.
        {"--simulate", "nvidia-kind1", "status", "--gpu", "1"},
        {"--simulate", "nvidia-kind1", "set", "gpu-clock", "1", "5000"},
    };
    for (const auto& args : cases) {
        std::string text;
        for (const auto& a : args) {
            text += a + " ";
        }
        const ToolResult r = zxctl(args);
        EXPECT_EQ(r.exitCode, 2) << text << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("zxctl: ", 0), 0u) << text << "\n" << r.err;
    }
}

}  // namespace
}  // namespace zxtest
