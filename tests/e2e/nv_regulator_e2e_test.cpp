// The NVIDIA regulator end to end: GPU voltage, memory voltage and PWM clock
// set and read through the public header by the deployed host, on simulated
// pin controllers whose every register access is in the driver's call log.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"
#include "support/test_env.h"

namespace {

using zxtest::HostResult;
using Strings = std::vector<std::string>;

class NvRegulatorE2E : public ::testing::Test {
protected:
    // A listed registry-voltage card: kind 2 unless a kind-1 pin controller
    // answers the probe.
    void SetUp() override { zxtest::addPciDevice("0000:01:00.0"); }

    HostResult run(const std::string& devices, const std::string& profile, Strings commands,
                   const std::string& model = zxtest::kNvidiaCard) {
        host.addCardData("NVVGA.DAT", "[" + model + "]\n" + profile);
        commands.insert(commands.begin(), "ZXInitLib");
        driver.clearLog();
        HostResult r = host.run(commands, driver.env("gpu bus=1\n" + devices));
        EXPECT_EQ(r.of("ZXInitLib"), "0");
        return r;
    }

    // Register accesses after start-up (whose last call is the clocks query),
    // compact: "3E R10=41", "6E W15=11", "3E R10!" for one the driver failed.
    Strings accesses() const {
        Strings out;
        for (const std::string& l : driver.logAfter("GetPerfClocks")) {
            const bool write = l.rfind("I2CWrite ", 0) == 0;
            if (!write && l.rfind("I2CRead ", 0) != 0) continue;
            unsigned addr = 0, reg = 0, data = 0;
            int status = 0;
            std::sscanf(l.c_str() + l.find("addr="), "addr=0x%X reg=0x%X", &addr, &reg);
            std::sscanf(l.c_str() + l.find("-> "), "-> %d", &status);
            if (l.find("data=0x") != std::string::npos) std::sscanf(l.c_str() + l.find("data=0x"), "data=0x%X", &data);
            char b[32];
            std::snprintf(b, sizeof b, status == 0 ? "%02X %c%02X=%02X" : "%02X %c%02X!", addr, write ? 'W' : 'R', reg,
                          data);
            out.push_back(b);
        }
        return out;
    }

    // The pin writes the accesses make up, as "22>1". A pin write is six
    // accesses of its kind's shape; the pin is the bit that changes (kind 1:
    // level register against output; kind 2: direction bits). Anything else
    // shows as "bad".
    static Strings pinWrites(const Strings& texts) {
        struct Access {
            unsigned addr = 0, reg = 0, data = 0;
            char rw = 0;
        };
        std::vector<Access> a(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            std::sscanf(texts[i].c_str(), "%X %c%X=%X", &a[i].addr, &a[i].rw, &a[i].reg, &a[i].data);
        }
        Strings out;
        for (std::size_t i = 0; i + 6 <= a.size(); i += 6) {
            const unsigned b = a[i].reg;
            auto is = [&](const char* shape) {  // R or W, register offset, for each of the six
                for (std::size_t k = 0; k < 6; ++k) {
                    const Access& x = a[i + k];
                    const unsigned offset = static_cast<unsigned>(shape[2 * k + 1] - '0');
                    if (x.addr != a[i].addr || x.rw != shape[2 * k] || x.reg != b + offset) return false;
                }
                return true;
            };
            unsigned changed = 0, level = 0;
            if (a[i].addr == 0x3E && is("R0W5W4W2W1W3")) {
                changed = a[i].data ^ a[i + 4].data;
                level = (a[i + 4].data & changed) != 0;
            } else if (a[i].addr == 0x6E && is("R0R5W1W3W0W5")) {
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
    Strings pinWrites() const { return pinWrites(accesses()); }

    // The card's state after the last change of its pins.
    std::string regulatorState() const {
        const Strings lines = driver.logOf("Regulator");
        return lines.empty() ? "<unchanged>" : lines.back().substr(16);
    }

    zxtest::HostDeployment host;
    zxtest::SimDriver driver;
};

// 5-bit table: GPUVoltageStep 25, steps 0-20 from 800.
const std::string kKind1 = "regulator kind=1 base=800 step=25\n";
const std::string kFiveBit = "GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\nDefaultGPUVoltage3D=1100\n";

TEST_F(NvRegulatorE2E, Kind1VoltagesBecomeClampedStepsOnThePins) {
    // Each set, then the voltage read back: status, voltage, level.
    const std::pair<const char*, const char*> cases[] = {
        {"ZXSetPerformanceVoltageLevel 0 3 1300", "0 1300 20"},
        {"ZXSetPerformanceVoltageLevel 0 3 1600", "0 1300 20"},
        {"ZXSetPerformanceVoltageLevel 0 3 1299", "0 1275 19"},
        {"ZXSetPerformanceVoltageLevel 0 3 800", "0 800 0"},
        {"ZXSetPerformanceVoltageLevel 0 3 799", "0 1300 20"},
        {"ZXSetPerformanceVoltageLevel 0 3 5", "0 925 5"},
        {"ZXSetCurrentVoltageLevel 0 1299", "0 1275 19"},
        {"ZXSetCurrentVoltageLevel 0 5", "0 925 5"},
        {"ZXSetVoltageDefault 0", "0 1100 12"},
    };
    Strings commands, expected;
    for (const auto& [set, readBack] : cases) {
        commands.insert(commands.end(), {set, "ZXGetCurrentVoltage 0"});
        expected.push_back(readBack);
    }
    const HostResult r = run(kKind1, kFiveBit, commands);
    EXPECT_EQ(r.allOf("ZXGetCurrentVoltage"), expected);
    EXPECT_EQ(r.allOf("ZXSetPerformanceVoltageLevel"), Strings(6, "0"));
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "0");
    // Step 12 is VID code 16, and the card runs at 1100.
    EXPECT_EQ(regulatorState(), "vid=16 voltage=1100 mem=0 pwm=0");
}

TEST_F(NvRegulatorE2E, PinsReadBackAsStepAndVoltage) {
    // Pins 21, 10, 11, 12, 22 read "00001": code 16, step 12.
    EXPECT_EQ(run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x04\n", kFiveBit, {"ZXGetCurrentVoltage 0"})
                  .of("ZXGetCurrentVoltage"),
              "0 1100 12");
    EXPECT_EQ(accesses(), (Strings{"3E R10=04", "3E R00=00", "3E R00=00", "3E R00=00", "3E R10=04"}));
    // Code 31 is not in the table: step 0.
    EXPECT_EQ(run(kKind1 + "i2c addr=0x3E reg=0x00 value=0x07\ni2c addr=0x3E reg=0x10 value=0x06\n", kFiveBit,
                  {"ZXGetCurrentVoltage 0"})
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
        {"GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n",
         "800",
         0x01,
         0x02,
         {"21>0", "10>0", "11>1", "12>1", "22>1"},
         "0 800 0"},
        {"GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n",
         "1225",
         0x02,
         0x04,
         {"22>0", "11>0", "21>1", "10>1", "12>1"},
         "0 1225 17"},
        {"GPUVoltageMin=800\nGPUVoltageMax=908\nGPUVoltageStep=12\n",
         "908",
         0x07,
         0x04,
         {"10>0", "11>0", "12>0", "22>0"},
         "0 908 9"},
    };
    auto pins = [](unsigned port0, unsigned port1) {
        char text[96];
        std::snprintf(text, sizeof text, "i2c addr=0x3E reg=0x00 value=0x%02X\ni2c addr=0x3E reg=0x10 value=0x%02X\n",
                      port0, port1);
        return kKind1 + text;
    };
    for (const Case& c : cases) {
        const HostResult set =
            run(pins(c.port0, c.port1), c.profile, {std::string("ZXSetPerformanceVoltageLevel 0 0 ") + c.voltage});
        EXPECT_EQ(set.of("ZXSetPerformanceVoltageLevel"), "0");
        EXPECT_EQ(pinWrites(), c.pins) << c.voltage;
        // The same card, its pins as the set left them, read back.
        const bool fourBit = c.pins.size() == 4;
        EXPECT_EQ(run(pins(fourBit ? 0x00 : c.port0 ^ 0x07, c.port1 ^ (fourBit ? 0x04 : 0x06)), c.profile,
                      {"ZXGetCurrentVoltage 0"})
                      .of("ZXGetCurrentVoltage"),
                  c.readBack);
    }
}

TEST_F(NvRegulatorE2E, OnePinIsSixTransactionsOfItsKind) {
    // Kind 1, step 0: pin 22 goes to 1 last, port 1 reading 0x41.
    run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x41\n", kFiveBit, {"ZXSetPerformanceVoltageLevel 0 0 800"});
    Strings all = accesses();
    ASSERT_EQ(all.size(), 30u);
    EXPECT_EQ(Strings(all.end() - 6, all.end()),
              (Strings{"3E R10=41", "3E W15=FF", "3E W14=00", "3E W12=00", "3E W11=45", "3E W13=00"}));
    // Kind 2, step 1: pin 14 goes to 1 second, port 0 latch 0x13, direction 0x01.
    run("regulator kind=2\ni2c addr=0x6E reg=0x10 value=0x13\ni2c addr=0x6E reg=0x15 value=0x01\n",
        "GPUVoltageMin=1000\nGPUVoltageMax=1350\nGPUVoltageStep=50\nGPUVoltageStart=1000\n",
        {"ZXSetCurrentVoltageLevel 0 1050"});
    all = accesses();
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(Strings(all.begin() + 6, all.begin() + 12),
              (Strings{"6E R10=13", "6E R15=01", "6E W11=EE", "6E W13=EE", "6E W10=03", "6E W15=11"}));
}

const std::string kKind2 = "regulator kind=2 base=1000 step=50\n";
const std::string kKind2Limits =
    "GPUVoltageMin=1000\nGPUVoltageMax=1350\nGPUVoltageStep=50\nDefaultGPUVoltage3D=1100\n";
const std::string kKind2Profile = kKind2Limits + "GPUVoltageStart=1000\nGPUVoltageCurrent=1234\n";

TEST_F(NvRegulatorE2E, Kind2CountsStepsFromTheStoredStartAndStoresTheVoltage) {
    HostResult r = run(kKind2, kKind2Profile, {"ZXSetCurrentVoltageLevel 0 1150 ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), "0");
    EXPECT_EQ(pinWrites(), (Strings{"10>0", "14>0", "11>1"}));  // step 3, code 4
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1150 1150");
    EXPECT_EQ(regulatorState(), "vid=4 voltage=1150 mem=3 pwm=1");

    // Below the start or past step 7: refused, nothing stored or written.
    r = run(kKind2, kKind2Profile,
            {"ZXSetCurrentVoltageLevel 0 900 ZXSetPerformanceVoltageLevel 0 0 1400 ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentVoltageLevel 1", "ZXSetPerformanceVoltageLevel 1",
                                "ZXGetCurrentVoltage 0 1234 1234"}));
    EXPECT_TRUE(accesses().empty());

    // The default is programmed the same way.
    r = run(kKind2, kKind2Profile, {"ZXSetVoltageDefault 0 ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetVoltageDefault 0", "ZXGetCurrentVoltage 0 1100 1100"}));
}

TEST_F(NvRegulatorE2E, SettersRefusedWithoutAStoredStartOrOutsideTheTableTouchNoPin) {
    // Kind 2 and this test's new store: nothing was ever stored for the card.
    HostResult r = run(kKind2, kKind2Limits,
                       {"ZXSetCurrentVoltageLevel 0 1150 ZXSetPerformanceVoltageLevel 0 0 1150 ZXSetVoltageDefault 0",
                        "ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentVoltageLevel 1", "ZXSetPerformanceVoltageLevel 1",
                                "ZXSetVoltageDefault 1", "ZXGetCurrentVoltage 0 0 0"}));
    EXPECT_TRUE(accesses().empty());
    // 800-1500 in 25s has 28 steps, the 5-bit table 21; the default is below the minimum.
    r = run(kKind1, "GPUVoltageMin=800\nGPUVoltageMax=1500\nGPUVoltageStep=25\nDefaultGPUVoltage3D=700\n",
            {"ZXSetPerformanceVoltageLevel 0 0 1500 ZXSetVoltageDefault 0"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetPerformanceVoltageLevel 1", "ZXSetVoltageDefault 1"}));
    EXPECT_TRUE(accesses().empty());
}

const std::string kLevels = "MemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\n";

TEST_F(NvRegulatorE2E, MemoryVoltageAndPwmLevelsOnTheirPins) {
    // Pin 24 high, pin 23 low: level 2 changes both; levels 4 (memory) and 2 (PWM) make no transaction.
    HostResult r = run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x10\n", kLevels,
                       {"ZXSetCurrentMemoryVoltageLevel 0 2 ZXGetCurrentMemoryVoltageLevel 0",
                        "ZXSetCurrentMemoryVoltageLevel 0 4 ZXSetCurrentPWMClockLevel 0 2"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 0", "ZXGetCurrentMemoryVoltageLevel 0 2",
                                "ZXSetCurrentMemoryVoltageLevel 1", "ZXSetCurrentPWMClockLevel 1"}));
    Strings a = accesses();
    ASSERT_EQ(a.size(), 14u);  // two pin writes, then pins 23 and 24 read back
    EXPECT_EQ(pinWrites({a.begin(), a.begin() + 12}), (Strings{"24>0", "23>1"}));
    EXPECT_EQ(Strings(a.begin() + 12, a.end()), (Strings{"3E R10=08", "3E R10=08"}));
    EXPECT_EQ(regulatorState(), "vid=0 voltage=- mem=2 pwm=0");

    r = run(kKind2, kLevels,
            {"ZXSetCurrentMemoryVoltageLevel 0 1 ZXSetCurrentPWMClockLevel 0 1",
             "ZXGetCurrentMemoryVoltageLevel 0 ZXGetCurrentPWMClockLevel 0"});
    // The pin controller of kind 2 cannot be read back.
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 0", "ZXSetCurrentPWMClockLevel 0",
                                "ZXGetCurrentMemoryVoltageLevel 2 0", "ZXGetCurrentPWMClockLevel 2 0"}));
    EXPECT_EQ(pinWrites(), (Strings{"16>1", "17>0", "21>1"}));
    a = accesses();
    EXPECT_EQ(Strings(a.end() - 6, a.end()),
              (Strings{"6E R20=FF", "6E R25=00", "6E W21=FD", "6E W23=FD", "6E W20=FD", "6E W25=02"}));
}

TEST_F(NvRegulatorE2E, PwmPinIsBitZeroOfTheFiveBitCode) {
    const HostResult r = run(
        kKind1, kFiveBit + kLevels,
        {"ZXSetVoltageDefault 0 ZXSetCurrentPWMClockLevel 0 1 ZXGetCurrentPWMClockLevel 0", "ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.of("ZXGetCurrentPWMClockLevel"), "0 1");
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1075 11");  // code 16 became 17
    EXPECT_EQ(regulatorState(), "vid=17 voltage=1075 mem=0 pwm=1");
}

TEST_F(NvRegulatorE2E, DefaultSettersProgramTheProfileLevels) {
    const HostResult r = run(kKind1, kFiveBit + kLevels + "DefaultMemoryVoltageLevel3D=3\nDefaultPWMLevel=1\n",
                             {"ZXSetMemoryVoltageDefault 0 ZXSetPWMClockDefault 0 ZXGetPerformanceLevelVoltages 0"});
    // Pin 21 alone makes code 1, outside the table: step 0.
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetMemoryVoltageDefault 0", "ZXSetPWMClockDefault 0",
                                "ZXGetPerformanceLevelVoltages 0 1 800 0 0 0"}));
    EXPECT_EQ(regulatorState(), "vid=1 voltage=- mem=3 pwm=1");
}

TEST_F(NvRegulatorE2E, WithoutAStepOrARegulatorOnlyTheProfileAnswers) {
    // Every export of the three features, with its arguments.
    const Strings all = {
        "ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0 ZXGetVoltageInfo 0 ZXSetCurrentVoltageLevel 0 1000",
        "ZXSetPerformanceVoltageLevel 0 0 1000 ZXSetVoltageDefault 0 ZXGetPerformanceDefaultVoltages 0",
        "ZXGet2DDefaultVoltage 0 ZXGetCurrentMemoryVoltageLevel 0 ZXGetMemoryVoltageInfo 0",
        "ZXGetMemoryVoltageDefault 0 ZXSetCurrentMemoryVoltageLevel 0 1 ZXSetMemoryVoltageDefault 0",
        "ZXGetCurrentPWMClockLevel 0 ZXGetPWMClockInfo 0 ZXGetPWMClockDefault 0 ZXSetCurrentPWMClockLevel 0 1",
        "ZXSetPWMClockDefault 0"};
    // No GPUVoltageStep (nor the other steps): only the two default getters.
    HostResult r =
        run(kKind1, "GPUVoltageMin=800\nGPUVoltageMax=1300\nDefaultGPUVoltage3D=1100\nDefaultGPUVoltage2D=900\n", all);
    ASSERT_EQ(r.lines.size(), 19u);
    for (std::size_t i = 1; i < r.lines.size(); ++i) {
        const std::string& l = r.lines[i];
        const bool answers = l.rfind("ZXGetPerformanceDefaultVoltages", 0) == 0 || l.rfind("ZXGet2DDefault", 0) == 0;
        EXPECT_EQ(l.substr(l.find(' ') + 1, 1), answers ? "0" : "2") << l;
    }
    EXPECT_TRUE(accesses().empty());

    // Kind 0 (no controller, card not listed): what needs the regulator is 2.
    zxtest::clearSysfs();
    zxtest::addPciDevice("0000:01:00.0", "10DE_0612_A102_7A3C");
    r = run("", kFiveBit + kLevels + "DefaultGPUVoltage2D=900\n", all, "10DE_0612_A102_7A3C");
    EXPECT_EQ(
        r.lines,
        (Strings{"ZXInitLib 0", "ZXGetCurrentVoltage 2 0 0", "ZXGetPerformanceLevelVoltages 2 0 0 0 0 0",
                 "ZXGetVoltageInfo 0 1300 800 25", "ZXSetCurrentVoltageLevel 2", "ZXSetPerformanceVoltageLevel 2",
                 "ZXSetVoltageDefault 2", "ZXGetPerformanceDefaultVoltages 0 1 1100 0 0 0",
                 "ZXGet2DDefaultVoltage 0 900", "ZXGetCurrentMemoryVoltageLevel 2 0", "ZXGetMemoryVoltageInfo 0 3 0 1",
                 "ZXGetMemoryVoltageDefault 0 0", "ZXSetCurrentMemoryVoltageLevel 2", "ZXSetMemoryVoltageDefault 2",
                 "ZXGetCurrentPWMClockLevel 2 0", "ZXGetPWMClockInfo 0 1 0 1", "ZXGetPWMClockDefault 0 0",
                 "ZXSetCurrentPWMClockLevel 2", "ZXSetPWMClockDefault 2"}));
    EXPECT_TRUE(accesses().empty());
}

TEST_F(NvRegulatorE2E, BusFailuresAreReportedAndStopTheSequence) {
    // After the probe, every read fails: read-backs give 1 and zeros; a pin
    // write stops at its port read.
    HostResult r = run(kKind1 + "fault op=I2CRead status=-1 after=1\n", kFiveBit + kLevels,
                       {"ZXGetCurrentVoltage 0 ZXGetCurrentMemoryVoltageLevel 0 ZXGetCurrentPWMClockLevel 0",
                        "ZXSetCurrentMemoryVoltageLevel 0 3"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXGetCurrentVoltage 1 0 0", "ZXGetCurrentMemoryVoltageLevel 1 0",
                                "ZXGetCurrentPWMClockLevel 1 0", "ZXSetCurrentMemoryVoltageLevel 1"}));
    EXPECT_EQ(accesses(), (Strings{"3E R10!", "3E R10!", "3E R10!", "3E R10!"}));

    // A write the driver fails ends the pin write and the operation.
    r = run(kKind1 + "fault op=I2CWrite status=-1 after=2 times=1\n", kFiveBit, {"ZXSetVoltageDefault 0"});
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "1");
    EXPECT_EQ(accesses(), (Strings{"3E R10=00", "3E W15=FF", "3E W14=00", "3E W12!"}));
}

}  // namespace
