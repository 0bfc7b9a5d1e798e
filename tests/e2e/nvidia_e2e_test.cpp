// The NVIDIA backend end to end: a deployed host application drives the real shared library, which loads the simulated
// NVAPI by name; the simulator's call log shows exactly what reached the driver.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::Lines;

// Three levels of GPU (0), memory (4) and shader (7) clocks, current level 1.
std::string threeLevels() {
    std::string s = "gpu bus=1 levels=3 current=1\n";
    for (unsigned i = 0; i < 3; ++i) {
        auto clock = [&](unsigned domain, unsigned freq, const std::string& range) {
            const std::string f = std::to_string(freq);
            s += "clock sel=" + std::to_string(i) + " domain=" + std::to_string(domain) + " freq=" + f +
                 " default=" + f + " " + range + "\n";
        };
        clock(0, 300000 + 200000 * i, "min=100000 max=1999999");
        clock(4, 500000 + 300000 * i, "min=200000 max=" + std::to_string(1500000 + i * 1000));
        clock(7, 600000 + 400000 * i, "min=200000 max=2500000");
    }
    return s;
}

const char* kFans = "gpu bus=1\ncooler type=1 target=2 level=20\ncooler type=1 target=7 min=30 max=100 level=40\n";

class NvidiaE2E : public ::testing::Test {
protected:
    void SetUp() override { zxtest::addPciDevice("0000:01:00.0"); }

    // Runs the host after ZXInitLib on the scenario and profile.
    zxtest::HostResult run(const std::string& scenario, const Lines& commands, const std::string& profile = "") {
        driver.clearLog();
        host.addCardData("NVVGA.DAT", std::string("[") + zxtest::kNvidiaCard + "]\n" + profile);
        Lines all{"ZXInitLib"};
        all.insert(all.end(), commands.begin(), commands.end());
        return host.run(all, driver.env(scenario));
    }

    zxtest::HostDeployment host;
    zxtest::SimDriver driver;
};

TEST_F(NvidiaE2E, TwoIdenticalCardsStartWithTheLowerBusAsGpuZero) {
    zxtest::addPciDevice("0000:02:00.0");
    const auto r = run("gpu bus=3\nthermal temp=70\ngpu bus=1\nthermal temp=40\n",
                       {"ZXGetGpuCount ZXGetTemperature 0 ZXGetTemperature 1 ZXGetVGAInfoDescription 0"},
                       "VGAInfoString0=Twin card\n");
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_EQ(r.of("ZXGetGpuCount"), "0 2");
    EXPECT_EQ(r.allOf("ZXGetTemperature"), (Lines{"0 40", "0 70"}));
    // The card data file beside the host was decoded.
    EXPECT_EQ(r.of("ZXGetVGAInfoDescription").substr(0, 15), "0 1 [Twin card]");
    // Equal buses keep the driver's order.
    EXPECT_EQ(
        run("gpu bus=2\nthermal temp=70\ngpu bus=2\nthermal temp=40\n", {"ZXGetTemperature 0"}).of("ZXGetTemperature"),
        "0 70");
}

TEST_F(NvidiaE2E, AFailingInitialiseEnumerationOrClocksQueryFailsStartUp) {
    for (const char* scenario : {"init status=-1\ngpu bus=1\n", "fault op=EnumPhysicalGPUs status=-1\ngpu bus=1\n", "",
                                 "fault op=GetPerfClocks status=-1\ngpu bus=1\n"}) {
        // ... and leaves no driver library loaded.
        EXPECT_EQ(run(scenario, {"ZXGetGpuCount loaded:libnvidia-api.so.1"}).lines,
                  (Lines{"ZXInitLib 1", "ZXGetGpuCount 3 0", "loaded libnvidia-api.so.1 0"}))
            << scenario;
    }
}

TEST_F(NvidiaE2E, SettingAClockAppliesItsEntryAndReappliesTheLowerClocksOfTheLevel) {
    const auto r =
        run(threeLevels() + "clock sel=0 domain=8 freq=400000\n",
            {"ZXSetPerformanceLevelGPUClock 0 1 700 ZXSetPerformanceLevelMemoryClock 0 2 1000",
                            "ZXSetPerformanceLevelShaderClock 0 0 900 ZXGetPerformanceLevelGPUClocks 0"});
    EXPECT_EQ(r.lines,
              (Lines{"ZXInitLib 0", "ZXSetPerformanceLevelGPUClock 0", "ZXSetPerformanceLevelMemoryClock 0",
                     "ZXSetPerformanceLevelShaderClock 0", "ZXGetPerformanceLevelGPUClocks 0 3 300 700 700 0"}));
    // The memory clock re-applies the GPU clock, the shader clock both, each at the frequency the driver reported; a
    // clock of another domain is left alone.
    EXPECT_EQ(driver.logOf("SetPerfClocks"),
              (Lines{"SetPerfClocks gpu=0 sel=1 flagged=[0:700000] -> 0",
                     "SetPerfClocks gpu=0 sel=2 flagged=[0:700000,4:1000000] -> 0",
                     "SetPerfClocks gpu=0 sel=0 flagged=[0:300000,4:500000,7:900000] -> 0"}));
}

TEST_F(NvidiaE2E, RestoringDefaultsStopsAtTheFirstFailingLevel) {
    // Level 1 was changed earlier; restoring fails on level 1's set.
    const auto r = run(threeLevels() + "fault op=SetPerfClocks status=-1 after=1\n", {"ZXSetGPUClockDefault 0"});
    EXPECT_EQ(r.of("ZXSetGPUClockDefault"), "1");
    EXPECT_EQ(driver.logOf("SetPerfClocks"), (Lines{"SetPerfClocks gpu=0 sel=0 flagged=[0:300000] -> 0",
                                                    "SetPerfClocks gpu=0 sel=1 flagged=[0:500000] -> -1"}));
}

TEST_F(NvidiaE2E, TheGpuFanIsTheFirstFanRowCoolingTheGpu) {
    const auto r = run(kFans, {"ZXGetFanSpeedInfo 0 5 0 ZXGetFanSpeed 0 5 0 ZXSetFanSpeed 0 5 60 0",
                               "ZXGetFanSpeed 0 0 0 ZXSetFanSpeedDefault 0 0 0 ZXGetFanSpeed 0 0 0"});
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXGetFanSpeedInfo 0 100 30 1", "ZXGetFanSpeed 0 40", "ZXSetFanSpeed 0",
                              "ZXGetFanSpeed 0 60", "ZXSetFanSpeedDefault 0", "ZXGetFanSpeed 0 40"}));
    EXPECT_EQ(driver.logOf("SetCoolerLevels"), (Lines{"SetCoolerLevels gpu=0 index=1 rows=[0/0,60/1,0/0] -> 0"}));
    EXPECT_EQ(driver.logOf("RestoreCoolerSettings"), (Lines{"RestoreCoolerSettings gpu=0 indices=[1] -> 0"}));
}

// Answers of the exports on one scenario and profile; calls counts the driver calls after start-up (-1: not counted).
TEST_F(NvidiaE2E, ExportsAnswerWhatTheDriverAndTheProfileSay) {
    const std::string gpu = "gpu bus=1\n", levels = threeLevels();
    struct Case {
        const char* what;
        std::string scenario, profile, commands;
        std::string lines;  // after ZXInitLib's, joined by ", "
        int calls;
    };
    const Case cases[] = {
        {"control mode 0x1A", gpu, "", "ZXGetControlMode", "ZXGetControlMode 0 26", 0},
        {"control mode 0x103F, never the DAC bit", gpu,
         "GPUVoltageStep=1\nMemoryVoltageStep=1\nPWMClockStep=1\nCanSet2DAs3DClock=1\nDACSupported=1\n",
         "ZXGetControlMode", "ZXGetControlMode 0 4159", 0},
        {"current level; a GPU beyond the count reaches no driver", levels, "",
         "ZXGetCurrentPerformanceLevel 0 ZXGetCurrentPerformanceLevel 1",
         "ZXGetCurrentPerformanceLevel 0 1, ZXGetCurrentPerformanceLevel 1 0", 1},
        {"level clocks per level in whole MHz, step 1", levels + "clock sel=4 domain=0 freq=1\n", "",
         "ZXGetPerformanceLevelGPUClocks 0 ZXGetPerformanceDefaultMemoryClocks 0 ZXGetGPUClockInfoEx 0 2 "
         "ZXGetMemoryClockInfoEx 0 2",
         "ZXGetPerformanceLevelGPUClocks 0 3 300 500 700 0, ZXGetPerformanceDefaultMemoryClocks 0 3 500 800 1100 0, "
         "ZXGetGPUClockInfoEx 0 1999 100 1, ZXGetMemoryClockInfoEx 0 1502 200 1",
         -1},
        {"clock info at the current level", levels, "", "ZXGetMemoryClockInfo 0", "ZXGetMemoryClockInfo 0 1501 200 1",
         2},
        {"a current level past those the library keeps has no clock info", "gpu bus=1 levels=3 current=4\n", "",
         "ZXGetMemoryClockInfo 0", "ZXGetMemoryClockInfo 2 0 0 0", -1},
        {"no shader entry: every shader operation unsupported",
         "gpu bus=1 levels=2\nclock sel=0 domain=0 freq=300000\nclock sel=1 domain=0 freq=400000\n", "",
         "ZXGetPerformanceLevelShaderClocks 0 ZXGetShaderClockInfo 0 ZXSetPerformanceLevelShaderClock 0 0 500 "
         "ZXSetShaderClockDefault 0 ZXSetPerformanceLevelMemoryClock 0 0 500",
         "ZXGetPerformanceLevelShaderClocks 2 2 0 0 0 0, ZXGetShaderClockInfo 2 0 0 0, "
         "ZXSetPerformanceLevelShaderClock 2, ZXSetShaderClockDefault 2, ZXSetPerformanceLevelMemoryClock 2",
         -1},
        {"no levels: no clocks, no driver call", "gpu bus=1 levels=0\n", "",
         "ZXGetPerformanceLevelGPUClocks 0 ZXGetPerformanceDefaultGPUClocks 0 ZXSetGPUClockDefault 0",
         "ZXGetPerformanceLevelGPUClocks 0 0 0 0 0 0, ZXGetPerformanceDefaultGPUClocks 0 0 0 0 0 0, "
         "ZXSetGPUClockDefault 0",
         0},
        {"restoring defaults brings every level back", levels, "",
         "ZXSetPerformanceLevelMemoryClock 0 0 900 ZXSetPerformanceLevelMemoryClock 0 2 1200 ZXSetMemoryClockDefault 0 "
         "ZXGetPerformanceLevelMemoryClocks 0",
         "ZXSetPerformanceLevelMemoryClock 0, ZXSetPerformanceLevelMemoryClock 0, ZXSetMemoryClockDefault 0, "
         "ZXGetPerformanceLevelMemoryClocks 0 3 500 800 1100 0",
         -1},
        {"no GPU fan: every fan operation fails", "gpu bus=1\ncooler type=2 target=1\n", "",
         "ZXGetFanSpeedInfo 0 0 0 ZXGetFanSpeed 0 0 0 ZXSetFanSpeed 0 0 50 0 ZXSetFanSpeedDefault 0 0 0",
         "ZXGetFanSpeedInfo 1 0 0 0, ZXGetFanSpeed 1 0, ZXSetFanSpeed 1, ZXSetFanSpeedDefault 1", -1},
        {"temperature; no usage, no DAC", "gpu bus=1\nthermal temp=63\n", "",
         "ZXGetTemperature 0 ZXGetUsage 0 ZXGetDACLevel 0 ZXSetDACLevel 0 1",
         "ZXGetTemperature 0 63, ZXGetUsage 1 0, ZXGetDACLevel 2 0, ZXSetDACLevel 2", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(run(c.scenario, {c.commands}, c.profile).joined(), "ZXInitLib 0, " + c.lines);
        if (c.calls >= 0) {
            EXPECT_EQ(driver.logAfter("GetPerfClocks gpu=0 sel=0").size(), static_cast<std::size_t>(c.calls));
        }
    }
}

}  // namespace
