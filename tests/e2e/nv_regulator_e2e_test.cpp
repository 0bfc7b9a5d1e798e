// The NVIDIA regulator end to end: GPU voltage, memory voltage and PWM clock through the deployed host, on simulated
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
    // A listed registry-voltage card: kind 2 unless a kind-1 pin controller answers the probe.
    void SetUp() override { zxtest::addPciDevice("0000:01:00.0"); }

    HostResult run(const std::string& devices, const std::string& profile, Strings commands,
                   const std::string& card = zxtest::kNvidiaCard) {
        host.addCardData("NVVGA.DAT", "[" + card + "]\n" + profile);
        commands.insert(commands.begin(), "ZXInitLib");
        driver.clearLog();
        HostResult r = host.run(commands, driver.env("gpu bus=1\n" + devices));
        EXPECT_EQ(r.of("ZXInitLib"), "0");
        return r;
    }

    // Register accesses after start-up (which ends with the clocks query), as "3E R10=41", "6E W15=11", or "3E R10!"
    // for one the driver failed.
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

    // The pin writes the accesses make up, as "22>1 10>0": six accesses of the kind's shape each, the pin being the one
    // bit that changes (kind 1: level register against output; kind 2: direction bits); anything else is "bad".
    static std::string pinWrites(const Strings& texts) {
        struct Access {
            unsigned addr = 0, reg = 0, data = 0;
            char rw = 0;
        };
        std::vector<Access> a(texts.size());
        for (std::size_t i = 0; i < texts.size(); ++i) {
            std::sscanf(texts[i].c_str(), "%X %c%X=%X", &a[i].addr, &a[i].rw, &a[i].reg, &a[i].data);
        }
        std::string out;
        for (std::size_t i = 0; i + 6 <= a.size(); i += 6) {
            const unsigned b = a[i].reg;
            auto is = [&](const char* shape) {  // R or W and register offset, for each of the six
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
            out += bit < 0 ? "bad " : std::to_string(10 * (port + 1) + bit) + ">" + std::to_string(level) + " ";
        }
        return a.size() % 6 != 0 ? out + "bad" : out.substr(0, out.size() - 1);
    }
    std::string pinWrites() const { return pinWrites(accesses()); }

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
const std::string kKind2 = "regulator kind=2 base=1000 step=50\n";
const std::string kKind2Limits =
    "GPUVoltageMin=1000\nGPUVoltageMax=1350\nGPUVoltageStep=50\nDefaultGPUVoltage3D=1100\n";
const std::string kLevels = "MemoryVoltageStep=1\nMemoryVoltageMax=3\nPWMClockStep=1\nPWMClockMax=1\n";

TEST_F(NvRegulatorE2E, Kind1VoltagesBecomeClampedStepsOnThePins) {
    // Each set, then the voltage read back: status, voltage, level.
    const HostResult r = run(
        kKind1, kFiveBit,
        {"ZXSetPerformanceVoltageLevel 0 3 1300 ZXGetCurrentVoltage 0",
         "ZXSetPerformanceVoltageLevel 0 3 1600 ZXGetCurrentVoltage 0",
         "ZXSetPerformanceVoltageLevel 0 3 1299 ZXGetCurrentVoltage 0",
         "ZXSetPerformanceVoltageLevel 0 3 800 ZXGetCurrentVoltage 0",
         "ZXSetPerformanceVoltageLevel 0 3 799 ZXGetCurrentVoltage 0",
         "ZXSetPerformanceVoltageLevel 0 3 5 ZXGetCurrentVoltage 0", "ZXSetVoltageDefault 0 ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.allOf("ZXGetCurrentVoltage"),
              (Strings{"0 1300 20", "0 1300 20", "0 1275 19", "0 800 0", "0 800 0", "0 925 5", "0 1100 12"}));
    // 799 is below the minimum and no step number (the top step is 20): refused, the pins keep 800.
    EXPECT_EQ(r.allOf("ZXSetPerformanceVoltageLevel"), (Strings{"0", "0", "0", "0", "1", "0"}));
    EXPECT_EQ(r.of("ZXSetVoltageDefault"), "0");
    EXPECT_EQ(regulatorState(), "vid=16 voltage=1100 mem=0 pwm=0");  // step 12 is code 16

    // Pins 21, 10, 11, 12, 22 reading "00001": code 16, step 12.
    EXPECT_EQ(run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x04\n", kFiveBit, {"ZXGetCurrentVoltage 0"})
                  .of("ZXGetCurrentVoltage"),
              "0 1100 12");
    EXPECT_EQ(accesses(), (Strings{"3E R10=04", "3E R00=00", "3E R00=00", "3E R00=00", "3E R10=04"}));

    // Pins showing a code outside the table (0) are no voltage of the regulator.
    EXPECT_EQ(run(kKind1, kFiveBit, {"ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0"}).lines,
              (Strings{"ZXInitLib 0", "ZXGetCurrentVoltage 1 0 0", "ZXGetPerformanceLevelVoltages 1 0 0 0 0 0"}));
}

TEST_F(NvRegulatorE2E, StepsDriveTheirPinsZerosFirst) {
    const std::string fiveBit = "GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\n";
    struct Case {
        std::string profile;
        const char* voltage;
        unsigned port0, port1;  // initial levels: every written pin changes
        const char* pins;
        const char* readBack;
    };
    const Case cases[] = {
        {fiveBit, "800", 0x01, 0x02, "21>0 10>0 11>1 12>1 22>1", "0 800 0"},
        {fiveBit, "1225", 0x02, 0x04, "22>0 11>0 21>1 10>1 12>1", "0 1225 17"},
        {"GPUVoltageMin=800\nGPUVoltageMax=908\nGPUVoltageStep=12\n", "908", 0x07, 0x04, "10>0 11>0 12>0 22>0",
         "0 908 9"},
        // Only step 25 selects the 5-bit table.
        {"GPUVoltageMin=800\nGPUVoltageMax=1250\nGPUVoltageStep=50\n", "1250", 0x07, 0x04, "10>0 11>0 12>0 22>0",
         "0 1250 9"},
    };
    auto pins = [](unsigned port0, unsigned port1) {
        char text[96];
        std::snprintf(text, sizeof text, "i2c addr=0x3E reg=0x00 value=0x%02X\ni2c addr=0x3E reg=0x10 value=0x%02X\n",
                      port0, port1);
        return kKind1 + text;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.voltage);
        const HostResult set =
            run(pins(c.port0, c.port1), c.profile, {std::string("ZXSetPerformanceVoltageLevel 0 0 ") + c.voltage});
        EXPECT_EQ(set.of("ZXSetPerformanceVoltageLevel"), "0");
        EXPECT_EQ(pinWrites(), c.pins);
        // The same card, its pins as the set left them, read back.
        const bool fourBit = c.profile != fiveBit;
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
    // Every transaction is one byte at a one-byte register on the GPU's own port, speed 28, display mask 0, and 1 as
    // the third argument: the driver log names any field that differs.
    for (const std::string& l : driver.logAfter("GetPerfClocks")) {
        for (const char* field : {" mask=", " ddc=", " regsize=", " datasize=", " speed=", " one="}) {
            EXPECT_EQ(l.find(field), std::string::npos) << l;
        }
    }
    // Kind 2, step 1: pin 14 goes to 1 second, port 0 latch 0x13, direction 0x01.
    run("regulator kind=2\ni2c addr=0x6E reg=0x10 value=0x13\ni2c addr=0x6E reg=0x15 value=0x01\n",
        kKind2Limits + "GPUVoltageStart=1000\n", {"ZXSetCurrentVoltageLevel 0 1050"});
    all = accesses();
    ASSERT_EQ(all.size(), 18u);
    EXPECT_EQ(Strings(all.begin() + 6, all.begin() + 12),
              (Strings{"6E R10=13", "6E R15=01", "6E W11=EE", "6E W13=EE", "6E W10=03", "6E W15=11"}));
}

TEST_F(NvRegulatorE2E, Kind2CountsStepsFromTheStoredStartAndStoresTheVoltage) {
    const std::string profile = kKind2Limits + "GPUVoltageStart=1000\nGPUVoltageCurrent=1234\n";
    HostResult r = run(kKind2, profile, {"ZXSetCurrentVoltageLevel 0 1150"});
    EXPECT_EQ(r.of("ZXSetCurrentVoltageLevel"), "0");
    EXPECT_EQ(pinWrites(), "10>0 14>0 11>1");  // step 3, code 4 (read back in ABusFaultPartWayEndsOnTheOldCode)

    // Below the start or past step 7: refused, nothing stored or written.
    r = run(kKind2, profile,
            {"ZXSetCurrentVoltageLevel 0 900 ZXSetPerformanceVoltageLevel 0 0 1400 ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentVoltageLevel 1", "ZXSetPerformanceVoltageLevel 1",
                                "ZXGetCurrentVoltage 0 1234 1234"}));
    EXPECT_TRUE(accesses().empty());

    // Without a stored start (a new store) every setter is refused.
    zxtest::removeTree(zxtest::configDir() + "/zxdisplaylib");
    r = run(kKind2, kKind2Limits,
            {"ZXSetCurrentVoltageLevel 0 1150 ZXSetPerformanceVoltageLevel 0 0 1150 ZXSetVoltageDefault 0"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentVoltageLevel 1", "ZXSetPerformanceVoltageLevel 1",
                                "ZXSetVoltageDefault 1"}));
    EXPECT_TRUE(accesses().empty());
}

TEST_F(NvRegulatorE2E, MemoryVoltageAndPwmLevelsOnTheirPins) {
    // Pin 24 high, pin 23 low: level 2 changes both; levels 4 (memory) and 2 (PWM) make no transaction.
    HostResult r = run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x10\n", kLevels,
                       {"ZXSetCurrentMemoryVoltageLevel 0 2 ZXGetCurrentMemoryVoltageLevel 0",
                        "ZXSetCurrentMemoryVoltageLevel 0 4 ZXSetCurrentPWMClockLevel 0 2"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 0", "ZXGetCurrentMemoryVoltageLevel 0 2",
                                "ZXSetCurrentMemoryVoltageLevel 1", "ZXSetCurrentPWMClockLevel 1"}));
    Strings a = accesses();
    ASSERT_EQ(a.size(), 14u);  // two pin writes, then pins 23 and 24 read back
    EXPECT_EQ(pinWrites({a.begin(), a.begin() + 12}), "24>0 23>1");
    EXPECT_EQ(regulatorState(), "vid=0 voltage=- mem=2 pwm=0");

    // Kind 2: memory level 1, then PWM level 1 on pin 21 of block 0x20.
    r = run(kKind2, kLevels, {"ZXSetCurrentMemoryVoltageLevel 0 1 ZXSetCurrentPWMClockLevel 0 1"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXSetCurrentMemoryVoltageLevel 0", "ZXSetCurrentPWMClockLevel 0"}));
    EXPECT_EQ(pinWrites(), "16>1 17>0 21>1");
    a = accesses();
    EXPECT_EQ(Strings(a.end() - 6, a.end()),
              (Strings{"6E R20=FF", "6E R25=00", "6E W21=FD", "6E W23=FD", "6E W20=FD", "6E W25=02"}));

    // On a 5-bit kind-1 card the PWM pin is bit 0 of the voltage code: 16 becomes 17.
    r = run(kKind1, kFiveBit + kLevels, {"ZXSetVoltageDefault 0 ZXSetCurrentPWMClockLevel 0 1 ZXGetCurrentVoltage 0"});
    EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1075 11");
    EXPECT_EQ(regulatorState(), "vid=17 voltage=1075 mem=0 pwm=1");
}

TEST_F(NvRegulatorE2E, WithoutAStepOnlyTheDefaultGettersAnswer) {
    const HostResult r =
        run(kKind1, "GPUVoltageMin=800\nGPUVoltageMax=1300\nDefaultGPUVoltage3D=1100\nDefaultGPUVoltage2D=900\n",
            {"ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0 ZXGetVoltageInfo 0 ZXSetCurrentVoltageLevel 0 1000",
             "ZXSetPerformanceVoltageLevel 0 0 1000 ZXSetVoltageDefault 0 ZXGetPerformanceDefaultVoltages 0",
             "ZXGet2DDefaultVoltage 0 ZXGetCurrentMemoryVoltageLevel 0 ZXGetMemoryVoltageInfo 0",
             "ZXGetMemoryVoltageDefault 0 ZXSetCurrentMemoryVoltageLevel 0 1 ZXSetMemoryVoltageDefault 0",
             "ZXGetCurrentPWMClockLevel 0 ZXGetPWMClockInfo 0 ZXGetPWMClockDefault 0 ZXSetCurrentPWMClockLevel 0 1",
             "ZXSetPWMClockDefault 0"});
    ASSERT_EQ(r.lines.size(), 19u);
    for (std::size_t i = 1; i < r.lines.size(); ++i) {
        const std::string& l = r.lines[i];
        const bool answers = l.rfind("ZXGetPerformanceDefaultVoltages", 0) == 0 || l.rfind("ZXGet2DDefault", 0) == 0;
        EXPECT_EQ(l.substr(l.find(' ') + 1, 1), answers ? "0" : "2") << l;
    }
    EXPECT_TRUE(accesses().empty());
}

// After the probe every read fails: read-backs answer 1 and zeros, a pin write stops at its port read.
TEST_F(NvRegulatorE2E, BusFailuresAreReportedAndStopTheSequence) {
    const HostResult r =
        run(kKind1 + "fault op=I2CRead status=-1 after=1\n", kFiveBit + kLevels,
            {"ZXGetCurrentVoltage 0 ZXGetCurrentMemoryVoltageLevel 0 ZXSetCurrentMemoryVoltageLevel 0 3"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXGetCurrentVoltage 1 0 0", "ZXGetCurrentMemoryVoltageLevel 1 0",
                                "ZXSetCurrentMemoryVoltageLevel 1"}));
    EXPECT_EQ(accesses(), (Strings{"3E R10!", "3E R10!", "3E R10!"}));
}

// A pin sequence cut short by a bus fault at any of its writes ends on the code it started from; the setter answers 1.
TEST_F(NvRegulatorE2E, ABusFaultPartWayEndsOnTheOldCode) {
    // Kind 1: step 12 ("00001") to step 5 ("11101"): five pins, 25 writes.
    for (unsigned k = 1; k <= 26; ++k) {
        SCOPED_TRACE("kind 1, write " + std::to_string(k));
        const HostResult r = run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x04\nfault op=I2CWrite status=-1 after=" +
                                     std::to_string(k - 1) + " times=1\n",
                                 kFiveBit, {"ZXSetPerformanceVoltageLevel 0 0 925 ZXGetCurrentVoltage 0"});
        EXPECT_EQ(r.of("ZXSetPerformanceVoltageLevel"), k <= 25 ? "1" : "0");
        EXPECT_EQ(r.of("ZXGetCurrentVoltage"), k <= 25 ? "0 1100 12" : "0 925 5");
    }
    // Kind 2: 1150 (step 3, code 4) set first, then 1300 (step 6, code 1) cut at each of its twelve writes.
    const std::string profile = kKind2Limits + "GPUVoltageStart=1000\n";
    for (unsigned k = 1; k <= 12; ++k) {
        SCOPED_TRACE("kind 2, write " + std::to_string(k));
        const HostResult r = run(kKind2 + "fault op=I2CWrite status=-1 after=" + std::to_string(12 + k - 1) +
                                     " times=1\n",
                                 profile, {"ZXSetCurrentVoltageLevel 0 1150 ZXSetCurrentVoltageLevel 0 1300",
                                           "ZXGetCurrentVoltage 0"});
        EXPECT_EQ(r.allOf("ZXSetCurrentVoltageLevel"), (Strings{"0", "1"}));
        EXPECT_EQ(r.of("ZXGetCurrentVoltage"), "0 1150 1150");
        EXPECT_EQ(regulatorState(), "vid=4 voltage=1150 mem=3 pwm=1");
    }
}

// Each GPU of a registry-voltage card keeps its own current voltage, the one its pins took; GPU 0 under the name
// stored files already carry, the others seeded from the same card data value.
TEST_F(NvRegulatorE2E, Kind2KeepsTheVoltageEachGpuTook) {
    zxtest::addPciDevice("0000:02:00.0");
    const HostResult r = run(kKind2 + "gpu bus=2\n" + kKind2, kKind2Limits + "GPUVoltageStart=1000\nGPUVoltageCurrent=1234\n",
                             {"ZXGetCurrentVoltage 1 ZXSetCurrentVoltageLevel 1 1160 ZXGetCurrentVoltage 0",
                              "ZXGetCurrentVoltage 1 ZXGetCurrentVoltage 2 ZXGetPerformanceLevelVoltages 2",
                              "ZXSetCurrentVoltageLevel 2 1100"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXGetCurrentVoltage 0 1234 1234", "ZXSetCurrentVoltageLevel 0",
                                "ZXGetCurrentVoltage 0 1234 1234", "ZXGetCurrentVoltage 0 1150 1150",
                                "ZXGetCurrentVoltage 1 0 0", "ZXGetPerformanceLevelVoltages 1 0 0 0 0 0",
                                "ZXSetCurrentVoltageLevel 1"}));
    // Only GPU 1's pins changed.
    for (const std::string& l : driver.logOf("Regulator")) EXPECT_EQ(l.rfind("Regulator gpu=1 ", 0), 0u) << l;
    EXPECT_EQ(regulatorState(), "vid=4 voltage=1150 mem=3 pwm=1");
}

// The profile values each operation needs and answers; a card without a regulator offers none of its controls.
TEST_F(NvRegulatorE2E, GuardsDefaultsAndRangesComeFromTheirOwnProfileValues) {
    const std::string full =
        "GPUVoltageMin=800\nGPUVoltageMax=1300\nGPUVoltageStep=25\nDefaultGPUVoltage2D=900\nDefaultGPUVoltage3D=1100\n"
        "MemoryVoltageMin=1\nMemoryVoltageMax=3\nMemoryVoltageStep=1\nDefaultMemoryVoltageLevel2D=1\n"
        "DefaultMemoryVoltageLevel3D=2\nPWMClockMin=0\nPWMClockMax=1\nPWMClockStep=1\nDefaultPWMLevel=1\n";
    const Strings exports = {"ZXGetCurrentVoltage 0 ZXGetPerformanceLevelVoltages 0 ZXGetPerformanceDefaultVoltages 0 "
                             "ZXGetVoltageInfo 0 ZXGet2DDefaultVoltage 0 ZXSetCurrentVoltageLevel 0 1100 "
                             "ZXSetPerformanceVoltageLevel 0 0 1100 ZXSetVoltageDefault 0 ZXGetMemoryVoltageInfo 0 "
                             "ZXGetMemoryVoltageDefault 0 ZXSetMemoryVoltageDefault 0 ZXGetPWMClockInfo 0 "
                             "ZXGetPWMClockDefault 0 ZXSetPWMClockDefault 0"};
    auto names = [&](const HostResult& r, const char* status) {
        std::string out;
        for (std::size_t i = 1; i < r.lines.size(); ++i) {
            const std::string& l = r.lines[i];
            if (l.substr(l.find(' ') + 1, 1) == status) out += l.substr(2, l.find(' ') - 2) + " ";
        }
        return out;
    };
    struct Case {
        const char* missing;
        const char* refused;  // the operations answering 2 without it
    };
    const Case cases[] = {
        {"GPUVoltageMin", "GetCurrentVoltage GetPerformanceLevelVoltages GetVoltageInfo SetCurrentVoltageLevel "
                          "SetPerformanceVoltageLevel SetVoltageDefault "},
        {"GPUVoltageMax", "GetVoltageInfo SetCurrentVoltageLevel SetPerformanceVoltageLevel "},
        {"GPUVoltageStep", "GetCurrentVoltage GetPerformanceLevelVoltages GetVoltageInfo SetCurrentVoltageLevel "
                           "SetPerformanceVoltageLevel SetVoltageDefault "},
        {"DefaultGPUVoltage3D", "GetPerformanceDefaultVoltages SetVoltageDefault "},
        {"DefaultGPUVoltage2D", "Get2DDefaultVoltage "},
        {"MemoryVoltageStep", "GetMemoryVoltageInfo GetMemoryVoltageDefault SetMemoryVoltageDefault "},
        {"PWMClockStep", "GetPWMClockInfo GetPWMClockDefault SetPWMClockDefault "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.missing);
        std::string profile = full;
        const std::size_t at = profile.find(std::string(c.missing) + "=");
        profile.erase(at, profile.find('\n', at) + 1 - at);
        const HostResult r = run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x04\n", profile, exports);
        EXPECT_EQ(names(r, "2"), c.refused);
    }
    const HostResult r = run(kKind1 + "i2c addr=0x3E reg=0x10 value=0x04\n", full,
                             {"ZXGetPerformanceDefaultVoltages 0 ZXGet2DDefaultVoltage 0 ZXGetVoltageInfo 0",
                              "ZXGetMemoryVoltageDefault 0 ZXGetMemoryVoltageInfo 0 ZXGetPWMClockDefault 0",
                              "ZXGetPWMClockInfo 0 ZXGetControlMode"});
    EXPECT_EQ(r.lines, (Strings{"ZXInitLib 0", "ZXGetPerformanceDefaultVoltages 0 1 1100 0 0 0",
                                "ZXGet2DDefaultVoltage 0 900", "ZXGetVoltageInfo 0 1300 800 25",
                                "ZXGetMemoryVoltageDefault 0 2", "ZXGetMemoryVoltageInfo 0 3 1 1",
                                "ZXGetPWMClockDefault 0 1", "ZXGetPWMClockInfo 0 1 0 1", "ZXGetControlMode 0 63"}));
    // A card model without a registry voltage and without a pin controller: no regulator, so neither its voltage
    // nor its memory-voltage nor its PWM control is offered.
    zxtest::clearSysfs();
    zxtest::addPciDevice("0000:01:00.0", "10DE_0622_B111_7A3C");
    EXPECT_EQ(run("", full, {"ZXGetControlMode ZXSetPerformanceVoltageLevel 0 0 1100"}, "10DE_0622_B111_7A3C").lines,
              (Strings{"ZXInitLib 0", "ZXGetControlMode 0 26", "ZXSetPerformanceVoltageLevel 2"}));
}

// Every memory-voltage level of both kinds, as pin writes in bus order.
TEST_F(NvRegulatorE2E, MemoryVoltageLevelsWriteTheirPinsInOrder) {
    const char* kind1[] = {"23>0 24>0", "23>0 24>1", "24>0 23>1", "23>1 24>1"};
    const char* kind2[] = {"16>0 17>0", "16>1 17>0", "16>0 17>1", "16>1 17>1"};
    for (unsigned level = 0; level < 4; ++level) {
        SCOPED_TRACE(level);
        // Initial pins the opposite of the wanted ones, so that every written pin changes.
        const unsigned k1 = (level & 2 ? 0x00 : 0x08) | (level & 1 ? 0x00 : 0x10);
        char port[64];
        std::snprintf(port, sizeof port, "i2c addr=0x3E reg=0x10 value=0x%02X\n", k1);
        run(kKind1 + port, kLevels, {"ZXSetCurrentMemoryVoltageLevel 0 " + std::to_string(level)});
        EXPECT_EQ(pinWrites(), kind1[level]);
        const unsigned latch = 0xFF & ~((level & 1 ? 0x00 : 0x40) | (level & 2 ? 0x00 : 0x80));
        std::snprintf(port, sizeof port, "i2c addr=0x6E reg=0x10 value=0x%02X\n", latch);
        run(kKind2 + port, kLevels, {"ZXSetCurrentMemoryVoltageLevel 0 " + std::to_string(level)});
        EXPECT_EQ(pinWrites(), kind2[level]);
    }
}

}  // namespace
