// Binding on an in-memory platform whose display library offers only some of
// the simulator's entry points: absent ones make their operations fail, or
// for the fan, unsupported, while the rest work.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "ati/ati_backend.h"
#include "ati/ati_binding.h"
#include "support/atisim.h"
#include "support/fake_platform.h"

namespace {

using zx::StatusCode;

class AtiBindingTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(sim.load("gpu bus=1\nlevel engine=30000 memory=50000 voltage=1000\nthermal temp=50000\n"
                           "fan min=20 max=90 speed=35\n"),
                  0);
        os.displays = {{"card0", false}, {"card1", true}};
        table.count = 1;
        table.location[0] = {1, 0, 0};
        zx::platform::setPlatform(&os);
    }
    void TearDown() override {
        zx::ati::unbindAti(os);
        zx::platform::setPlatform(nullptr);
    }

    // The library under its fallback name, with every entry point but those named.
    void offerAllBut(std::initializer_list<std::string> absent) {
        zxtest::FakeLibrary lib;
        for (const char* name : {"ATIDL_GetODParameters", "ATIDL_GetPMCurrentActivity", "ATIDL_GetODPerformanceLevels",
                                 "ATIDL_SetODPerformanceLevels", "ATIDL_GetTemperature", "ATIDL_WriteAndReadI2C",
                                 "ATIDL_WriteAndReadI2CEx", "ATIDL_GetAdapterID", "ATIDL_GetFanSpeedInfo",
                                 "ATIDL_GetFanSpeed", "ATIDL_SetFanSpeed", "ATIDL_SetFanSpeedToDefault"}) {
            if (std::find(absent.begin(), absent.end(), name) == absent.end()) {
                lib.symbols[name] = sim.entry(name);
            }
        }
        os.libraries["libatipdlxx32.so"] = lib;
    }

    zxtest::atisim::Control sim;
    zxtest::FakePlatform os;
    zx::AdapterTable table{};
    zx::ati::AtiBackend backend;
};

TEST_F(AtiBindingTest, AbsentEntryPointsFailTheirOperationsOnly) {
    offerAllBut({"ATIDL_GetODParameters", "ATIDL_GetFanSpeedInfo"});
    ASSERT_EQ(zx::ati::bindAti(table, os), StatusCode::Ok);
    EXPECT_EQ(os.loadAttempts, (std::vector<std::string>{"libatipdlxx.so", "libatipdlxx32.so"}));
    EXPECT_EQ(os.deviceContexts, (std::vector<std::string>{"card1"}));  // card0 is not on the desktop
    EXPECT_EQ(zx::ati::atiBinding().adapterIndex, 1);

    zx::LevelValues clocks{};
    zx::RangeInfo range{};
    std::uint32_t value = 0;
    EXPECT_EQ(backend.getPerformanceLevelGpuClocks(0, &clocks), StatusCode::Failed);
    EXPECT_EQ(backend.getFanSpeedInfo(0, 0, &range, 0), StatusCode::NotSupported);
    EXPECT_EQ(backend.getFanSpeed(0, 0, &value, 0), StatusCode::Ok);
    EXPECT_EQ(value, 35u);
    EXPECT_EQ(backend.getTemperature(0, &value), StatusCode::Ok);
    EXPECT_EQ(value, 50u);
}

}  // namespace
