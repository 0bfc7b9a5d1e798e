// The NVAPI contract pinned from outside: the eleven interface IDs and the
// record sizes and version words, as the driver defines them. Both the
// library's declarations and the simulator's own must match this table, and
// the simulator must answer every ID.
#include <gtest/gtest.h>

#include <cstdint>

#include "nv/nvapi_types.h"
#include "nvapi/nvapi_contract.h"
#include "support/nvsim.h"

namespace {

namespace lib = zx::nv;
namespace drv = zxsim::nv;

struct Id {
    const char* name;
    std::uint32_t expected, library, simulator;
};

TEST(NvapiContract, InterfaceIds) {
    const Id ids[] = {
        {"Initialize", 0x0150E828, lib::NvapiId::Initialize, drv::NvapiId::Initialize},
        {"EnumPhysicalGPUs", 0xE5AC921F, lib::NvapiId::EnumPhysicalGpus, drv::NvapiId::EnumPhysicalGpus},
        {"GetBusId", 0x1BE0B8E5, lib::NvapiId::GetBusId, drv::NvapiId::GetBusId},
        {"GetPerfClocks", 0x1EA54A3B, lib::NvapiId::GetPerfClocks, drv::NvapiId::GetPerfClocks},
        {"SetPerfClocks", 0x07BCF4AC, lib::NvapiId::SetPerfClocks, drv::NvapiId::SetPerfClocks},
        {"GetThermalSettings", 0xE3640A56, lib::NvapiId::GetThermalSettings, drv::NvapiId::GetThermalSettings},
        {"GetCoolerSettings", 0xDA141340, lib::NvapiId::GetCoolerSettings, drv::NvapiId::GetCoolerSettings},
        {"SetCoolerLevels", 0x891FA0AE, lib::NvapiId::SetCoolerLevels, drv::NvapiId::SetCoolerLevels},
        {"RestoreCoolerSettings", 0x8F6ED0FB, lib::NvapiId::RestoreCoolerSettings,
         drv::NvapiId::RestoreCoolerSettings},
        {"I2CRead", 0x4D7B0709, lib::NvapiId::I2cRead, drv::NvapiId::I2cRead},
        {"I2CWrite", 0x283AC65A, lib::NvapiId::I2cWrite, drv::NvapiId::I2cWrite},
    };
    zxtest::nvsim::Simulator sim;
    ASSERT_TRUE(sim.loaded());
    ASSERT_EQ(sim.load(""), 0);  // nothing missing, and no GPU left behind for later tests
    for (const Id& id : ids) {
        EXPECT_EQ(id.library, id.expected) << id.name;
        EXPECT_EQ(id.simulator, id.expected) << id.name;
        EXPECT_NE(sim.query(id.expected), nullptr) << id.name;
    }
    EXPECT_EQ(sim.query(0x12345678), nullptr);
}

struct Record {
    const char* name;
    std::size_t librarySize, simulatorSize, size;
    std::uint32_t libraryVersion, simulatorVersion, version;
};

TEST(NvapiContract, RecordSizesAndVersions) {
    // The I2C record holds two pointers: 32 bytes in the 32-bit layout.
    constexpr std::size_t i2cSize = sizeof(void*) == 4 ? 32 : 48;
    const Record records[] = {
        {"perf clocks", sizeof(lib::NvPerfClocksRecord), sizeof(drv::NvPerfClocksRecord), 10868,
         lib::kPerfClocksVersion, drv::kPerfClocksVersion, 0x12A74},
        {"thermal", sizeof(lib::NvThermalRecord), sizeof(drv::NvThermalRecord), 68, lib::kThermalVersion,
         drv::kThermalVersion, 0x10044},
        {"cooler", sizeof(lib::NvCoolerRecord), sizeof(drv::NvCoolerRecord), 152, lib::kCoolerVersion,
         drv::kCoolerVersion, 0x10098},
        {"cooler levels", sizeof(lib::NvCoolerLevelsRecord), sizeof(drv::NvCoolerLevelsRecord), 28,
         lib::kCoolerLevelsVersion, drv::kCoolerLevelsVersion, 0x1001C},
        {"I2C transfer", sizeof(lib::NvI2cTransfer), sizeof(drv::NvI2cTransfer), i2cSize, lib::kI2cVersion,
         drv::kI2cVersion, static_cast<std::uint32_t>(0x10000 | i2cSize)},
    };
    for (const Record& r : records) {
        EXPECT_EQ(r.librarySize, r.size) << r.name;
        EXPECT_EQ(r.simulatorSize, r.size) << r.name;
        EXPECT_EQ(r.libraryVersion, r.version) << r.name;
        EXPECT_EQ(r.simulatorVersion, r.version) << r.name;
    }
    EXPECT_EQ(lib::kI2cSpeed, 28u);
    EXPECT_EQ(drv::kI2cSpeed, 28u);
}

}  // namespace
