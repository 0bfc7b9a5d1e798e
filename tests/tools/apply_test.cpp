// zxctl apply and zxctl daemon end to end on the simulated machines.
#include <gtest/gtest.h>
#include <signal.h>

#include <fstream>
#include <set>
#include <sstream>
#include <regex>

#include "fan_curve.h"
#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

std::string writeProfile(const std::string& name, const std::string& text) {
    const std::string path = testRoot() + "/" + name;
    std::ofstream(path) << text;
    return path;
}

json gpus(const std::string& machine) { return zxctlJson(machine, {"status"})["gpus"]; }

// Waits (about 20 s at most) until the tool's standard error holds text, or
// the text and after it then.
bool waitForLog(pid_t pid, const std::string& text, const std::string& then = "") {
    for (int i = 0; i < 2000; ++i) {
        const std::string log = readIfThere(toolOutputPath(pid, "err"));
        if (const auto at = log.find(text); at != std::string::npos && log.find(then, at) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

pid_t startDaemon(const std::string& machine, const std::string& profile, const std::string& ready = "applied") {
    const pid_t pid = startTool({ZXCTL_PROGRAM, "--simulate", machine, "daemon", profile, "--poll-ms", "50"});
    EXPECT_TRUE(waitForLog(pid, ready)) << readIfThere(toolOutputPath(pid, "err"));
    return pid;
}

// Per machine: settings beyond the GPU clocks, voltage and fan that it offers.
const std::pair<const char*, const char*> kExtras[] = {
    {"nvidia-kind1", "memory_voltage = 1\n"},
    {"nvidia-dual-kind2", "shader_clock = [500]\n"},
    {"ati-radeon", "memory_voltage = 1\npwm = 1\ndac = 0\n"},
};

class ApplyMachine : public ::testing::TestWithParam<Machine> {};

TEST_P(ApplyMachine, ReadsBackExactlyDryRunAndBadValuesChangeNothing) {
    const Machine& m = GetParam();
    const json before = gpus(m.name);
    std::vector<unsigned> clocks = m.gpus[0].gpuMHz;
    clocks[1] += 20;
    std::string extras;
    for (const auto& [name, text] : kExtras) {
        extras += name == std::string(m.name) ? text : "";
    }
    const std::string good = "[[card]]\ncard_id = \"" + std::string(m.cardId) + "\"\ngpu_clock = " +
                             json(clocks).dump() + "\nvoltage = 1150\nfan = 80\n" + extras;
    const std::string bad = good + "[[card]]\ngpu = 0\nmemory_clock = [5000]\n";
    for (const auto& [text, dry] : {std::pair{good, true}, std::pair{bad, false}}) {
        const ToolResult r = zxctl(m.name, {"apply", writeProfile("p.toml", text), dry ? "--dry-run" : "--json"});
        EXPECT_EQ(r.exitCode, dry ? 0 : 2) << r.err;
        EXPECT_EQ(gpus(m.name), before) << text;
    }
    const ToolResult bad2 = zxctl(m.name, {"apply", writeProfile("p.toml", bad)});
    EXPECT_NE(bad2.err.find(".toml:" + std::to_string(std::count(good.begin(), good.end(), '\n') + 3) +
                            ": card[1].memory_clock[0]: set memory-clock: 5000 MHz is not"),
              std::string::npos) << bad2.err;

    const json applied = zxctlJson(m.name, {"apply", writeProfile("p.toml", good)});
    EXPECT_EQ(applied["exit"], 0);
    EXPECT_EQ(applied["steps"].size(),
              m.gpus.size() * (clocks.size() + 2 + std::count(extras.begin(), extras.end(), '\n'))) << applied;
    for (const json& step : applied["steps"]) {
        EXPECT_TRUE(step["reported"].is_null() || step["reported"] == step["requested"]) << step.dump();
    }
    const json after = gpus(m.name);
    for (std::size_t g = 0; g < m.gpus.size(); ++g) {
        EXPECT_EQ(after[g]["clocks"]["gpu"]["mhz"], json(clocks));
        EXPECT_EQ(after[g]["fan"]["percent"], 80);
        EXPECT_EQ(after[g]["voltage"]["current"], 1150);
    }
}

INSTANTIATE_TEST_SUITE_P(Machines, ApplyMachine, ::testing::ValuesIn(kMachines), testName);

TEST(Apply, FailureAtTheThirdWriteOrALaterChangeRestoresTheEarlierOnes) {
    const json before = gpus("nvidia-kind1");
    // A kind-1 card's PWM level is also bit 0 of its voltage code.
    ToolResult r = zxctl("nvidia-kind1", {"apply", writeProfile("p.toml", "[[card]]\nvoltage = 1150\npwm = 1\n")});
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_NE(r.err.find("card[0].voltage (GPU 0): set to 1150 mV, the card reports 1125 mV"), std::string::npos)
        << r.err;
    EXPECT_EQ(gpus("nvidia-kind1"), before);
    const std::string faults = writeProfile("faults", "fault op=SetPerfClocks status=-1 after=2 times=1\n");
    ::setenv("ZXSIM_NVAPI_ADDITIONS", faults.c_str(), 1);
    r = zxctl("nvidia-kind1", {"apply", writeProfile("p.toml", "[[card]]\ngpu_clock = [310, 520, 700]\n"), "--json"});
    ::unsetenv("ZXSIM_NVAPI_ADDITIONS");
    EXPECT_EQ(r.exitCode, 1) << r.err;
    const json out = json::parse(r.out, nullptr, false);
    EXPECT_EQ(out["steps"].size(), 3u) << r.out;
    EXPECT_EQ(out["restored"].size(), 3u) << r.out;
    EXPECT_EQ(gpus("nvidia-kind1"), before);
}

TEST(Daemon, HoldsTheLockKeepsItsProfileOnABadReloadAndRestoresOnStop) {
    const char* m = "nvidia-kind1";
    const json before = gpus(m);
    const std::string profile = writeProfile("p.toml", "[[card]]\ngpu_clock = [300, 520, 700]\nfan = 80\n");
    const pid_t daemon = startDaemon(m, profile);
    EXPECT_EQ(zxctl(m, {"daemon", profile}).exitCode, 5);  // a second daemon: the lock is held
    EXPECT_EQ(zxctlJson(m, {"lock", "status"})["lock"], "held by another process");

    writeProfile("p.toml", "[[card]]\ngpu_clock = [300, 520, 9000]\n");
    ::kill(daemon, SIGHUP);
    EXPECT_TRUE(waitForLog(daemon, "keeping the profile in force"));
    json now = gpus(m);
    EXPECT_EQ(now[0]["clocks"]["gpu"]["mhz"], json({300, 520, 700}));
    EXPECT_EQ(now[0]["fan"]["percent"], 80);

    ::kill(daemon, SIGTERM);
    EXPECT_EQ(finishTool(daemon).exitCode, 0);
    EXPECT_EQ(gpus(m), before);
    EXPECT_EQ(zxctlJson(m, {"lock", "status"})["lock"], "unlocked");

    // Killed: the unit's ExecStopPost command puts the defaults back.
    writeProfile("p.toml", "[[card]]\ngpu_clock = [300, 520, 700]\nfan = 80\n");
    const pid_t killed = startDaemon(m, profile);
    ::kill(killed, SIGKILL);
    finishTool(killed);
    EXPECT_NE(gpus(m), before);
    EXPECT_EQ(zxctl(m, {"reset", "all", "--id", "all"}).exitCode, 0);
    EXPECT_EQ(gpus(m), before);
}

// The ramp machine's temperature cycles 40-85-40 °C over 5 s, then fails to
// read for 1 s: every fan change is the curve's value at the temperature
// read, and the failed reads end in the fail-safe. A watch run beside it
// sees the fan move (the simulator reads the state the daemon saves).
TEST(Daemon, FanFollowsTheCurveOnTheRampMachineAndFailsSafe) {
    const char* m = "nvidia-fan-ramp";
    const pid_t daemon = startDaemon(
        m, writeProfile("p.toml", "[[card]]\n[card.fan_curve]\npoints = [[45, 30], [80, 100]]\n"
                                  "hysteresis = 3\nmin_interval_ms = 0\nfail_reads = 3\n"),
        "(fail-safe)");
    const pid_t watch = startTool({ZXCTL_PROGRAM, "--simulate", m, "watch", "-l", "100", "--count", "20", "--json"});
    // Up to the top of the curve, then down to its bottom, wherever in the cycle it started.
    EXPECT_TRUE(waitForLog(daemon, "fan set to 100 % (8", "fan set to 30 % ("));
    const std::string watched = finishTool(watch).out;  // 2 s from the fail-safe on
    ::kill(daemon, SIGTERM);
    const ToolResult r = finishTool(daemon);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::regex set(R"(fan set to (\d+) % \((\d+) °C\))");
    unsigned changes = 0;
    for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), set); it != std::sregex_iterator(); ++it) {
        const unsigned celsius = std::stoul((*it)[2]);
        EXPECT_EQ(std::stoul((*it)[1]), zxctl::curvePercent({{45, 30}, {80, 100}}, celsius)) << (*it)[0];
        ++changes;
    }
    EXPECT_GT(changes, 5u) << r.err;
    EXPECT_EQ(gpus(m)[0]["fan"]["percent"], 45);  // the scenario's level, back with the driver
    std::set<int> seen;
    std::istringstream lines(watched);
    for (std::string line; std::getline(lines, line);) {
        seen.insert(json::parse(line, nullptr, false).value("fan_percent", -1));
    }
    EXPECT_GE(seen.size(), 3u) << watched;
}

}  // namespace
}  // namespace zxtest
