// zxctl end to end: the real program on each bundled simulated machine, its
// state under the test's own XDG_STATE_HOME.
#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

// The values of one GPU's status record that the scenario fixes, by JSON
// pointer; a reading the card does not offer is null.
json expected(const GpuExpect& e) {
    const auto value = [](const std::optional<unsigned>& v) { return v ? json(*v) : json(nullptr); };
    return {{"/temperature_c", e.temperature},    {"/current_level", e.currentLevel},
            {"/clocks/gpu/mhz", e.gpuMHz},        {"/clocks/gpu/default_mhz", e.gpuMHz},
            {"/clocks/memory/mhz", e.memoryMHz},  {"/fan/percent", e.fan},
            {"/fan/range/min", e.fanMin},         {"/voltage/current", value(e.voltage)},
            {"/usage_percent", value(e.usage)},   {"/memory_voltage/level", value(e.memoryVoltage)},
            {"/pwm/level", value(e.pwm)}};
}

void expectFields(const json& record, const json& fields, const std::string& what) {
    for (const auto& [pointer, value] : fields.items()) {
        const json::json_pointer at(pointer);
        EXPECT_EQ(record.contains(at) ? record[at] : json("missing"), value) << what << " " << pointer;
    }
}

class ZxctlMachine : public ::testing::TestWithParam<Machine> {};

TEST_P(ZxctlMachine, ShowsTheScenarioKeepsChangesBetweenRunsAndResets) {
    const Machine& m = GetParam();
    expectFields(zxctlJson(m.name, {"info"}),
                 {{"/simulated", m.name}, {"/backend", m.backend}, {"/gpu_count", m.gpus.size()},
                  {"/adapters/0/card_id", m.cardId}, {"/descriptions/0", m.description0}},
                 "info");
    // The card data file the library read: the one beside the simulated machine's program.
    const std::string dataFile = std::string("/app/") + (m.backend == std::string("ATI") ? "ATIVGA.DAT" : "NVVGA.DAT");
    const std::string shown = zxctlJson(m.name, {"info"})["data_file"].get<std::string>();
    EXPECT_TRUE(shown.ends_with(dataFile)) << shown;
    ToolResult r = zxctl(m.name, {"info"});
    EXPECT_NE(r.out.find(m.cardId), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(m.description0), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(std::string("Simulated machine  ") + m.name + ": "), std::string::npos) << r.out;

    json status = zxctlJson(m.name, {"status"});
    for (std::size_t i = 0; i < m.gpus.size(); ++i) {
        expectFields(status["gpus"][i], expected(m.gpus[i]), "GPU " + std::to_string(i));
    }
    r = zxctl(m.name, {"status"});
    const GpuExpect& e = m.gpus.back();
    const std::string usage = e.usage ? std::to_string(*e.usage) + " %" : "n/a (not offered by this driver)";
    const std::string voltage = e.voltage ? std::to_string(*e.voltage) + " mV" : "unknown until set";
    for (const std::string& line : {std::to_string(e.temperature) + " °C", "Usage                 " + usage,
                                    "GPU voltage           " + voltage}) {
        EXPECT_NE(r.out.find(line), std::string::npos) << line << "\n" << r.out;
    }

    // Changes on the last GPU, each in a run of its own, show in a later one.
    const std::string last = std::to_string(m.gpus.size() - 1);
    EXPECT_EQ(zxctl(m.name, {"set", "gpu-clock", "1", "420", "--gpu", last}).exitCode, 0);
    EXPECT_EQ(zxctl(m.name, {"set", "fan", "80", "--gpu", last}).exitCode, 0);
    GpuExpect changed = e;
    changed.gpuMHz[1] = 420;
    changed.fan = 80;
    json fields = expected(changed);
    fields["/clocks/gpu/default_mhz"] = e.gpuMHz;
    status = zxctlJson(m.name, {"status"});
    expectFields(status["gpus"].back(), fields, "after set");
    if (m.gpus.size() > 1) {
        EXPECT_EQ(status["gpus"][0]["clocks"]["gpu"]["mhz"], json(m.gpus[0].gpuMHz));
    }

    ASSERT_EQ(zxctl(m.name, {"reset", "all", "--gpu", last}).exitCode, 0);
    GpuExpect reset = e;
    reset.voltage = 1200;  // every profile's 3D default, also where the store held none
    status = zxctlJson(m.name, {"status"});
    expectFields(status["gpus"].back(), expected(reset), "after reset all");
}

INSTANTIATE_TEST_SUITE_P(Machines, ZxctlMachine, ::testing::ValuesIn(kMachines), testName);

TEST(Zxctl, LockHeldByOneRunRefusesSetInAnother) {
    const Machine& m = kMachines[0];
    const pid_t holder = holdLock(m.name);
    ASSERT_GT(holder, 0);
    ToolResult r = zxctl(m.name, {"set", "gpu-clock", "1", "420"});
    EXPECT_EQ(r.exitCode, 5);
    EXPECT_NE(r.err.find("locked by another process"), std::string::npos) << r.err;
    EXPECT_EQ(zxctlJson(m.name, {"status"})["gpus"][0]["clocks"]["gpu"]["mhz"][1], m.gpus[0].gpuMHz[1]);

    ::kill(holder, SIGINT);
    EXPECT_EQ(finishTool(holder).exitCode, 0);
    EXPECT_EQ(zxctl(m.name, {"set", "gpu-clock", "1", "420"}).exitCode, 0);
}

TEST(Zxctl, BadArgumentsAreUsageErrors) {
    const std::vector<std::vector<std::string>> cases = {
        {"--bogus", "info"}, {"frobnicate"}, {"set", "fan", "fast"},
        {"--simulate", "no-such-machine", "info"},
        // Checked against the machine: a GPU it lacks, a clock outside the card's range.
        {"--simulate", "nvidia-kind1", "status", "--gpu", "1"},
        {"--simulate", "nvidia-kind1", "set", "gpu-clock", "4", "500"},
        {"--simulate", "nvidia-kind1", "set", "gpu-clock", "1", "5000"},
    };
    for (std::vector<std::string> args : cases) {
        args.insert(args.begin(), ZXCTL_PROGRAM);
        const ToolResult r = runTool(args);
        EXPECT_EQ(r.exitCode, 2) << args.size() << " " << args.back() << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("zxctl: ", 0), 0u) << r.err;
    }
}

}  // namespace
}  // namespace zxtest
