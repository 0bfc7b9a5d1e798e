// The ATI card profile and its store: the deployed host starts the library on the simulated display library; the
// per-user store it leaves (the Linux store of this test's folders) is read and seeded here.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <sstream>
#include <string>

#include "platform/platform.h"
#include "support/atisim.h"

namespace {

using zxtest::atisim::AtiMachine;

const std::string kKey = std::string("SOFTWARE\\ORVANTEK\\ZXDISPLAYLIB\\ATI\\Hardware\\") + zxtest::atisim::kCardId;

// Level clocks 350/500/700 MHz and 400/800/1100 MHz; pins 24 and 25 set (memory voltage level 3), pin 20 clear (PWM
// level 0).
const std::string kCard =
    "gpu bus=1\nlevel engine=35000 memory=40000 voltage=1000\nlevel engine=50000 memory=80000 voltage=1100\n"
    "level engine=70000 memory=110000 voltage=1200\npin reg=0x10 value=0x30\n";
const std::string kRegulator = "MemoryVoltageStep=1\nPWMClockStep=1\n";

std::optional<std::string> stored(const std::string& name) {
    std::uint8_t data[300] = {};
    std::uint32_t type = 0, size = sizeof data;
    if (zx::platform::native().storeQuery(kKey, name.c_str(), &type, data, &size) != zx::platform::StoreResult::Ok) {
        return std::nullopt;
    }
    EXPECT_EQ(type, zx::platform::kRegExpandSz) << name;
    EXPECT_EQ(size, 260u) << name;
    return std::string(reinterpret_cast<const char*>(data));
}

// Each "name=value" of values, blank-separated, stored; "-" for a value that must be missing.
void expectStored(const std::string& values) {
    std::istringstream in(values);
    for (std::string item; in >> item;) {
        const std::string name = item.substr(0, item.find('='));
        EXPECT_EQ(stored(name).value_or("-"), item.substr(name.size() + 1)) << name;
    }
}

TEST(AtiProfile, DefaultsAreCapturedAndStoredValuesTakenOnlyWhenComplete) {
    struct Case {
        std::string seeded, profile;
        const char* command;
        const char* answer;
        std::string afterwards;
    };
    const Case cases[] = {
        // A first start with an empty store captures and stores all eleven defaults.
        {"", kRegulator, "ZXGetPerformanceDefaultGPUClocks", "0 3 350 500 700 0",
         "DefaultGPUVoltage0=1000 DefaultGPUVoltage1=1100 DefaultGPUVoltage2=1200 DefaultGPUClock0=35000 "
         "DefaultGPUClock1=50000 DefaultGPUClock2=70000 DefaultMemoryClock0=40000 DefaultMemoryClock1=80000 "
         "DefaultMemoryClock2=110000 DefaultMemoryVoltageLevel2D=3 DefaultMemoryVoltageLevel3D=3 DefaultPWMLevel=0"},
        // A gap in the voltages: all three are captured again.
        {"DefaultGPUVoltage0=5 DefaultGPUVoltage2=7", kRegulator, "ZXGetPerformanceDefaultVoltages",
         "0 3 1000 1100 1200 0", "DefaultGPUVoltage0=1000 DefaultGPUVoltage1=1100"},
        // Both memory voltage values: the 3D one counts.
        {"DefaultMemoryVoltageLevel2D=1 DefaultMemoryVoltageLevel3D=2", kRegulator, "ZXGetMemoryVoltageDefault", "0 2",
         "DefaultMemoryVoltageLevel2D=1"},
        // Only the 3D one: captured from the pins, both written.
        {"DefaultMemoryVoltageLevel3D=2", kRegulator, "ZXGetMemoryVoltageDefault", "0 3",
         "DefaultMemoryVoltageLevel2D=3 DefaultMemoryVoltageLevel3D=3"},
        // No memory voltage control: no default made up, nothing stored.
        {"", "PWMClockStep=1\n", "ZXGetMemoryVoltageDefault", "2 0", "DefaultMemoryVoltageLevel2D=-"},
        // Decimal text up to its first other character.
        {"DefaultPWMLevel=12abc", kRegulator, "ZXGetPWMClockDefault", "0 12", "DefaultPWMLevel=12abc"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        AtiMachine m;
        std::istringstream in(c.seeded);
        for (std::string item; in >> item;) {
            std::uint8_t block[260] = {};
            std::memcpy(block, item.data() + item.find('=') + 1, item.size() - item.find('=') - 1);
            ASSERT_TRUE(zx::platform::native().storeSet(kKey, item.substr(0, item.find('=')).c_str(),
                                                        zx::platform::kRegExpandSz, block, sizeof block));
        }
        EXPECT_EQ(m.run(kCard, {std::string(c.command) + " 0"}, c.profile).of(c.command), c.answer);
        expectStored(c.afterwards);
    }
}

}  // namespace
