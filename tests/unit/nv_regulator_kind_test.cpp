// How start-up decides the regulator kind, and the voltages the profile reader
// seeds in the store for registry-voltage cards (simulated driver, Linux platform).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nv_store.h"
#include "nv/nvapi_binding.h"
#include "platform/platform.h"
#include "support/nvsim.h"
#include "support/test_env.h"

namespace {

using zx::nv::NvBackend;
using zx::nv::nvState;
using zx::nv::RegulatorKind;

zx::AdapterTable tableFor(const char* vendor, const char* device, const char* subsys, const char* subsysVendor) {
    zx::AdapterTable t{};
    t.count = 1;
    t.kind[0] = 2;
    std::strcpy(t.vendorId[0], vendor);
    std::strcpy(t.deviceId[0], device);
    std::strcpy(t.subsystemId[0], subsys);
    std::strcpy(t.subsystemVendorId[0], subsysVendor);
    return t;
}

class NvRegulatorKindTest : public ::testing::Test {
protected:
    void SetUp() override { nvState() = zx::nv::NvState{}; }
    void TearDown() override { nvState() = zx::nv::NvState{}; }

    void start(const std::string& scenario, const zx::AdapterTable& table) {
        ASSERT_EQ(sim.load(scenario), 0) << sim.lastError();
        ASSERT_EQ(NvBackend::instance().startUp(table), zx::StatusCode::Ok);
    }
    void readProfile(const std::string& keys) {
        const zx::ini::Profile profile("[10DE_0611_A102_7A3C]\n" + keys);
        ASSERT_EQ(NvBackend::instance().readProfile("10DE_0611_A102_7A3C", profile), zx::StatusCode::Ok);
    }
    bool stored(const std::string& key, const char* name, std::string& text) {
        std::uint8_t data[64] = {};
        std::uint32_t type = 0;
        std::uint32_t size = sizeof data;
        if (zx::platform::native().storeQuery(key, name, &type, data, &size) != zx::platform::StoreResult::Ok) {
            return false;
        }
        EXPECT_EQ(type, zx::platform::kRegSz);
        text.assign(reinterpret_cast<const char*>(data), size);
        return true;
    }

    zxtest::nvsim::Simulator sim;
    const std::string listedKey = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\10DE_0611_A102_7A3C\\";
};

// A pin controller answering the probe wins over the card list; listed cards
// (any case) seed the store from their profile, a key absent from it leaves the
// stored value, and an earlier card's key does not outlive a new start-up.
TEST_F(NvRegulatorKindTest, KindKeyAndStoredVoltages) {
    const std::string controller = "gpu bus=1\ni2c addr=0x3E reg=0x20 value=0x95\n";
    const std::string lowerKey = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\10de_0611_a102_7a3c\\";
    struct Case {
        const char* what;
        std::string scenario;
        zx::AdapterTable table;
        const char* profile;
        RegulatorKind kind;
        std::string key;
        const char* start;    // stored GPUVoltageStart afterwards; nullptr: no key at all
        const char* current;  // stored GPUVoltageCurrent afterwards
    };
    const Case cases[] = {
        {"probe answered", controller, tableFor("10DE", "0611", "A102", "7A3C"), "GPUVoltageStart=1300\n",
         RegulatorKind::PinController, "", nullptr, nullptr},
        {"other card", "gpu bus=1\n", tableFor("10DE", "0611", "A104", "7A3C"), "GPUVoltageStart=1300\n",
         RegulatorKind::None, "", nullptr, nullptr},
        {"listed card in lower case, wrong identification", "gpu bus=1\ni2c addr=0x3E reg=0x20 value=0x94\n",
         tableFor("10de", "0611", "a102", "7a3c"), "GPUVoltageStart=1300\nGPUVoltageCurrent=-25\n",
         RegulatorKind::RegistryVoltage, lowerKey, "1300", "-25"},
        {"no current voltage in the file", "gpu bus=1\n", tableFor("10DE", "0611", "A102", "7A3C"),
         "GPUVoltageStart=1000\n", RegulatorKind::RegistryVoltage, listedKey, "1000", "-25"},
        {"controller after a listed card", controller, tableFor("10DE", "0611", "A102", "7A3C"),
         "GPUVoltageStart=1100\n", RegulatorKind::PinController, "", "1000", "-25"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        start(c.scenario, c.table);
        readProfile(c.profile);
        EXPECT_EQ(nvState().regulatorKind, c.kind);
        EXPECT_EQ(nvState().cardRegistryKey, c.key);
        std::string text;
        if (c.start == nullptr) {
            EXPECT_FALSE(zx::platform::native().storeKeyExists(listedKey));
            continue;
        }
        ASSERT_TRUE(stored(listedKey, "GPUVoltageStart", text));
        EXPECT_EQ(text, std::string(c.start) + '\0');
        ASSERT_TRUE(stored(listedKey, "GPUVoltageCurrent", text));
        EXPECT_EQ(text, std::string(c.current) + '\0');
    }
}

TEST_F(NvRegulatorKindTest, ASecondProfileReadingStartsAfresh) {
    start("gpu bus=1\n", tableFor("10DE", "0611", "A104", "7A3C"));
    readProfile("GPUVoltageMin= 800\nDefaultGPUVoltage3D=-1\nCanSet2DAs3DClock=1\n");
    EXPECT_EQ(nvState().profile.GPUVoltageMin, 800u);
    EXPECT_EQ(nvState().profile.DefaultGPUVoltage3D, 0xFFFFFFFFu);
    readProfile("GPUVoltageMax=5\n");
    EXPECT_EQ(nvState().profile.GPUVoltageMin, 0u);
    EXPECT_EQ(nvState().profile.CanSet2DAs3DClock, 0u);
}

}  // namespace
