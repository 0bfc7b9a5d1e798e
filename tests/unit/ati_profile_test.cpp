// The ATI card profile and its store: the deployed host starts the library on
// the simulated display library; the per-user store it leaves (the Linux
// store of this test's folders) is read and seeded here.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <optional>
#include <string>

#include "platform/platform.h"
#include "support/atisim.h"

namespace {

using zxtest::atisim::AtiMachine;

const std::string kKey = std::string("SOFTWARE\\ORVANTEK\\ZXDISPLAYLIB\\ATI\\Hardware\\") + zxtest::atisim::kCardId;

// Level clocks 350/500/700 MHz and 400/800/1100 MHz; pins 24 and 25 set (memory
// voltage level 3), pin 20 clear (PWM level 0).
const std::string kCard =
    "gpu bus=1\n"
    "level engine=35000 memory=40000 voltage=1000\n"
    "level engine=50000 memory=80000 voltage=1100\n"
    "level engine=70000 memory=110000 voltage=1200\n"
    "pin reg=0x10 value=0x30\n";
const std::string kRegulator = "MemoryVoltageStep=1\nPWMClockStep=1\n";

std::optional<std::string> stored(const char* name) {
    std::uint8_t data[300] = {};
    std::uint32_t type = 0;
    std::uint32_t size = sizeof data;
    if (zx::platform::native().storeQuery(kKey, name, &type, data, &size) != zx::platform::StoreResult::Ok) {
        return std::nullopt;
    }
    EXPECT_EQ(type, zx::platform::kRegExpandSz) << name;
    EXPECT_EQ(size, 260u) << name;
    return std::string(reinterpret_cast<const char*>(data));
}

void seed(const char* name, const std::string& text) {
    std::uint8_t block[260] = {};
    std::memcpy(block, text.data(), text.size());
    ASSERT_TRUE(zx::platform::native().storeSet(kKey, name, zx::platform::kRegExpandSz, block, sizeof block));
}

TEST(AtiProfile, AFirstStartCapturesAndStoresAllElevenDefaults) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetPerformanceDefaultGPUClocks", "0", "ZXGetMemoryVoltageDefault", "0"},
                         kRegulator);
    EXPECT_EQ(r.of("ZXInitLib"), "0");
    const std::map<std::string, std::string> expected = {
        {"DefaultGPUVoltage0", "1000"},       {"DefaultGPUVoltage1", "1100"},   {"DefaultGPUVoltage2", "1200"},
        {"DefaultGPUClock0", "35000"},        {"DefaultGPUClock1", "50000"},    {"DefaultGPUClock2", "70000"},
        {"DefaultMemoryClock0", "40000"},     {"DefaultMemoryClock1", "80000"}, {"DefaultMemoryClock2", "110000"},
        {"DefaultMemoryVoltageLevel2D", "3"}, {"DefaultMemoryVoltageLevel3D", "3"}, {"DefaultPWMLevel", "0"}};
    for (const auto& [name, value] : expected) {
        EXPECT_EQ(stored(name.c_str()), value) << name;
    }
    EXPECT_EQ(r.of("ZXGetPerformanceDefaultGPUClocks"), "0 3 350 500 700 0");
    EXPECT_EQ(r.of("ZXGetMemoryVoltageDefault"), "0 3");
}

TEST(AtiProfile, StoredValuesAreTakenOnlyWhenComplete) {
    struct Case {
        std::map<std::string, std::string> seeded;
        const char* command;
        const char* answer;
        std::map<std::string, std::string> afterwards;
    };
    const Case cases[] = {
        // A gap in the voltages: all three are captured again.
        {{{"DefaultGPUVoltage0", "5"}, {"DefaultGPUVoltage2", "7"}},
         "ZXGetPerformanceDefaultVoltages",
         "0 3 1000 1100 1200 0",
         {{"DefaultGPUVoltage0", "1000"}, {"DefaultGPUVoltage1", "1100"}, {"DefaultGPUVoltage2", "1200"}}},
        // Both memory voltage values: the 3D one counts.
        {{{"DefaultMemoryVoltageLevel2D", "1"}, {"DefaultMemoryVoltageLevel3D", "2"}},
         "ZXGetMemoryVoltageDefault",
         "0 2",
         {{"DefaultMemoryVoltageLevel2D", "1"}, {"DefaultMemoryVoltageLevel3D", "2"}}},
        // Only the 3D one: captured from the pins, both written.
        {{{"DefaultMemoryVoltageLevel3D", "2"}},
         "ZXGetMemoryVoltageDefault",
         "0 3",
         {{"DefaultMemoryVoltageLevel2D", "3"}, {"DefaultMemoryVoltageLevel3D", "3"}}},
        // Decimal text up to its first other character.
        {{{"DefaultPWMLevel", "12abc"}}, "ZXGetPWMClockDefault", "0 12", {{"DefaultPWMLevel", "12abc"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        AtiMachine m;
        for (const auto& [name, text] : c.seeded) {
            seed(name.c_str(), text);
        }
        EXPECT_EQ(m.run(kCard, {c.command, "0"}, kRegulator).of(c.command), c.answer);
        for (const auto& [name, text] : c.afterwards) {
            EXPECT_EQ(stored(name.c_str()), text) << name;
        }
    }
}

// No memory voltage control, or pins that cannot be read: no default is made
// up and nothing is stored; clocks that cannot be read fail the start.
TEST(AtiProfile, DefaultsTheCardCannotGiveAreNotStored) {
    AtiMachine m;
    EXPECT_EQ(m.run(kCard, {"ZXGetMemoryVoltageDefault", "0"}, "PWMClockStep=1\n").of("ZXGetMemoryVoltageDefault"),
              "2 0");
    EXPECT_EQ(stored("DefaultMemoryVoltageLevel2D"), std::nullopt);
    EXPECT_EQ(stored("DefaultPWMLevel"), "0");

    AtiMachine failingBus;
    const auto r = failingBus.run(kCard + "fault op=WriteAndReadI2CEx status=-1\nfault op=WriteAndReadI2C status=-1\n",
                                  {"ZXGetMemoryVoltageDefault", "0"}, kRegulator);
    EXPECT_EQ(r.of("ZXGetMemoryVoltageDefault"), "0 0");
    EXPECT_EQ(stored("DefaultMemoryVoltageLevel3D"), std::nullopt);
    EXPECT_EQ(stored("DefaultPWMLevel"), std::nullopt);

    AtiMachine noClocks;
    EXPECT_EQ(noClocks.run(kCard + "fault op=GetODPerformanceLevels status=-1\n", {}).of("ZXInitLib"), "1");
}

TEST(AtiProfile, DescriptionsStopAtTheFirstGapAndAreCut) {
    AtiMachine m;
    const auto r = m.run(kCard, {"ZXGetVGAInfoDescription", "0", "ZXGetControlMode"},
                         "VGAInfoString0=" + std::string(45, 'x') + "\nVGAInfoString2=Third\nDACSupported=1\n"
                         "CanSet2DAs3DClock=1\n");
    EXPECT_EQ(r.of("ZXGetVGAInfoDescription"), "0 1 [" + std::string(39, 'x') + "] [] [] [] [] [] [] [] [] []");
    EXPECT_EQ(r.of("ZXGetControlMode"), "0 4170");  // 0x104A
}

}  // namespace
