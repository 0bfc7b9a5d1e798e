// zxctl sends only what the user meant: every bad value is refused before
// anything reaches the card, numbers are decimal, every set is read back, and
// a change the simulated machine cannot keep is an error.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <nlohmann/json.hpp>

#include "tools/run_tool.h"

namespace zxtest {
namespace {

using json = nlohmann::json;

std::string stateFile(const std::string& machine, const std::string& name) {
    return testRoot() + "/state/zxdisplaylib/sim/" + machine + "/" + name;
}

// One setter's command words before its value, and the range the card
// reports for that value (from status --json); nothing when the card does
// not offer it.
struct Setter {
    std::vector<std::string> words;
    json range;
};

std::vector<Setter> offeredSetters(const json& gpu) {
    std::vector<Setter> out;
    for (const auto& [name, key] : {std::pair{"gpu-clock", "gpu"}, {"memory-clock", "memory"}, {"shader-clock", "shader"}}) {
        const json& ranges = gpu["clocks"][key]["ranges"];
        if (ranges.size() > 1 && ranges[1].is_object()) {
            out.push_back({{"set", name, "1"}, ranges[1]});
        }
    }
    out.push_back({{"set", "voltage"}, gpu["voltage"]["range"]});
    for (const auto& [name, key] : {std::pair{"memory-voltage", "memory_voltage"}, {"pwm", "pwm"}}) {
        if (!gpu[key]["level"].is_null()) {
            out.push_back({{"set", name}, gpu[key]["range"]});
        }
    }
    if (!gpu["dac"]["level"].is_null()) {
        out.push_back({{"set", "dac"}, json{{"min", 0}, {"max", 1}, {"step", 1}}});
    }
    out.push_back({{"set", "fan"}, gpu["fan"]["range"]});
    return out;
}

// The bad values for a setter with this range: words that are not decimal
// digits, and numbers the card does not take.
std::vector<std::string> badValues(const json& r) {
    const unsigned min = r["min"], max = r["max"], step = r["step"];
    std::vector<std::string> bad = {"0x10", "1e3", "700.5", "", "abc", "-5", "+5", " 5", std::to_string(max + 1),
                                    "99999999999"};
    if (min > 0) {
        bad.push_back(std::to_string(min - 1));
    }
    if (step > 1) {
        bad.push_back(std::to_string(min + 1));
    }
    return bad;
}

class ZxctlValues : public ::testing::TestWithParam<Machine> {};

TEST_P(ZxctlValues, EveryBadValueIsAUsageErrorOfOneLineAndChangesNothing) {
    const Machine& m = GetParam();
    const json before = zxctlJson(m.name, {"status"});
    // The command's words, and the word its message names.
    std::vector<std::pair<std::vector<std::string>, std::string>> cases;
    for (const Setter& s : offeredSetters(before["gpus"][0])) {
        for (const std::string& v : badValues(s.range)) {
            auto words = s.words;
            words.push_back(v);
            const bool digits = !v.empty() && v.size() < 10 && v.find_first_not_of("0123456789") == std::string::npos;
            cases.push_back({words, digits ? v : "'" + v + "'"});
        }
    }
    // A performance level, GPU or fan the card lacks; --level where the card
    // has one voltage for every level.
    cases.push_back({{"set", "gpu-clock", "3", "500"}, "level 3"});
    cases.push_back({{"set", "gpu-clock", "01", "0x200"}, "0x200"});
    cases.push_back({{"set", "fan", "50", "--fan", "7"}, "fan 7"});
    cases.push_back({{"set", "fan", "50", "--id", "7"}, "GPU 7"});
    cases.push_back({{"set", "fan", "50", "--id", "0,x"}, "'x'"});
    if (before["gpus"][0]["voltage"]["levels"].size() == 1) {
        cases.push_back(
            {{"set", "voltage", before["gpus"][0]["voltage"]["range"]["min"].dump(), "--level", "0"}, "--level"});
    }
    if (std::string(m.name) == "nvidia-kind1") {
        cases.push_back({{"set", "voltage", "999"}, "999 mV"});
        cases.push_back({{"set", "voltage", "5"}, "5 mV"});
    }
    for (const auto& [args, named] : cases) {
        const ToolResult r = zxctl(m.name, args);
        std::string shown;
        for (const auto& a : args) {
            shown += "[" + a + "]";
        }
        EXPECT_EQ(r.exitCode, 2) << shown << "\n" << r.err;
        EXPECT_EQ(r.out, "") << shown;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << shown << "\n" << r.err;
        EXPECT_EQ(r.err.rfind("zxctl: ", 0), 0u) << shown << "\n" << r.err;
        EXPECT_NE(r.err.find(named), std::string::npos) << shown << "\n" << r.err;
    }
    EXPECT_EQ(zxctlJson(m.name, {"status"}), before);
}

TEST_P(ZxctlValues, LeadingZerosAreDecimal) {
    const Machine& m = GetParam();
    const ToolResult r = zxctl(m.name, {"set", "gpu-clock", "01", "0700"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "GPU 0: GPU clock of level 1 set to 700 MHz\n");
    EXPECT_EQ(zxctlJson(m.name, {"status"})["gpus"][0]["clocks"]["gpu"]["mhz"][1], 700);
}

INSTANTIATE_TEST_SUITE_P(Machines, ZxctlValues, ::testing::ValuesIn(kMachines), testName);

// The fan of nvidia-kind1 cannot pass 60 %: the driver takes 80 and holds 60.
TEST(ZxctlReadBack, AValueTheCardDoesNotHoldIsReportedWithItsOwnExitCode) {
    const Machine& m = kMachines[0];
    ASSERT_EQ(zxctl(m.name, {"set", "fan", "45"}).exitCode, 0);  // the state file now exists
    const std::string path = stateFile(m.name, "nvapi.state");
    std::string state = readFile(path);
    const auto cooler = state.find("cooler ");
    ASSERT_NE(cooler, std::string::npos) << state;
    state.insert(state.find('\n', cooler), " ceiling=60");
    writeFile(path, state);

    ToolResult r = zxctl(m.name, {"set", "fan", "80"});
    EXPECT_EQ(r.exitCode, 8) << r.err;
    EXPECT_EQ(r.err, "zxctl: set fan (GPU 0): asked for 80 %, the card reports 60 %\n");
    r = zxctl(m.name, {"set", "fan", "80", "--json"});
    EXPECT_EQ(r.exitCode, 8);
    const json answer = json::parse(r.out, nullptr, false);
    EXPECT_EQ(answer["results"][0]["requested"], 80) << r.out;
    EXPECT_EQ(answer["results"][0]["reported"], 60) << r.out;
    r = zxctl(m.name, {"set", "fan", "55"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "GPU 0: fan set to 55 %\n");
}

TEST(ZxctlSimulation, AChangeThatCannotBeSavedOrAStateThatCannotBeReadIsAnError) {
    const Machine& m = kMachines[0];
    ASSERT_EQ(zxctl(m.name, {"set", "fan", "45"}).exitCode, 0);
    // The simulator's state file (about 1 KB) can no longer be written.
    ToolResult r = runTool({ZXCTL_PROGRAM, "--simulate", m.name, "set", "fan", "70"}, {"", 200});
    EXPECT_EQ(r.exitCode, 7) << r.out << r.err;
    EXPECT_NE(r.err.find("could not save the change"), std::string::npos) << r.err;
    EXPECT_EQ(zxctlJson(m.name, {"status"})["gpus"][0]["fan"]["percent"], 45);

    writeFile(stateFile(m.name, "nvapi.state"), "gpu bus=1 levels=banana\n");
    r = zxctl(m.name, {"status"});
    EXPECT_EQ(r.exitCode, 7) << r.err;
    EXPECT_NE(r.err.find("--reset-simulation"), std::string::npos) << r.err;
    EXPECT_EQ(zxctl(m.name, {"--reset-simulation", "status"}).exitCode, 0);
}

TEST(Zxctl, OutputThatCannotBeWrittenIsAFailure) {
    for (const std::vector<std::string>& args : {std::vector<std::string>{"status"}, {"info", "--json"},
                                                 {"watch", "--count", "2", "-l", "100"}}) {
        std::vector<std::string> all = {ZXCTL_PROGRAM, "--simulate", kMachines[2].name};
        all.insert(all.end(), args.begin(), args.end());
        const ToolResult r = runTool(all, {"/dev/full", 0});
        EXPECT_EQ(r.exitCode, 1) << args[0] << " " << r.err;
        EXPECT_NE(r.err.find("cannot write the output"), std::string::npos) << r.err;
    }
}

TEST(Zxctl, ConventionalOptions) {
    const Machine& m = kMachines[1];  // two GPUs
    // -i takes an index, a list or all, for setters too; keywords in any case.
    ToolResult r = zxctl(m.name, {"SET", "Fan", "60", "-i", "ALL"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out, "GPU 0: fan set to 60 %\nGPU 1: fan set to 60 %\n");
    r = zxctl(m.name, {"set", "fan", "AUTO", "--id", "1"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const json status = zxctlJson(m.name, {"status", "-i", "0,1"});
    EXPECT_EQ(status["schema"], 1);
    EXPECT_EQ(status["gpus"].size(), 2u);

    // status --loop --count, CSV with one header, watch with milliseconds.
    r = zxctl(m.name, {"status", "--format", "csv", "-l", "100", "--count", "2"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.out.rfind("time,gpu,temperature_c,", 0), 0u) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 5) << r.out;
    r = zxctl(m.name, {"watch", "--json", "--count", "1", "-i", "1"});
    const json sample = json::parse(r.out, nullptr, false);
    EXPECT_EQ(sample["gpu"], 1) << r.out;
    EXPECT_EQ(sample["time"].get<std::string>().substr(19, 1), ".") << r.out;

    // reset and lock answer in JSON too.
    r = zxctl(m.name, {"reset", "fan", "--id", "all", "--format", "json"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(json::parse(r.out, nullptr, false)["results"].size(), 2u) << r.out;
    EXPECT_EQ(zxctlJson(m.name, {"lock", "status"})["lock"], "unlocked");
}

// ZXDISPLAY_DATA_DIR comes before the program's folder; zxctl info names the
// file the library read.
TEST(ZxctlDataFile, TheDataFolderVariableComesFirst) {
    const Machine& m = kMachines[0];
    const std::string beside = zxctlJson(m.name, {"info"})["data_file"].get<std::string>();
    const std::string folder = testRoot() + "/data";
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(beside, folder + "/NVVGA.DAT");
    ::setenv("ZXDISPLAY_DATA_DIR", folder.c_str(), 1);
    const json info = zxctlJson(m.name, {"info"});
    ::unsetenv("ZXDISPLAY_DATA_DIR");
    EXPECT_EQ(info["data_file"], folder + "/NVVGA.DAT");
    EXPECT_EQ(info["descriptions"][0], m.description0);
}

// A machine without a supported card: the start-up failure says what was found.
TEST(Zxctl, AStartUpFailureSaysWhatWasFound) {
    const std::string sys = testRoot() + "/empty-sys";
    std::filesystem::create_directories(sys + "/bus/pci/devices");
    ::setenv("ZXDISPLAY_SYSFS_ROOT", sys.c_str(), 1);
    const ToolResult r = runTool({ZXCTL_PROGRAM, "status"});
    ::unsetenv("ZXDISPLAY_SYSFS_ROOT");
    EXPECT_EQ(r.exitCode, 4);
    EXPECT_EQ(r.err, "zxctl: cannot start the library: no supported graphics card was found\n");
}

}  // namespace
}  // namespace zxtest
