// The NVIDIA regulator end to end: GPU voltage, memory voltage and PWM clock
// set and read through the public header by the deployed host, on simulated
// pin controllers whose every register access is in the driver's call log.
#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::HostResult;
using Strings = std::vector<std::string>;

// One register access of the log, compact: "3E R10=41", "6E W15=11",
// "3E R10!" for a transaction the driver failed.
struct Access {
    unsigned addr = 0;
    bool write = false;
    unsigned reg = 0;
    unsigned data = 0;
    bool ok = true;
    std::string text() const {
        char b[32];
        std::snprintf(b, sizeof b, ok ? "%02X %c%02X=%02X" : "%02X %c%02X!", addr, write ? 'W' : 'R', reg, data);
        return b;
    }
};

class NvRegulatorE2E : public ::testing::Test {
protected:
    // A listed registry-voltage card: kind 2 unless a kind-1 pin controller
    // answers the probe.
    void SetUp() override { zxtest::addPciDevice(zxtest::nvidiaCard("0000:01:00.0")); }

    HostResult run(const std::string& devices, const std::string& profile, Strings commands,
                   const std::string& section = "10DE_0611_A102_7A3C") {
        const std::string scenario = zxtest::testRoot() + "/scenario";
        zxtest::writeFile(scenario, "gpu bus=1\n" + devices);
        host.addCardData("NVVGA.DAT", "[" + section + "]\n" + profile);
        commands.insert(commands.begin(), "ZXInitLib");
        std::remove(logPath().c_str());
        HostResult r = host.run(commands, {{"ZXSIM_NVAPI_SCENARIO", scenario}, {"ZXSIM_NVAPI_LOG", logPath()}});
        EXPECT_EQ(r.of("ZXInitLib"), "0");
        return r;
    }

    std::string logPath() const { return zxtest::testRoot() + "/nvapi.log"; }
    Strings log() const {
        Strings lines;
        std::istringstream in(zxtest::readFile(logPath()));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    // Register accesses after start-up (whose last call is the clocks query).
    std::vector<Access> accesses() const {
        std::vector<Access> out;
        for (const std::string& l : log()) {
            if (l.rfind("GetPerfClocks", 0) == 0) out.clear();
            const bool write = l.rfind("I2CWrite ", 0) == 0;
            if (!write && l.rfind("I2CRead ", 0) != 0) continue;
            Access a;
            a.write = write;
            int status = 0;
            std::sscanf(l.c_str() + l.find("addr="), "addr=0x%X reg=0x%X", &a.addr, &a.reg);
            std::sscanf(l.c_str() + l.find("-> "), "-> %d", &status);
            a.ok = status == 0;
            const auto d = l.find("data=0x");
            if (d != std::string::npos) std::sscanf(l.c_str() + d, "data=0x%X", &a.data);
            out.push_back(a);
        }
        return out;
    }
    Strings accessTexts() const {
        Strings out;
        for (const Access& a : accesses()) out.push_back(a.text());
        return out;
    }

    // The pin writes the accesses make up, as "22>1". A pin write is six
    // accesses of its kind's shape; the pin is the bit that changes (kind 1:
    // level register against output; kind 2: direction bits). Anything else
    // shows as "bad".
    Strings pinWrites() const { return pinWrites(accesses()); }
    static Strings pinWrites(const std::vector<Access>& a) {
        Strings out;
        for (std::size_t i = 0; i + 6 <= a.size(); i += 6) {
            const unsigned b = a[i].reg;
            auto is = [&](std::size_t k, bool write, unsigned reg) {
                return a[i + k].write == write && a[i + k].reg == reg && a[i + k].addr == a[i].addr;
            };
            unsigned changed = 0, level = 0;
            if (a[i].addr == 0x3E && is(0, false, b) && is(1, true, b + 5) && is(2, true, b + 4) &&
                is(3, true, b + 2) && is(4, true, b + 1) && is(5, true, b + 3)) {
                changed = a[i].data ^ a[i + 4].data;
                level = (a[i + 4].data & changed) != 0;
            } else if (a[i].addr == 0x6E && is(0, false, b) && is(1, false, b + 5) && is(2, true, b + 1) &&
                       is(3, true, b + 3) && is(4, true, b) && is(5, true, b + 5)) {
                changed = a[i + 1].data ^ a[i + 5].data;
                level = (a[i + 4].data & changed) == 0;
            }
            const unsigned port = (b - (a[i].addr == 0x6E ? 0x10 : 0)) / 0x10;
            int bit = -1;
            for (int k = 0; k < 8; ++k) bit = changed == (1u << k) ? k : bit;
            out.push_back(bit < 0 ? "bad" : std::to_string(10 * (port + 1) + bit) + ">" + std::to_string(level));
        }
        if (a.size() % 6 != 0) out.push_back("bad");
        return out;
    }

    // The card's state after the last change of its pins.
    std::string regulatorState() const {
        std::string last = "<unchanged>";
        for (const std::string& l : log()) {
            if (l.rfind("Regulator gpu=0 ", 0) == 0) last = l.substr(16);
        }
        return last;
    }

    zxtest::HostDeployment host;
};

// 5-bit table: GPUVoltageStep 25, steps 0-20 from 800.
const std::string kKind1 = "regulator kind=1 base=800 step=25\n";
const std::string kFiveBit = "GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\nDefaultGPUVoltage3D=1100\n";

TEST_F(NvRegulatorE2E, Kind1VoltagesBecomeClampedStepsOnThePins) {
    struct Case {
        const char* setter;
        const char* voltage;
        const char* readBack;  // status, voltage, level
    };
    const Case cases[] = {
        {"ZXSetPerformanceVoltageLevel", "1300", "0 1300 20"}, {"ZXSetPerformanceVoltageLevel", "1600", "0 1300 20"},
        {"ZXSetPerformanceVoltageLevel", "1299", "0 1275 19"}, {"ZXSetPerformanceVoltageLevel", "800", "0 800 0"},
        {"ZXSetPerformanceVoltageLevel", "799", "0 1300 20"},  {"ZXSetPerformanceVoltageLevel", "5", "0 925 5"},
        {"ZXSetCurrentVoltageLevel", "1299", "0 1275 19"},     {"ZXSetCurrentVoltageLevel", "5", "0 925 5"},
    };
    Strings commands, expected;
    for (const Case& c : cases) {
        commands.insert(commands.end(), {c.setter, "0"});
        if (std::string(c.setter) == "ZXSetPerformanceVoltageLevel") commands.push_back("3");
        commands.insert(commands.end(), {c.voltage, "ZXGetCurrentVoltage", "0"});
        expected.push_back(c.readBack);
    }
    commands.insert(commands.end(), {"ZXSetVoltageDefault", "0", "ZXGetCurrentVoltage", "0"});
    expected.push_back("0 1100 12");
    const HostResult r = run(kKind1, kFiveBit, commands);
    EXPECT_EQ(r.allOf("ZXGetCurrentVoltage"), expected);
    for (const auto& s : r.allOf("ZXSetPerformanceVoltageLevel")) EXPECT_EQ(s, "0");
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "0");
    // Step 12 is VID code 16, and the card runs at 1100.
    EXPECT_EQ(regulatorState(), "vid=16 voltage=1100 mem=0 pwm=0");
}

TEST_F(NvRegulatorE2E, PinsReadBackAsStepAndVoltage) {
    // Pins 21, 10, 11, 12, 22 read "00001": code 16, step 12.
    EXPECT_EQ(run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x04\n", kFiveBit, {"ZXGetCurrentVoltage", "0"})
                  .of("ZXGetCurrentVoltage"),
              "0 1100 12");
    EXPECT_EQ(accessTexts(), (Strings{"3E R10=04", "3E R00=00", "3E R00=00", "3E R00=00", "3E R10=04"}));
    // Code 31 is not in the table: step 0.
    EXPECT_EQ(run(kKind1 + "i2c addr=0x3E reg=0x00 value=0x07\ni2c addr=0x3E reg=0x10 value=0x06\n", kFiveBit,
                  {"ZXGetCurrentVoltage", "0"})
                  .of("ZXGetCurrentVoltage"),
              "0 800 0");
}

TEST_F(NvRegulatorE2E, StepsDriveTheirPinsZerosFirst) {
    struct Case {
        const char* profile;
        const char* voltage;
        unsigned port0, port1;  // initial levels: every written pin changes
        Strings pins;
        const char* readBack;
    };
    const Case cases[] = {
        {"GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n", "800", 0x01, 0x02,
         {"21>0", "10>0", "11>1", "12>1", "22>1"}, "0 800 0"},
        {"GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n", "1225", 0x02, 0x04,
         {"22>0", "11>0", "21>1", "10>1", "12>1"}, "0 1225 17"},
        {"GPUVoltageMin=800\nGPUVoltageMax=908\nGPUVoltageStep=12\n", "908", 0x07, 0x04,
         {"10>0", "11>0", "12>0", "22>0"}, "0 908 9"},
    };
    for (const Case& c : cases) {
        char pins[96];
        std::snprintf(pins, sizeof pins, "i2c addr=0x3E reg=0x00 value=0x%02X\ni2c addr=0x3E reg=0x10 value=0x%02X\n",
                      c.port0, c.port1);
        const HostResult set = run(kKind1 + pins, c.profile, {"ZXSetPerformanceVoltageLevel", "0", "0", c.voltage});
        EXPECT_EQ(set.of("ZXSetPerformanceVoltageLevel"), "0");
        EXPECT_EQ(pinWrites(), c.pins) << c.voltage;
        // The same card, its pins as the set left them, read back.
        const unsigned p0 = c.pins.size() == 4 ? 0x00 : c.port0 ^ 0x07;
        const unsigned p1 = c.port1 ^ (c.pins.size() == 4 ? 0x04 : 0x06);
        std::snprintf(pins, sizeof pins, "i2c addr=0x3E reg=0x00 value=0x%02X\ni2c addr=0x3E reg=0x10 value=0x%02X\n",
                      p0, p1);
        EXPECT_EQ(run(kKind1 + pins, c.profile, {"ZXGetCurrentVoltage", "0"}).of("ZXGetCurrentVoltage"), c.readBack);
    }
}

TEST_F(NvRegulatorE2E, OnePinIsSixTransactionsOfItsKind) {
    // Kind 1, step 0: pin 22 goes to 1 last, port 1 reading 0x41.
    run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x41\n", kFiveBit, {"ZXSetPerformanceVoltageLevel", "0", "0", "800"});
    Strings all = accessTexts();
    ASSERT_EQ(all.size(), 30u);
    EXPECT_EQ(Strings(all.end() - 6, all.end()),
              (Strings{"3E R10=41", "3E W15=FF", "3E W14=00", "3E W12=00", "3E W11=45", "3E W13=00"}));
    // Kind 2, step 1: pin 14 goes to 1 second, port 0 latch 0x13, direction 0x01.
    run("regulator kind=2\ni2c addr=0x6E reg=0x10 value=0x13\ni2c addr=0x6E reg=0x15 value=0x01\n",
        "GPUVoltageMin=1000\nGPUVoltageMax=1350\nGPUVoltageStep=50\nGPUVoltageStart=1000\n",
        {"ZXSetCurrentVoltageLevel", "0", "1050"});
    all = accessTexts();
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(Strings(all.begin() + 6, all.begin() + 12),
              (Strings{"6E R10=13", "6E R15=01", "6E W11=EE", "6E W13=EE", "6E W10=03", "6E W15=11"}));
}

const std::string kKind2 = "regulator kind=2 base=1000 step=50\n";
const std::string kKind2Profile =
    "GPUVoltageMin=1000\nGPUVoltageMax=1350\nGPUVoltageStep=50\nDefaultGPUVoltage3D=1100\n"
    "GPUVoltageStart=1000\nGPUVoltageCurrent=1234\n";

TEST_F(NvRegulatorE2E, Kind2CountsStepsFromTheStoredStartAndStoresTheVoltage) {
    HostResult r = run(kKind2, kKind2Profile, {"ZXSetCurrentVoltageLevel", "0", "1150", "ZXGetCurrentVoltage", "0"});
    EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), "0");
    EXPECT_EQ(pinWrites(), (Strings{"10>0", "14>0", "11>1"}));  // step 3, code 4
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1150 1150");
    EXPECT_EQ(regulatorState(), "vid=4 voltage=1150 mem=3 pwm=1");

    // Below the start or past step 7: refused, nothing stored or written.
    r = run(kKind2, kKind2Profile,
            {"ZXSetCurrentVoltageLevel", "0", "900", "ZXSetPerformanceVoltageLevel", "0", "0", "1400",
             "ZXGetCurrentVoltage", "0"});
    EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), "1");
    EXPECT_EQ(r.of("ZXSetPerformanceVoltageLevel"), "1");
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1234 1234");
    EXPECT_TRUE(accesses().empty());

    // The default is programmed the same way.
    r = run(kKind2, kKind2Profile, {"ZXSetVoltageDefault", "0", "ZXGetCurrentVoltage", "0"});
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "0");
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1100 1100");
}

TEST_F(NvRegulatorE2E, Kind2WithoutAStoredStartRefusesEverySetter) {
    // This test's user store is new: nothing was ever stored for the card.
    const HostResult r = run(kKind2, "GPUVoltageMin=1000\nGPUVoltageMax=1350\nGPUVoltageStep=50\nDefaultGPUVoltage3D=1100\n",
                             {"ZXSetCurrentVoltageLevel", "0", "1150", "ZXSetPerformanceVoltageLevel", "0", "0",
                              "1150", "ZXSetVoltageDefault", "0", "ZXGetCurrentVoltage", "0"});
    EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), "1");
    EXPECT_EQ(r.of("ZXSetPerformanceVoltageLevel"), "1");
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "1");
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 0 0");
    EXPECT_TRUE(accesses().empty());
}

TEST_F(NvRegulatorE2E, RequestsOutsideTheTableAreRefusedUntouched) {
    // 800-1500 in 25s has 28 steps; the 5-bit table has 21.
    HostResult r = run(kKind1, "GPUVoltageMin=800\nGPUVoltageMax=1500\nGPUVoltageStep=25\nDefaultGPUVoltage3D=700\n",
                       {"ZXSetPerformanceVoltageLevel", "0", "0", "1500", "ZXSetVoltageDefault", "0"});
    EXPECT_EQ(r.of("ZXSetPerformanceVoltageLevel"), "1");
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "1");  // default below the minimum
    EXPECT_TRUE(accesses().empty());
}

const std::string kLevels = "MemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\n";

TEST_F(NvRegulatorE2E, MemoryVoltageAndPwmLevelsOnTheirPins) {
    // Pin 24 high, pin 23 low: level 2 changes both.
    HostResult r = run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x10\n", kLevels,
                       {"ZXSetCurrentMemoryVoltageLevel", "0", "2", "ZXGetCurrentMemoryVoltageLevel", "0",
                        "ZXSetCurrentMemoryVoltageLevel", "0", "4", "ZXSetCurrentPWMClockLevel", "0", "2"});
    EXPECT_EQ(r.of("ZXSetCurrentMemoryVoltageLevel"), "0");
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "0 2");
    EXPECT_EQ(r.allOf("ZXSetCurrentMemoryVoltageLevel")[1], "1");  // level 4: no transaction
    EXPECT_EQ(r.of("ZXSetCurrentPWMClockLevel"), "1");             // level 2: no transaction
    std::vector<Access> a = accesses();
    ASSERT_EQ(a.size(), 14u);  // two pin writes, then pins 23 and 24 read back
    EXPECT_EQ(pinWrites({a.begin(), a.begin() + 12}), (Strings{"24>0", "23>1"}));
    EXPECT_EQ(a[12].text() + " " + a[13].text(), "3E R10=08 3E R10=08");
    EXPECT_EQ(regulatorState(), "vid=0 voltage=- mem=2 pwm=0");

    r = run(kKind2, kLevels, {"ZXSetCurrentMemoryVoltageLevel", "0", "1", "ZXSetCurrentPWMClockLevel", "0", "1",
                              "ZXGetCurrentMemoryVoltageLevel", "0", "ZXGetCurrentPWMClockLevel", "0"});
    EXPECT_EQ(r.of("ZXSetCurrentMemoryVoltageLevel"), "0");
    EXPECT_EQ(r.of("ZXSetCurrentPWMClockLevel"), "0");
    EXPECT_EQ(pinWrites(), (Strings{"16>1", "17>0", "21>1"}));
    const Strings all = accessTexts();
    EXPECT_EQ(Strings(all.end() - 6, all.end()),
              (Strings{"6E R20=FF", "6E R25=00", "6E W21=FD", "6E W23=FD", "6E W20=FD", "6E W25=02"}));
    // The pin controller of kind 2 cannot be read back.
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "2 0");
    EXPECT_EQ(r.of("ZXGetCurrentPWMClockLevel"), "2 0");
}

TEST_F(NvRegulatorE2E, PwmPinIsBitZeroOfTheFiveBitCode) {
    const HostResult r = run(kKind1, kFiveBit + kLevels,
                             {"ZXSetVoltageDefault", "0", "ZXSetCurrentPWMClockLevel", "0", "1",
                              "ZXGetCurrentPWMClockLevel", "0", "ZXGetCurrentVoltage", "0"});
    EXPECT_EQ(r.of("ZXGetCurrentPWMClockLevel"), "0 1");
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1075 11");  // code 16 became 17
    EXPECT_EQ(regulatorState(), "vid=17 voltage=1075 mem=0 pwm=1");
}

TEST_F(NvRegulatorE2E, DefaultSettersProgramTheProfileLevels) {
    const HostResult r = run(kKind1, kFiveBit + kLevels + "DefaultMemoryVoltageLevel3D=3\nDefaultPWMLevel=1\n",
                             {"ZXSetMemoryVoltageDefault", "0", "ZXSetPWMClockDefault", "0",
                              "ZXGetPerformanceLevelVoltages", "0"});
    EXPECT_EQ(r.of("ZXSetMemoryVoltageDefault"), "0");
    EXPECT_EQ(r.of("ZXSetPWMClockDefault"), "0");
    // Pin 21 alone makes code 1, outside the table: step 0.
    EXPECT_EQ(r.of("ZXGetPerformanceLevelVoltages"), "0 1 800 0 0 0");
    EXPECT_EQ(regulatorState(), "vid=1 voltage=- mem=3 pwm=1");
}

// Every export of the three features, with its arguments.
const Strings kAllRegulatorCalls = {
    "ZXGetCurrentVoltage", "0", "ZXGetPerformanceLevelVoltages", "0", "ZXGetVoltageInfo", "0",
    "ZXSetCurrentVoltageLevel", "0", "1000", "ZXSetPerformanceVoltageLevel", "0", "0", "1000",
    "ZXSetVoltageDefault", "0", "ZXGetPerformanceDefaultVoltages", "0", "ZXGet2DDefaultVoltage", "0",
    "ZXGetCurrentMemoryVoltageLevel", "0", "ZXGetMemoryVoltageInfo", "0", "ZXGetMemoryVoltageDefault", "0",
    "ZXSetCurrentMemoryVoltageLevel", "0", "1", "ZXSetMemoryVoltageDefault", "0",
    "ZXGetCurrentPWMClockLevel", "0", "ZXGetPWMClockInfo", "0", "ZXGetPWMClockDefault", "0",
    "ZXSetCurrentPWMClockLevel", "0", "1", "ZXSetPWMClockDefault", "0"};

Strings statuses(const HostResult& r) {
    Strings out;
    for (const std::string& l : r.lines) {
        if (l.rfind("ZXInitLib", 0) != 0) out.push_back(l);
    }
    return out;
}

TEST_F(NvRegulatorE2E, WithoutAStepOrARegulatorOnlyTheProfileAnswers) {
    // No GPUVoltageStep (nor the other steps): only the two default getters.
    HostResult r = run(kKind1, "GPUVoltageMin=800\nGPUVoltageMax=1300\nDefaultGPUVoltage3D=1100\n"
                               "DefaultGPUVoltage2D=900\n", kAllRegulatorCalls);
    for (const std::string& l : statuses(r)) {
        const bool answers = l.rfind("ZXGetPerformanceDefaultVoltages", 0) == 0 || l.rfind("ZXGet2DDefault", 0) == 0;
        EXPECT_EQ(l.substr(l.find(' ') + 1, 1), answers ? "0" : "2") << l;
    }
    EXPECT_TRUE(accesses().empty());

    // Kind 0 (no controller, card not listed): what needs the regulator is 2.
    zxtest::removeTree(zxtest::sysfsRoot());
    zxtest::makeDirs(zxtest::sysfsRoot());
    zxtest::addPciDevice(zxtest::nvidiaCard("0000:01:00.0", 0x0612));
    r = run("", kFiveBit + kLevels + "DefaultGPUVoltage2D=900\n", kAllRegulatorCalls, "10DE_0612_A102_7A3C");
    const Strings expected = {
        "ZXGetCurrentVoltage 2 0 0", "ZXGetPerformanceLevelVoltages 2 0 0 0 0 0", "ZXGetVoltageInfo 0 1300 800 25",
        "ZXSetCurrentVoltageLevel 2", "ZXSetPerformanceVoltageLevel 2", "ZXSetVoltageDefault 2",
        "ZXGetPerformanceDefaultVoltages 0 1 1100 0 0 0", "ZXGet2DDefaultVoltage 0 900",
        "ZXGetCurrentMemoryVoltageLevel 2 0", "ZXGetMemoryVoltageInfo 0 3 0 1", "ZXGetMemoryVoltageDefault 0 0",
        "ZXSetCurrentMemoryVoltageLevel 2", "ZXSetMemoryVoltageDefault 2", "ZXGetCurrentPWMClockLevel 2 0",
        "ZXGetPWMClockInfo 0 1 0 1", "ZXGetPWMClockDefault 0 0", "ZXSetCurrentPWMClockLevel 2",
        "ZXSetPWMClockDefault 2"};
    EXPECT_EQ(statuses(r), expected);
    EXPECT_EQ(accessTexts(), Strings{});
}

TEST_F(NvRegulatorE2E, BusFailuresAreReportedAndStopTheSequence) {
    // After the probe, every read fails: read-backs give 1 and zeros; a pin
    // write stops at its port read.
    HostResult r = run(kKind1 + "fault op=I2CRead status=-1 after=1\n", kFiveBit + kLevels,
                       {"ZXGetCurrentVoltage", "0", "ZXGetCurrentMemoryVoltageLevel", "0", "ZXGetCurrentPWMClockLevel",
                        "0", "ZXSetCurrentMemoryVoltageLevel", "0", "3"});
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "1 0 0");
    EXPECT_EQ(r.of("ZXGetCurrentMemoryVoltageLevel"), "1 0");
    EXPECT_EQ(r.of("ZXGetCurrentPWMClockLevel"), "1 0");
    EXPECT_EQ(r.of("ZXSetCurrentMemoryVoltageLevel"), "1");
    EXPECT_EQ(accessTexts(), (Strings{"3E R10!", "3E R10!", "3E R10!", "3E R10!"}));

    // A write the driver fails ends the pin write and the operation.
    r = run(kKind1 + "fault op=I2CWrite status=-1 after=2 times=1\n", kFiveBit, {"ZXSetVoltageDefault", "0"});
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "1");
    EXPECT_EQ(accessTexts(), (Strings{"3E R10=00", "3E W15=FF", "3E W14=00", "3E W12!"}));
}

}  // namespace
