// The ATI backend end to end: the deployed host drives the real shared library, which loads the simulated ATI display
// library by name on a machine with one ATI card (PCI 01:00.0, DRM card 0 on the desktop); the simulator's call log
// shows what reached the display library.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "support/atisim.h"
#include "support/fake_sysfs.h"
#include "support/test_env.h"

namespace {

using zxtest::Lines;
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
const std::string kRegulator =
    "MemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\nDACSupported=1\n";
const std::string kDisconnect = "/class/drm/card0-DP-1/status";

std::string rows(int v0, int v1, int v2, int engine1 = 50000) {
    return "SetODPerformanceLevels adapter=0 gpu=0 rows=[30000/50000/" + std::to_string(v0) + "," +
           std::to_string(engine1) + "/80000/" + std::to_string(v1) + ",70000/110000/" + std::to_string(v2) + "] -> 0";
}

// Answers on one scenario and profile, each on a machine of its own.
TEST(AtiExports, AnswerWhatTheCardAndTheProfileSay) {
    const std::string five =
        kCard + "level engine=80000 memory=120000 voltage=1200\nlevel engine=90000 memory=130000 voltage=1200\n";
    const std::string temperature = "gpu bus=1\nlevel engine=30000 memory=50000 voltage=1000\nthermal temp=";
    const std::string pins = kCard + "pin reg=0x10 value=0x";
    const std::string memoryLevel = "ZXGetCurrentMemoryVoltageLevel 0";
    struct Case {
        const char* what;
        std::string scenario, profile, commands;
        std::string lines;           // after ZXInitLib's, joined by ", "
        std::string libraries = "";  // LD_LIBRARY_PATH when not empty
    };
    const Case cases[] = {
        {"only the fallback library binds", kCard, "", "ZXGetGpuCount", "ZXGetGpuCount 0 1",
         zxtest::atisim::fallbackOnlyFolder()},
        {"without fan entry points the fan is not supported", kCard, "",
         "ZXGetFanSpeedInfo 0 0 0 ZXGetFanSpeed 0 0 0 ZXSetFanSpeed 0 0 50 0 ZXGetUsage 0",
         "ZXGetFanSpeedInfo 2 0 0 0, ZXGetFanSpeed 2 0, ZXSetFanSpeed 2, ZXGetUsage 0 40",
         zxtest::atisim::noFanFolder()},
        {"current voltage on the profile scale: card 1100 is index 2, 2 x 50 + 900", kCard, kProfileScale,
         "ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0",
         "ZXGetCurrentVoltage 0 1000 2, ZXGetPerformanceLevelVoltages 0 3 900 1000 1100 0"},
        {"no profile minimum: the index still counts steps, the levels are the card's", kCard,
         "GPUVoltageMax=200\nGPUVoltageStep=50\n", "ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0",
         "ZXGetCurrentVoltage 0 100 2, ZXGetPerformanceLevelVoltages 0 3 1000 1100 1200 0"},
        {"default voltages from the card when the capture at start-up failed",
         kCard + "fault op=GetODPerformanceLevels status=-1 times=1\n", "",
         "ZXGetPerformanceDefaultVoltages 0 ZXGet2DDefaultVoltage 0",
         "ZXGetPerformanceDefaultVoltages 0 3 1050 1100 1150 0, ZXGet2DDefaultVoltage 2 0"},
        {"clock ranges per level end at the level count; no shader clocks", kCard, "",
         "ZXGetGPUClockInfoEx 0 2 ZXGetMemoryClockInfoEx 0 3 ZXGetPerformanceLevelShaderClocks 0 "
         "ZXGetShaderClockInfoEx 0 1 ZXSetShaderClockDefault 0",
         "ZXGetGPUClockInfoEx 0 1000 100 5, ZXGetMemoryClockInfoEx 1 0 0 0, "
         "ZXGetPerformanceLevelShaderClocks 2 0 0 0 0 0, ZXGetShaderClockInfoEx 2 0 0 0, ZXSetShaderClockDefault 2"},
        {"four of five levels are reported; the fourth default voltage is the third's", five, kProfileScale,
         "ZXGetPerformanceLevelGPUClocks 0 ZXGetPerformanceDefaultVoltages 0 ZXSetVoltageDefault 0",
         "ZXGetPerformanceLevelGPUClocks 0 4 300 500 700 800, ZXGetPerformanceDefaultVoltages 0 4 900 1000 1100 1100, ZXSetVoltageDefault 0"},
        {"memory voltage level 3 is the top one, 4 is refused", pins + "10\n", kRegulator,
         "ZXSetCurrentMemoryVoltageLevel 0 3 " + memoryLevel + " ZXSetCurrentMemoryVoltageLevel 0 4 " + memoryLevel,
         "ZXSetCurrentMemoryVoltageLevel 0, " + memoryLevel + " 3, ZXSetCurrentMemoryVoltageLevel 1, " + memoryLevel +
             " 3"},
        {"a usage the card cannot read is a failure", kCard + "fault op=GetPMCurrentActivity status=-1\n", "",
         "ZXGetUsage 0", "ZXGetUsage 1 0"},
        {"pins 24=1, 25=0: memory voltage level 1", pins + "10\n", kRegulator, memoryLevel, memoryLevel + " 1"},
        {"pins 24=0, 25=1: level 2", pins + "20\n", kRegulator, memoryLevel, memoryLevel + " 2"},
        {"temperature truncated to whole degrees", temperature + "65999\n", "", "ZXGetTemperature 0",
         "ZXGetTemperature 0 65"},
        {"descriptions stop at the first gap and are cut; control mode 0x104A", kCard,
         "VGAInfoString0=" + std::string(45, 'x') + "\nVGAInfoString2=Third\nDACSupported=1\nCanSet2DAs3DClock=1\n",
         "ZXGetVGAInfoDescription 0 ZXGetControlMode",
         "ZXGetVGAInfoDescription 0 1 [" + std::string(39, 'x') +
             "] [] [] [] [] [] [] [] [] [], ZXGetControlMode 0 4170"},
        {"a temperature below one degree", temperature + "999\n", "", "ZXGetTemperature 0", "ZXGetTemperature 0 0"},
    };
    for (const Case& c : cases) {
        AtiMachine m;
        zxtest::EnvVars extra;
        if (!c.libraries.empty()) extra.emplace_back("LD_LIBRARY_PATH", c.libraries);
        EXPECT_EQ(m.run(c.scenario, {c.commands}, c.profile, extra).joined(), "ZXInitLib 0, " + c.lines) << c.what;
    }
    AtiMachine nine;
    EXPECT_EQ(nine.run(kCard + "od count=9\n", {"ZXGetPerformanceLevelGPUClocks 0"}).joined(),
              "ZXInitLib 0, ZXGetPerformanceLevelGPUClocks 0 4 300 500 700 0")
        << "nine levels start up and report four";
    std::string two = kCard;
    two.erase(two.find("level engine=70000"), two.find("activity") - two.find("level engine=70000"));
    AtiMachine twoLevels;
    EXPECT_EQ(twoLevels.run(two, {"ZXSetVoltageDefault 0 ZXGetPerformanceDefaultVoltages 0"}, kProfileScale).joined(),
              "ZXInitLib 0, ZXSetVoltageDefault 0, ZXGetPerformanceDefaultVoltages 0 2 900 1000 0 0")
        << "two levels take the two defaults captured";
    AtiMachine none;
    EXPECT_EQ(none.run(kCard + "od count=0\n", {"ZXGetPerformanceLevelGPUClocks 0"}).joined(),
              "ZXInitLib 0, ZXGetPerformanceLevelGPUClocks 0 0 0 0 0 0")
        << "a card without levels starts and reports none";
    AtiMachine many;
    EXPECT_EQ(many.run(kCard + "od count=65\n", {}).lines, Lines{"ZXInitLib 1"}) << "65 levels are not believed";
}

// Displays 0 to 2 on the desktop: 0 answers id 0, 1 fails, 2 is an adapter, and its index goes with every later call. A
// display off the desktop is never asked.
TEST(AtiBinding, TheWalkProbesAttachedDevicesUntilOneIsAccepted) {
    {
        AtiMachine m;
        zxtest::addDrmCard(1, true);
        zxtest::addDrmCard(2, true);
        const auto r = m.run(kCard + "display index=0 id=0\ndisplay index=1 status=-1\n",
                             {"ZXGetUsage 0 ZXGetTemperature 1 ZXGetCurrentPerformanceLevel 2"});
        // One GPU: GPUs 1 and 2 reach nothing.
        EXPECT_EQ(r.joined(), "ZXInitLib 0, ZXGetUsage 0 40, ZXGetTemperature 1 0, ZXGetCurrentPerformanceLevel 1 0");
        EXPECT_TRUE(m.driver.logOf("GetTemperature").empty());
        EXPECT_EQ(m.driver.logOf("GetAdapterID"),
                  (Lines{"GetAdapterID display=0 -> 0 id=0", "GetAdapterID display=1 -> -1",
                         "GetAdapterID display=2 -> 0 id=1"}));
        EXPECT_EQ(m.driver.logOf("GetPMCurrentActivity").back(),
                  "GetPMCurrentActivity adapter=2 gpu=0 -> 0 voltage=1100 activity=40 level=1");
    }
    AtiMachine m;
    zxtest::writeFile(zxtest::sysfsRoot() + kDisconnect, "disconnected\n");
    zxtest::addDrmCard(1, true);
    EXPECT_EQ(m.run(kCard, {}).of("ZXInitLib"), "0");
    EXPECT_EQ(m.driver.logOf("GetAdapterID"), (Lines{"GetAdapterID display=1 -> 0 id=1"}));
}

TEST(AtiBinding, ASecondStartUpWalksAgainAndFailsWhenNothingIsAccepted) {
    AtiMachine m;
    const pid_t pid = m.host.start(
        {"ZXInitLib touch:" + zxtest::marker("ready") + " wait:" + zxtest::marker("go") + " ZXInitLib ZXGetGpuCount"},
        m.prepare(kCard));
    while (!zxtest::fileExists(zxtest::marker("ready"))) usleep(1000);
    zxtest::writeFile(zxtest::sysfsRoot() + kDisconnect, "disconnected\n");
    zxtest::writeFile(zxtest::marker("go"), "");
    EXPECT_EQ(m.host.wait(pid).lines, (Lines{"ZXInitLib 0", "ZXInitLib 1", "ZXGetGpuCount 3 0"}));
    EXPECT_EQ(m.driver.logOf("GetAdapterID").size(), 1u);
}

TEST(AtiVoltage, RequestedValuesMapToLevelIndicesOfTheScale) {
    struct Case {
        const char* request;
        bool profileScale;
        int cardVoltage;
    };
    const Case cases[] = {
        {"1050", true, 1150},   // (1050 - 900) / 50 = 3
        {"3", true, 1150},      // below the minimum: an index
        {"7", true, 0},         // below the minimum and no index (the top is 4): refused
        {"5000", true, 1200},   // above the maximum: the top
        {"1050", false, 1050},  // on the card's own scale
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.request) + (c.profileScale ? " on the profile scale" : ""));
        AtiMachine m;
        const auto r = m.runAfterStartUp(kCard, {std::string("ZXSetCurrentVoltageLevel 0 ") + c.request},
                                         c.profileScale ? kProfileScale : "");
        EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), c.cardVoltage != 0 ? "0" : "1");
        EXPECT_EQ(m.driver.logOf("SetODPerformanceLevels"),
                  c.cardVoltage != 0 ? Lines{rows(c.cardVoltage, c.cardVoltage, c.cardVoltage)} : Lines{});
    }
}

// Defaults captured at the first start (900, 1000, 1100 on the profile scale) are written back twice: the highest
// level's everywhere, then each level's.
TEST(AtiVoltage, OneLevelTheRangeWithoutAskingTheCardAndDefaultsWrittenTwice) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(
        kCard,
        {"ZXGetVoltageInfo 0 ZXSetPerformanceVoltageLevel 0 2 950",
         "ZXSetPerformanceVoltageLevel 0 3 950 ZXSetVoltageDefault 0", "ZXGetPerformanceDefaultVoltages 0"},
        kProfileScale);
    EXPECT_EQ(r.of("ZXGetVoltageInfo"), "0 1100 900 50");
    EXPECT_EQ(r.allOf("ZXSetPerformanceVoltageLevel"), (Lines{"0", "1"}));  // level 3 is beyond the card's
    EXPECT_EQ(m.commandLog()[0].rfind("GetODParameters", 0), 0u);           // the range asked nothing
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "0");
    EXPECT_EQ(r.of("ZXGetPerformanceDefaultVoltages"), "0 3 900 1000 1100 0");
    EXPECT_EQ(m.driver.logOf("SetODPerformanceLevels"),
              (Lines{rows(1000, 1100, 1050), rows(1200, 1200, 1200), rows(1000, 1100, 1200)}));
}

TEST(AtiClocks, ALevelClockIsWrittenInTenKilohertzIntoThatLevelOnly) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(kCard, {"ZXSetPerformanceLevelGPUClock 0 1 850 ZXGetPerformanceLevelGPUClocks 0",
                                             "ZXSetPerformanceLevelMemoryClock 0 3 500 ZXSetGPUClockDefault 0",
                                             "ZXGetPerformanceDefaultMemoryClocks 0"});
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXSetPerformanceLevelGPUClock 0",
                              "ZXGetPerformanceLevelGPUClocks 0 3 300 850 700 0",
                              "ZXSetPerformanceLevelMemoryClock 1",  // no level 3
                              "ZXSetGPUClockDefault 0", "ZXGetPerformanceDefaultMemoryClocks 0 3 500 800 1100 0"}));
    EXPECT_EQ(m.driver.logOf("SetODPerformanceLevels"), (Lines{rows(1000, 1100, 1200, 85000), rows(1000, 1100, 1200)}));
}

TEST(AtiPins, MemoryVoltageLevelTwoIsTwoPinWritesInOrder) {
    AtiMachine m;
    const auto r =
        m.runAfterStartUp(kCard + "pin reg=0x10 value=0x10\n",
                          {"ZXSetCurrentMemoryVoltageLevel 0 2 ZXGetCurrentMemoryVoltageLevel 0"}, kRegulator);
    EXPECT_EQ(r.lines,
              (Lines{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 0", "ZXGetCurrentMemoryVoltageLevel 0 2"}));
    Lines expected;
    for (const auto& [before, output] : {std::pair{"0x10", "0x00"}, std::pair{"0x00", "0x20"}}) {
        const std::string ex = "WriteAndReadI2CEx adapter=0 gpu=0 ";
        expected.insert(
            expected.end(),
            {ex + "addr=0x3F reg=0x10 speed=75 -> 0 data=" + before, ex + "addr=0x3E reg=0x15 data=0xFF speed=75 -> 0",
             ex + "addr=0x3E reg=0x14 data=0x00 speed=75 -> 0", ex + "addr=0x3E reg=0x12 data=0x00 speed=75 -> 0",
             ex + "addr=0x3E reg=0x13 data=0x00 speed=75 -> 0",
             ex + "addr=0x3E reg=0x11 data=" + output + " speed=75 -> 0"});
    }
    ASSERT_GE(m.commandLog().size(), expected.size());
    EXPECT_EQ(Lines(m.commandLog().begin(), m.commandLog().begin() + 12), expected);
}

TEST(AtiPins, DacAndPwmWrites) {
    AtiMachine m;
    const auto r = m.runAfterStartUp(
        kCard,
        {"ZXSetDACLevel 0 5 ZXGetDACLevel 0 ZXSetDACLevel 0 0",
         "ZXSetCurrentPWMClockLevel 0 2 ZXSetCurrentPWMClockLevel 0 1", "ZXGetCurrentPWMClockLevel 0"},
        kRegulator);
    // PWM level 2 is no PWM level.
    EXPECT_EQ(r.lines,
              (Lines{"ZXInitLib 0", "ZXSetDACLevel 0", "ZXGetDACLevel 0 1", "ZXSetDACLevel 0",
                     "ZXSetCurrentPWMClockLevel 1", "ZXSetCurrentPWMClockLevel 0", "ZXGetCurrentPWMClockLevel 0 1"}));
    Lines outputs;
    for (const std::string& line : m.commandLog()) {
        if (line.find("reg=0x11 ") != std::string::npos) outputs.push_back(line.substr(line.find("data=") + 5, 4));
    }
    EXPECT_EQ(outputs, (Lines{"0x04", "0x0C", "0x08", "0x00", "0x01"}));
}

// Adapter index 1: extended then plain path, at indices 1 and 2, speeds 75 and 120; a bus that never answers is a
// failure, not pins at 1.
TEST(AtiPins, AFailingBusIsSweptThenReportedAsAFailure) {
    AtiMachine m;
    zxtest::addDrmCard(1, true);
    const auto r = m.runAfterStartUp(kCard +
                                         "display index=0 id=0\nfault op=WriteAndReadI2CEx status=-1\n"
                                         "fault op=WriteAndReadI2C status=-1\n",
                                     {"ZXGetCurrentMemoryVoltageLevel 0"}, kRegulator);
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "1 0");
    Lines attempts;
    for (const std::string& line : m.commandLog()) {
        attempts.push_back(line.substr(0, line.find(" addr=")) + line.substr(line.find(" speed=")));
    }
    const std::string ex = "WriteAndReadI2CEx adapter=", plain = "WriteAndReadI2C adapter=";
    EXPECT_EQ(attempts,
              (Lines{ex + "1 gpu=0 speed=75 -> -1", ex + "1 gpu=0 speed=120 -> -1", ex + "2 gpu=0 speed=75 -> -1",
                     ex + "2 gpu=0 speed=120 -> -1", plain + "1 speed=75 -> -1", plain + "1 speed=120 -> -1",
                     plain + "2 speed=75 -> -1", plain + "2 speed=120 -> -1"}));

}

TEST(AtiFan, ReadingAndSettingPassPercentWithTheirFlags) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetFanSpeedInfo 0 0 0 ZXGetFanSpeed 0 0 0 ZXSetFanSpeed 0 0 60 0",
                                 "ZXSetFanSpeed 0 0 10 0 ZXSetFanSpeedDefault 0 0 0"});
    // 10 is below the fan's range.
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXGetFanSpeedInfo 0 100 20 1", "ZXGetFanSpeed 0 40", "ZXSetFanSpeed 0",
                              "ZXSetFanSpeed 1", "ZXSetFanSpeedDefault 0"}));
    EXPECT_EQ(m.driver.logOf("GetFanSpeed"), (Lines{"GetFanSpeed adapter=0 gpu=0 fan=0 type=1 flags=1 -> 0 speed=40"}));
    EXPECT_EQ(m.driver.logOf("SetFanSpeed")[0], "SetFanSpeed adapter=0 gpu=0 fan=0 type=1 speed=60 flags=0 -> 0");
}

// GPU index 1 names the second card's location in every call that reaches the display library, its own I2C transfers,
// temperature and fan included; a fan index is passed through.
TEST(AtiPins, EveryCallOfTheSecondGpuNamesItsLocation) {
    AtiMachine m;
    zxtest::addPciDevice("0000:02:00.0", zxtest::kAtiCard);
    const std::string second =
        "gpu bus=2\n"
        "od vmin=1000 vmax=1200 vstep=50 emin=10000 emax=100000 estep=500 mmin=10000 mmax=150000 mstep=500\n"
        "level engine=30000 memory=50000 voltage=1000\nlevel engine=50000 memory=80000 voltage=1100\n"
        "activity percent=40 current=1\nthermal temp=65000\nfan min=20 max=100 speed=40\nfan min=0 max=90 speed=30\n";
    const auto r = m.runAfterStartUp(
        kCard + second,
        {"ZXGetCurrentVoltage 1 ZXGetPerformanceLevelVoltages 1 ZXGetPerformanceDefaultVoltages 1 ZXGetVoltageInfo 1",
         "ZXSetCurrentVoltageLevel 1 1100 ZXSetVoltageDefault 1 ZXGetPerformanceLevelGPUClocks 1",
         "ZXGetMemoryClockInfo 1 ZXSetPerformanceLevelMemoryClock 1 0 600 ZXSetMemoryClockDefault 1",
         "ZXGetCurrentPerformanceLevel 1 ZXGetTemperature 1 ZXGetUsage 1 ZXGetFanSpeed 1 1 0",
         "ZXSetFanSpeed 1 1 60 0 ZXSetFanSpeedDefault 1 1 0 ZXGetCurrentMemoryVoltageLevel 1",
         "ZXSetCurrentMemoryVoltageLevel 1 1 ZXGetDACLevel 1"},
        kRegulator);
    ASSERT_EQ(r.lines.size(), 20u);
    for (const std::string& l : r.lines) {
        EXPECT_EQ(l.substr(l.find(' '), 2), " 0") << l;  // every call answered 0
    }
    ASSERT_GT(m.commandLog().size(), 20u);
    for (const std::string& l : m.commandLog()) {
        EXPECT_NE(l.find(" gpu=1 "), std::string::npos) << l;
        if (l.find("FanSpeed") != std::string::npos) {
            EXPECT_NE(l.find(" fan=1 "), std::string::npos) << l;
        }
    }
}

// When GPU 1's extended path fails, its pin work fails without a transfer on the plain path, which reaches GPU 0;
// GPU 0 still works.
TEST(AtiPins, TheSecondGpuNeverFallsBackToThePlainPath) {
    AtiMachine m;
    zxtest::addPciDevice("0000:02:00.0", zxtest::kAtiCard);
    const auto r = m.runAfterStartUp(kCard +
                                         "gpu bus=2\nlevel engine=30000 memory=50000 voltage=1000\n"
                                         "fault op=WriteAndReadI2CEx status=-1 gpu=1\n",
                                     {"ZXSetCurrentMemoryVoltageLevel 1 1 ZXGetDACLevel 1 ZXSetDACLevel 0 1"},
                                     kRegulator);
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 1", "ZXGetDACLevel 1 0",
                              "ZXSetDACLevel 0"}));
    EXPECT_TRUE(m.driver.logOf("WriteAndReadI2C").empty());
}

// A bus fault at any write (every attempt of the transfer failing) puts the memory voltage back on level 2; answer 1.
TEST(AtiPins, ABusFaultPartWayEndsOnTheOldLevel) {
    for (unsigned k = 1; k <= 10; ++k) {
        SCOPED_TRACE(k);
        AtiMachine m;
        const auto r = m.run(kCard + "pin reg=0x10 value=0x20\nfault op=WriteAndReadI2CEx status=-1 action=write after=" +
                                 std::to_string(k - 1) + " times=6\nfault op=WriteAndReadI2C status=-1 action=write times=6\n",
                             {"ZXSetCurrentMemoryVoltageLevel 0 1 ZXGetCurrentMemoryVoltageLevel 0"}, kRegulator);
        EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 1", "ZXGetCurrentMemoryVoltageLevel 0 2"}));
    }
}

// Default voltages captured on the card's own scale (the profile has a step but no minimum) are written back as
// captured and reported on the profile's scale, as the range is; defaults never captured are not applied.
TEST(AtiVoltage, DefaultsAreWrittenOnTheScaleTheyWereCapturedOn) {
    const std::string noMinimum = "GPUVoltageMax=200\nGPUVoltageStep=50\n";
    AtiMachine m;
    auto r = m.runAfterStartUp(kCard, {"ZXSetVoltageDefault 0 ZXGetPerformanceDefaultVoltages 0 ZXGetVoltageInfo 0"},
                               noMinimum);
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXSetVoltageDefault 0", "ZXGetPerformanceDefaultVoltages 0 3 0 100 200 0",
                              "ZXGetVoltageInfo 0 200 0 50"}));
    EXPECT_EQ(m.driver.logOf("SetODPerformanceLevels"), (Lines{rows(1200, 1200, 1200), rows(1000, 1100, 1200)}));

    // The second write failing: the levels go back as they were.
    AtiMachine cut;
    r = cut.runAfterStartUp(kCard + "fault op=SetODPerformanceLevels status=-1 after=1 times=1\n",
                            {"ZXSetVoltageDefault 0"}, kProfileScale);
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "1");
    EXPECT_EQ(cut.driver.logOf("SetODPerformanceLevels").back(), rows(1000, 1100, 1200));

    AtiMachine uncaptured;
    r = uncaptured.run(kCard + "fault op=GetODPerformanceLevels status=-1 times=1\n", {"ZXSetVoltageDefault 0"},
                       kProfileScale);
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "1");
    EXPECT_TRUE(uncaptured.driver.logOf("SetODPerformanceLevels").empty());

    // Without a profile scale: the card's own range, and its own defaults written back.
    AtiMachine card;
    r = card.runAfterStartUp(kCard, {"ZXGetVoltageInfo 0 ZXSetVoltageDefault 0"});
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXGetVoltageInfo 0 1200 1000 50", "ZXSetVoltageDefault 0"}));
    EXPECT_EQ(card.driver.logOf("SetODPerformanceLevels"), (Lines{rows(1150, 1150, 1150), rows(1050, 1100, 1150)}));
}

// Memory-voltage and PWM defaults that could not be read from the card at the first start are no level: their
// getters and setters answer 1 and write nothing.
TEST(AtiPins, DefaultsNeverCapturedAreNotApplied) {
    AtiMachine m;
    // The two captured reads, each tried at adapters 0 to 2 at both speeds on both paths, fail.
    const auto r = m.run(kCard + "fault op=WriteAndReadI2CEx status=-1 times=12\n"
                                 "fault op=WriteAndReadI2C status=-1 times=12\n",
                         {"ZXGetMemoryVoltageDefault 0 ZXSetMemoryVoltageDefault 0 ZXGetPWMClockDefault 0",
                          "ZXSetPWMClockDefault 0"},
                         kRegulator);
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXGetMemoryVoltageDefault 1 0", "ZXSetMemoryVoltageDefault 1",
                              "ZXGetPWMClockDefault 1 0", "ZXSetPWMClockDefault 1"}));
    for (const char* path : {"WriteAndReadI2C", "WriteAndReadI2CEx"}) {
        for (const std::string& l : m.driver.logOf(path)) {
            EXPECT_EQ(l.find("addr=0x3E"), std::string::npos) << "a write: " << l;
        }
    }
}

// The control bits of a card with every control, the DAC read from pin 22 alone, the level ranges (maximum first),
// and a card without DAC control.
TEST(AtiPins, ControlsDacPinAndAbsentDac) {
    AtiMachine m;
    const auto r = m.run(kCard + "pin reg=0x10 value=0x08\n",
                         {"ZXGetControlMode ZXGetDACLevel 0 ZXGetMemoryVoltageInfo 0 ZXGetPWMClockInfo 0"},
                         kRegulator + kProfileScale + "CanSet2DAs3DClock=1\nMemoryVoltageMin=1\n");
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 0", "ZXGetControlMode 0 4207", "ZXGetDACLevel 0 0",
                              "ZXGetMemoryVoltageInfo 0 3 1 1", "ZXGetPWMClockInfo 0 1 0 1"}));
    AtiMachine none;
    const auto n = none.run(kCard, {"ZXGetDACLevel 0 ZXSetDACLevel 0 1"});
    EXPECT_EQ(n.lines, (Lines{"ZXInitLib 0", "ZXGetDACLevel 2 0", "ZXSetDACLevel 2"}));
    EXPECT_TRUE(none.driver.logOf("WriteAndReadI2C").empty() && none.driver.logOf("WriteAndReadI2CEx").empty());
}

// A store that cannot be written fails the start-up that has defaults to capture, and leaves no library loaded.
TEST(AtiExportsStartUp, AStoreThatCannotBeWrittenFailsTheStart) {
    AtiMachine m;
    zxtest::writeFile(zxtest::configDir() + "/zxdisplaylib", "not a folder");
    const auto r = m.run(kCard, {"loaded:libatipdlxx.so"});
    EXPECT_EQ(r.lines, (Lines{"ZXInitLib 1", "loaded libatipdlxx.so 0"}));
}

}  // namespace
