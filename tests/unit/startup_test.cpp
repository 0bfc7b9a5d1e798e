// Start-up on fake sysfs trees with the Linux platform: what discovery leaves
// in the adapter table and what start-up does around the backend.
#include <gtest/gtest.h>

#include <string>

#include "api/startup.h"
#include "api/state.h"
#include "support/fake_sysfs.h"
#include "support/test_env.h"
#include "zxdisplay.h"

namespace {

using zxtest::addPciDevice;
using zxtest::nvidiaCard;

class StartUpTest : public ::testing::Test {
protected:
    void TearDown() override {
        zx::state() = zx::LibraryState{};
    }
    const zx::AdapterTable& table() { return zx::state().table; }
};

TEST_F(StartUpTest, TwoAdaptersAreOrderedByBusWhileTheirIdentitiesStay) {
    // Enumerated bus 4 first (domain 0), then bus 1 (domain 1).
    addPciDevice(nvidiaCard("0000:04:00.0", 0x0611, 0xA102));
    addPciDevice(nvidiaCard("0001:01:00.0", 0x0611, 0xA103));
    ZXInitLib();
    ASSERT_EQ(table().count, 2u);
    EXPECT_EQ(table().location[0].bus, 1u);
    EXPECT_EQ(table().location[1].bus, 4u);
    EXPECT_STREQ(table().subsystemId[0], "A102");
    EXPECT_STREQ(table().subsystemId[1], "A103");
}

TEST_F(StartUpTest, BusesAboveNineAreReadWhole) {
    addPciDevice(nvidiaCard("0000:1a:00.0"));
    addPciDevice(nvidiaCard("0000:65:00.1"));
    ZXInitLib();
    ASSERT_EQ(table().count, 2u);
    EXPECT_EQ(table().location[0].bus, 26u);
    EXPECT_EQ(table().location[1].bus, 101u);
    EXPECT_EQ(table().location[1].function, 1u);
}

TEST_F(StartUpTest, TheThirdAdapterNeverMoves) {
    addPciDevice(nvidiaCard("0000:05:00.0"));
    addPciDevice(nvidiaCard("0000:06:00.0"));
    addPciDevice(nvidiaCard("0001:01:00.0"));
    ZXInitLib();
    ASSERT_EQ(table().count, 3u);
    EXPECT_EQ(table().location[0].bus, 5u);
    EXPECT_EQ(table().location[1].bus, 6u);
    EXPECT_EQ(table().location[2].bus, 1u);
}

TEST_F(StartUpTest, CardIdsNameTheModelOfEachEntry) {
    addPciDevice(nvidiaCard("0000:01:00.0", 0x0611, 0xA102, 0x7A3C));
    ZXInitLib();
    EXPECT_STREQ(zx::state().cardIds[0], "10DE_0611_A102_7A3C");
}

TEST_F(StartUpTest, AFailedBackendStartLeavesNoVendorChosenAndNoTemporaryProfile) {
    addPciDevice(nvidiaCard("0000:01:00.0"));
    // No simulated NVAPI is reachable from this process's library path entry
    // unless its scenario has GPUs; an empty scenario fails enumeration.
    setenv("ZXSIM_NVAPI_SCENARIO", "/nonexistent", 1);
    EXPECT_EQ(ZXInitLib(), ZX_STATUS_FAILED);
    EXPECT_EQ(zx::state().vendorKind, zx::VendorKind::None);
    std::uint32_t count = 7;
    EXPECT_EQ(ZXGetGpuCount(&count), ZX_STATUS_NOT_INITIALISED);
    EXPECT_FALSE(zxtest::fileExists(zxtest::homeDir() + "/Documents/temp/VGA.ini"));
    EXPECT_TRUE(zxtest::fileExists(zxtest::homeDir() + "/Documents/temp"));
}

TEST_F(StartUpTest, MixedCardModelsAreRefusedWithoutChoosingAVendor) {
    addPciDevice(nvidiaCard("0000:01:00.0", 0x0611, 0xA102));
    addPciDevice(nvidiaCard("0000:02:00.0", 0x0611, 0xA103));
    EXPECT_EQ(ZXInitLib(), ZX_STATUS_ADAPTER_MISMATCH);
    EXPECT_EQ(zx::state().vendorKind, zx::VendorKind::None);
    EXPECT_EQ(table().count, 2u);
}

}  // namespace
