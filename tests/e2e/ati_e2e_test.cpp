// The ATI backend end to end: the deployed host drives the real shared
// library, which loads the simulated ATI display library by name on a machine
// with one ATI card (PCI 01:00.0, DRM card 0 on the desktop); the simulator's
// call log shows what reached the display library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/atisim.h"
#include "support/fake_sysfs.h"
#include "support/test_env.h"

namespace {

using Lines = std::vector<std::string>;
using zxtest::atisim::AtiMachine;

// Card voltages 1000 to 1200 in steps of 50; three levels, level 1 current.
const std::string kCard =
    "gpu bus=1\n"
    "od vmin=1000 vmax=1200 vstep=50 emin=10000 emax=100000 estep=500 mmin=10000 mmax=150000 mstep=500\n"
    "level engine=30000 memory=50000 voltage=1000 dvoltage=1050\n"
    "level engine=50000 memory=80000 voltage=1100 dvoltage=1100\n"
    "level engine=70000 memory=110000 voltage=1200 dvoltage=1150\n"
    "activity percent=40 current=1\n"
    "thermal temp=65999\n"
    "fan min=20 max=100 speed=40\n";

// The profile's own voltage scale: 900 to 1100 in steps of 50 (top index 4).
const std::string kProfileScale = "GPUVoltageMin=900\nGPUVoltageMax=1100\nGPUVoltageStep=50\n";
const std::string kRegulator = "MemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\nDACSupported=1\n";

std::string rows(int v0, int v1, int v2) {
    return "SetODPerformanceLevels adapter=0 gpu=0 rows=[30000/50000/" + std::to_string(v0) + ",50000/80000/" +
           std::to_string(v1) + ",70000/110000/" + std::to_string(v2) + "] -> 0";
}

// --- Binding -------------------------------------------------------------------

TEST(AtiBinding, OnlyTheFallbackLibraryBinds) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetGpuCount"}, "", {{"LD_LIBRARY_PATH", zxtest::atisim::fallbackOnlyFolder()}});
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_EQ(r.of("ZXGetGpuCount"), "0 1");
}

// Displays 0 to 2 on the desktop: 0 answers id 0, 1 fails, 2 is an adapter,
// and its index goes with every later call. A display off the desktop is
// never asked.
TEST(AtiBinding, TheWalkProbesAttachedDevicesUntilOneIsAccepted) {
    {
        AtiMachine m;
        zxtest::addDrmCard(1, true);
        zxtest::addDrmCard(2, true);
        const auto r = m.run(kCard + "display index=0 id=0\ndisplay index=1 status=-1\n", {"ZXGetUsage", "0"});
        EXPECT_EQ(r.of("ZXInitLib"), "0");
        EXPECT_EQ(m.logOf("GetAdapterID"), (Lines{"GetAdapterID display=0 -> 0 id=0", "GetAdapterID display=1 -> -1",
                                                  "GetAdapterID display=2 -> 0 id=1"}));
        EXPECT_EQ(r.of("ZXGetUsage"), "0 40");
        EXPECT_EQ(m.logOf("GetPMCurrentActivity").back(),
                  "GetPMCurrentActivity adapter=2 gpu=0 -> 0 voltage=1100 activity=40 level=1");
    }
    AtiMachine m;
    zxtest::writeFile(zxtest::sysfsRoot() + "/class/drm/card0-DP-1/status", "disconnected\n");
    zxtest::addDrmCard(1, true);
    EXPECT_EQ(m.run(kCard, {}).of("ZXInitLib"), "0");
    EXPECT_EQ(m.logOf("GetAdapterID"), (Lines{"GetAdapterID display=1 -> 0 id=1"}));
}

TEST(AtiBinding, GpusBeyondTheCountReachNothing) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetTemperature", "1", "ZXGetCurrentPerformanceLevel", "2", "ZXGetTemperature",
                                 "0"});
    EXPECT_EQ(r.allOf("ZXGetTemperature"), (Lines{"1 0", "0 65"}));
    EXPECT_EQ(r.of("ZXGetCurrentPerformanceLevel"), "1 0");
    EXPECT_EQ(m.logOf("GetTemperature"), (Lines{"GetTemperature adapter=0 gpu=0 controller=0 -> 0 temp=65999"}));
}

TEST(AtiBinding, ASecondStartUpWalksAgainAndFailsWhenNothingIsAccepted) {
    AtiMachine m;
    const auto env = m.prepare(kCard);
    const std::string ready = zxtest::testRoot() + "/ready";
    const std::string go = zxtest::testRoot() + "/go";
    const pid_t pid = m.host.start({"ZXInitLib", "touch:" + ready, "wait:" + go, "ZXInitLib", "ZXGetGpuCount"}, env);
    while (!zxtest::fileExists(ready)) {
        usleep(1000);
    }
    zxtest::writeFile(zxtest::sysfsRoot() + "/class/drm/card0-DP-1/status", "disconnected\n");
    zxtest::writeFile(go, "");
    const auto r = m.host.wait(pid);
    EXPECT_EQ(r.allOf("ZXInitLib"), (Lines{"0", "1"}));
    EXPECT_EQ(r.of("ZXGetGpuCount"), "3 0");
    EXPECT_EQ(m.logOf("GetAdapterID").size(), 1u);
}

// --- Voltage ---------------------------------------------------------------------

TEST(AtiVoltage, CurrentVoltageOnTheProfileScale) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetCurrentVoltage", "0", "ZXGetPerformanceLevelVoltages", "0"}, kProfileScale);
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1000 2");  // card 1100: index 2, 2 x 50 + 900
    EXPECT_EQ(r.of("ZXGetPerformanceLevelVoltages"), "0 3 900 1000 1100 0");
    // With no profile minimum the index still counts steps, the levels are the card's.
    const auto zeroMin = m.run(kCard, {"ZXGetCurrentVoltage", "0", "ZXGetPerformanceLevelVoltages", "0"},
                               "GPUVoltageMax=200\nGPUVoltageStep=50\n");
    EXPECT_EQ(zeroMin.of("ZXGetCurrentVoltage"), "0 100 2");
    EXPECT_EQ(zeroMin.of("ZXGetPerformanceLevelVoltages"), "0 3 1000 1100 1200 0");
}

TEST(AtiVoltage, RequestedValuesMapToLevelIndicesOfTheScale) {
    struct Case {
        const char* profile;
        const char* request;
        int cardVoltage;
    };
    const Case cases[] = {
        {"profile", "1050", 1150},  // (1050 - 900) / 50 = 3
        {"profile", "3", 1150},     // below the minimum: an index
        {"profile", "7", 1200},     // an index above the top: the top
        {"profile", "5000", 1200},  // above the maximum: the top
        {"none", "1050", 1050},     // on the card's own scale
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.profile) + " " + c.request);
        AtiMachine m;
        const auto r = m.runAfterStartUp(kCard, {"ZXSetCurrentVoltageLevel", "0", c.request},
                                         std::string(c.profile) == "profile" ? kProfileScale : "");
        EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), "0");
        EXPECT_EQ(m.logOf("SetODPerformanceLevels"), (Lines{rows(c.cardVoltage, c.cardVoltage, c.cardVoltage)}));
    }
}

TEST(AtiVoltage, OneLevelAndTheRangeFromTheProfileWithoutAskingTheCard) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard, {"ZXGetVoltageInfo", "0", "ZXSetPerformanceVoltageLevel", "0", "2", "950",
                                             "ZXSetPerformanceVoltageLevel", "0", "3", "950"},
                                     kProfileScale);
    EXPECT_EQ(r.of("ZXGetVoltageInfo"), "0 1100 900 50");
    EXPECT_EQ(r.allOf("ZXSetPerformanceVoltageLevel"), (Lines{"0", "1"}));  // level 3 is beyond the card's
    EXPECT_EQ(m.commandLog()[0].rfind("GetODParameters", 0), 0u);  // the range asked nothing
    EXPECT_EQ(m.logOf("SetODPerformanceLevels"), (Lines{rows(1000, 1100, 1050)}));
}

// Defaults captured at the first start (900, 1000, 1100 on the profile scale)
// are written back twice: the highest level's everywhere, then each level's.
TEST(AtiVoltage, RestoringDefaultsWritesTwice) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard, {"ZXSetCurrentVoltageLevel", "0", "1050", "ZXSetVoltageDefault", "0",
                                             "ZXGetPerformanceDefaultVoltages", "0"},
                                     kProfileScale);
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "0");
    EXPECT_EQ(r.of("ZXGetPerformanceDefaultVoltages"), "0 3 900 1000 1100 0");
    EXPECT_EQ(m.logOf("SetODPerformanceLevels"),
              (Lines{rows(1150, 1150, 1150), rows(1200, 1200, 1200), rows(1000, 1100, 1200)}));
}

TEST(AtiVoltage, DefaultVoltagesComeFromTheCardWhenTheProfileHasNone) {
    AtiMachine m;
    // The capture at start-up fails, so the profile keeps no default voltage.
    const auto r = m.run(kCard + "fault op=GetODPerformanceLevels status=-1 times=1\n",
                         {"ZXGetPerformanceDefaultVoltages", "0", "ZXGet2DDefaultVoltage", "0"});
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_EQ(r.of("ZXGetPerformanceDefaultVoltages"), "0 3 1050 1100 1150 0");
    EXPECT_EQ(r.of("ZXGet2DDefaultVoltage"), "2 0");
}

// --- Clocks ------------------------------------------------------------------------

TEST(AtiClocks, ALevelClockIsWrittenInTenKilohertzIntoThatLevelOnly) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard, {"ZXSetPerformanceLevelGPUClock", "0", "1", "850",
                                             "ZXGetPerformanceLevelGPUClocks", "0", "ZXSetPerformanceLevelMemoryClock",
                                             "0", "3", "500", "ZXSetGPUClockDefault", "0",
                                             "ZXGetPerformanceDefaultMemoryClocks", "0"});
    EXPECT_EQ(r.of("ZXSetPerformanceLevelGPUClock"), "0");
    EXPECT_EQ(r.of("ZXGetPerformanceLevelGPUClocks"), "0 3 300 850 700 0");
    EXPECT_EQ(r.of("ZXSetPerformanceLevelMemoryClock"), "1");  // no level 3
    EXPECT_EQ(r.of("ZXGetPerformanceDefaultMemoryClocks"), "0 3 500 800 1100 0");
    EXPECT_EQ(m.logOf("SetODPerformanceLevels"),
              (Lines{"SetODPerformanceLevels adapter=0 gpu=0 rows=[30000/50000/1000,85000/80000/1100,"
                     "70000/110000/1200] -> 0",
                     rows(1000, 1100, 1200)}));
}

TEST(AtiClocks, RangesPerLevelEndAtTheLevelCount) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetGPUClockInfoEx", "0", "2", "ZXGetMemoryClockInfoEx", "0", "3",
                                 "ZXGetPerformanceLevelShaderClocks", "0", "ZXGetShaderClockInfoEx", "0", "1",
                                 "ZXSetShaderClockDefault", "0"});
    EXPECT_EQ(r.of("ZXGetGPUClockInfoEx"), "0 1000 100 5");
    EXPECT_EQ(r.of("ZXGetMemoryClockInfoEx"), "1 0 0 0");
    EXPECT_EQ(r.of("ZXGetPerformanceLevelShaderClocks"), "2 0 0 0 0 0");
    EXPECT_EQ(r.of("ZXGetShaderClockInfoEx"), "2 0 0 0");
    EXPECT_EQ(r.of("ZXSetShaderClockDefault"), "2");
}

TEST(AtiClocks, LevelCountsTheLibraryCannotHoldAreRefusedAndFourAreReportedAtMost) {
    AtiMachine m;
    EXPECT_EQ(m.run(kCard + "od count=9\n", {}).of("ZXInitLib"), "1");
    EXPECT_EQ(m.run(kCard + "od count=-1\n", {}).of("ZXInitLib"), "1");
    std::string five = kCard;
    five += "level engine=80000 memory=120000 voltage=1200\nlevel engine=90000 memory=130000 voltage=1200\n";
    EXPECT_EQ(m.run(five, {"ZXGetPerformanceLevelGPUClocks", "0"}).of("ZXGetPerformanceLevelGPUClocks"),
              "0 4 300 500 700 800");
}

// --- Regulator pins ------------------------------------------------------------------

TEST(AtiPins, MemoryVoltageLevelTwoIsTwoPinWritesInOrder) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard + "pin reg=0x10 value=0x10\n",
                                     {"ZXSetCurrentMemoryVoltageLevel", "0", "2", "ZXGetCurrentMemoryVoltageLevel", "0"},
                                     kRegulator);
    EXPECT_EQ(r.of("ZXSetCurrentMemoryVoltageLevel"), "0");
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "0 2");
    const std::string ex = "WriteAndReadI2CEx adapter=0 gpu=0 ";
    auto pinWrite = [&](const char* before, const char* output) {
        return Lines{ex + "addr=0x3F reg=0x10 speed=75 -> 0 data=" + before,
                     ex + "addr=0x3E reg=0x15 data=0xFF speed=75 -> 0",
                     ex + "addr=0x3E reg=0x14 data=0x00 speed=75 -> 0",
                     ex + "addr=0x3E reg=0x12 data=0x00 speed=75 -> 0",
                     ex + "addr=0x3E reg=0x13 data=0x00 speed=75 -> 0",
                     ex + "addr=0x3E reg=0x11 data=" + output + " speed=75 -> 0"};
    };
    Lines expected = pinWrite("0x10", "0x00");
    const Lines second = pinWrite("0x00", "0x20");
    expected.insert(expected.end(), second.begin(), second.end());
    const Lines log = m.commandLog();
    ASSERT_GE(log.size(), expected.size());
    EXPECT_EQ(Lines(log.begin(), log.begin() + static_cast<std::ptrdiff_t>(expected.size())), expected);
}

TEST(AtiPins, LevelsReadFromPinsAndDacAndPwmWrites) {
    struct Case {
        const char* pins;  // register 0x10
        const char* memoryLevel;
    };
    for (const Case& c : {Case{"0x10", "0 1"}, Case{"0x20", "0 2"}, Case{"0x30", "0 3"}, Case{"0x00", "0 0"}}) {
        AtiMachine m;
        const auto r = m.run(kCard + "pin reg=0x10 value=" + c.pins + "\n", {"ZXGetCurrentMemoryVoltageLevel", "0"},
                             kRegulator);
        EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), c.memoryLevel) << c.pins;
    }
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard, {"ZXSetDACLevel", "0", "5", "ZXGetDACLevel", "0", "ZXSetDACLevel", "0",
                                             "0", "ZXSetCurrentPWMClockLevel", "0", "2", "ZXSetCurrentPWMClockLevel",
                                             "0", "1", "ZXGetCurrentPWMClockLevel", "0"},
                                     kRegulator);
    EXPECT_EQ(r.allOf("ZXSetDACLevel"), (Lines{"0", "0"}));
    EXPECT_EQ(r.of("ZXGetDACLevel"), "0 1");
    EXPECT_EQ(r.allOf("ZXSetCurrentPWMClockLevel"), (Lines{"1", "0"}));  // level 2 is no PWM level
    EXPECT_EQ(r.of("ZXGetCurrentPWMClockLevel"), "0 1");
    Lines outputs;
    for (const std::string& line : m.commandLog()) {
        if (line.find("reg=0x11 ") != std::string::npos) outputs.push_back(line.substr(line.find("data=") + 5, 4));
    }
    EXPECT_EQ(outputs, (Lines{"0x04", "0x0C", "0x08", "0x00", "0x01"}));
}

TEST(AtiPins, WithoutTheProfileFeatureNoPinIsTouched) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard, {"ZXGetDACLevel", "0", "ZXSetDACLevel", "0", "1",
                                             "ZXGetCurrentMemoryVoltageLevel", "0", "ZXGetPWMClockInfo", "0"});
    EXPECT_EQ(r.of("ZXGetDACLevel"), "2 0");
    EXPECT_EQ(r.of("ZXSetDACLevel"), "2");
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "2 0");
    EXPECT_EQ(r.of("ZXGetPWMClockInfo"), "2 0 0 0");
    EXPECT_TRUE(m.commandLog().empty());
}

// Adapter index 1: extended then plain path, at indices 1 and 2, speeds 75
// and 120; a bus that never answers is a failure, not pins at 1.
TEST(AtiPins, AFailingBusIsSweptThenReportedAsAFailure) {
    AtiMachine m;
    zxtest::addDrmCard(1, true);
    const std::string failing = kCard + "display index=0 id=0\nfault op=WriteAndReadI2CEx status=-1\n"
                                        "fault op=WriteAndReadI2C status=-1\n";
    const auto r = m.runAfterStartUp(failing, {"ZXGetCurrentMemoryVoltageLevel", "0", "ZXSetDACLevel", "0", "1",
                                               "ZXGetMemoryVoltageDefault", "0"},
                                     kRegulator);
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "1 0");
    EXPECT_EQ(r.of("ZXSetDACLevel"), "1");
    EXPECT_EQ(r.of("ZXGetMemoryVoltageDefault"), "0 0");  // nothing captured
    Lines attempts;
    for (const std::string& line : m.commandLog()) {
        attempts.push_back(line.substr(0, line.find(" addr=")) + line.substr(line.find(" speed=")));
    }
    EXPECT_EQ(attempts,
              (Lines{"WriteAndReadI2CEx adapter=1 gpu=0 speed=75 -> -1", "WriteAndReadI2CEx adapter=1 gpu=0 speed=120 -> -1",
                     "WriteAndReadI2CEx adapter=2 gpu=0 speed=75 -> -1", "WriteAndReadI2CEx adapter=2 gpu=0 speed=120 -> -1",
                     "WriteAndReadI2C adapter=1 speed=75 -> -1", "WriteAndReadI2C adapter=1 speed=120 -> -1",
                     "WriteAndReadI2C adapter=2 speed=75 -> -1", "WriteAndReadI2C adapter=2 speed=120 -> -1",
                     // the DAC's port read fails the same way, and nothing is written
                     "WriteAndReadI2CEx adapter=1 gpu=0 speed=75 -> -1", "WriteAndReadI2CEx adapter=1 gpu=0 speed=120 -> -1",
                     "WriteAndReadI2CEx adapter=2 gpu=0 speed=75 -> -1", "WriteAndReadI2CEx adapter=2 gpu=0 speed=120 -> -1",
                     "WriteAndReadI2C adapter=1 speed=75 -> -1", "WriteAndReadI2C adapter=1 speed=120 -> -1",
                     "WriteAndReadI2C adapter=2 speed=75 -> -1", "WriteAndReadI2C adapter=2 speed=120 -> -1"}));
}

// Only the extended path reaches a particular GPU: GPU 1 fails until it has
// carried a transfer, even when the plain path carries them.
TEST(AtiPins, TheSecondGpuNeedsTheExtendedPath) {
    struct Case {
        const char* fault;
        const char* gpu1;
    };
    for (const Case& c : {Case{"fault op=WriteAndReadI2CEx status=-1\n", "1 0"},
                          Case{"fault op=WriteAndReadI2CEx status=-1 speed=75\n", "0 1"}}) {
        AtiMachine m;
        zxtest::addPciDevice(zxtest::atiCard("0000:02:00.0"));
        const std::string twoGpus = kCard + "gpu bus=2\nlevel engine=30000 memory=50000 voltage=1000\n"
                                            "pin reg=0x10 value=0x10\n" + c.fault;
        const auto r = m.run(twoGpus, {"ZXGetCurrentMemoryVoltageLevel", "1", "ZXGetGpuCount"}, kRegulator);
        EXPECT_EQ(r.of("ZXGetGpuCount"), "0 2");
        EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), c.gpu1) << c.fault;
    }
}

// --- Thermal and fan ---------------------------------------------------------------------

TEST(AtiThermal, TemperatureIsTruncatedToWholeDegrees) {
    for (const auto& [milli, shown] : {std::pair{"65999", "0 65"}, std::pair{"999", "0 0"}}) {
        AtiMachine m;
        const auto r = m.run("gpu bus=1\nlevel engine=30000 memory=50000 voltage=1000\nthermal temp=" +
                                 std::string(milli) + "\n",
                             {"ZXGetTemperature", "0"});
        EXPECT_EQ(r.of("ZXGetTemperature"), shown);
    }
}

TEST(AtiFan, ReadingAndSettingPassPercentWithTheirFlags) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetFanSpeedInfo", "0", "0", "0", "ZXGetFanSpeed", "0", "0", "0", "ZXSetFanSpeed",
                                 "0", "0", "60", "0", "ZXSetFanSpeed", "0", "0", "10", "0", "ZXSetFanSpeedDefault",
                                 "0", "0", "0"});
    EXPECT_EQ(r.of("ZXGetFanSpeedInfo"), "0 100 20 1");
    EXPECT_EQ(r.of("ZXGetFanSpeed"), "0 40");
    EXPECT_EQ(r.allOf("ZXSetFanSpeed"), (Lines{"0", "1"}));  // 10 is below the fan's range
    EXPECT_EQ(r.of("ZXSetFanSpeedDefault"), "0");
    EXPECT_EQ(m.logOf("GetFanSpeed"), (Lines{"GetFanSpeed adapter=0 gpu=0 fan=0 type=1 flags=1 -> 0 speed=40"}));
    EXPECT_EQ(m.logOf("SetFanSpeed")[0], "SetFanSpeed adapter=0 gpu=0 fan=0 type=1 speed=60 flags=0 -> 0");
}

TEST(AtiFan, WithoutFanEntryPointsTheFanIsNotSupported) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetFanSpeedInfo", "0", "0", "0", "ZXGetFanSpeed", "0", "0", "0", "ZXSetFanSpeed",
                                 "0", "0", "50", "0", "ZXSetFanSpeedDefault", "0", "0", "0", "ZXGetUsage", "0"},
                         "", {{"LD_LIBRARY_PATH", zxtest::atisim::noFanFolder()}});
    EXPECT_EQ(r.of("ZXGetFanSpeedInfo"), "2 0 0 0");
    EXPECT_EQ(r.of("ZXGetFanSpeed"), "2 0");
    EXPECT_EQ(r.of("ZXSetFanSpeed"), "2");
    EXPECT_EQ(r.of("ZXSetFanSpeedDefault"), "2");
    EXPECT_EQ(r.of("ZXGetUsage"), "0 40");
}

}  // namespace
