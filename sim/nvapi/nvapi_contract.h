// The driver's side of NVAPI as the simulator offers it: interface IDs,
// operation signatures and record layouts, written out here on their own so
// that a mistake in the library's declarations is not mirrored by the
// simulator. On a 32-bit build the records have the driver's 32-bit layouts;
// on a 64-bit build the same fields in order in their natural C layout.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ZXSIM_NVAPI_CALL __cdecl
#else
#define ZXSIM_NVAPI_CALL
#endif

namespace zxsim::nv {

using NvStatus = std::int32_t;
using NvGpuHandle = void*;

inline constexpr std::uint32_t kMaxPhysicalGpus = 64;

namespace NvapiId {
inline constexpr std::uint32_t Initialize = 0x0150E828;
inline constexpr std::uint32_t EnumPhysicalGpus = 0xE5AC921F;
inline constexpr std::uint32_t GetBusId = 0x1BE0B8E5;
inline constexpr std::uint32_t GetPerfClocks = 0x1EA54A3B;
inline constexpr std::uint32_t SetPerfClocks = 0x07BCF4AC;
inline constexpr std::uint32_t GetThermalSettings = 0xE3640A56;
inline constexpr std::uint32_t GetCoolerSettings = 0xDA141340;
inline constexpr std::uint32_t SetCoolerLevels = 0x891FA0AE;
inline constexpr std::uint32_t RestoreCoolerSettings = 0x8F6ED0FB;
inline constexpr std::uint32_t I2cRead = 0x4D7B0709;
inline constexpr std::uint32_t I2cWrite = 0x283AC65A;
}  // namespace NvapiId

inline constexpr std::uint32_t kClockEntryApply = 0x1;

struct NvClockEntry {
    std::uint32_t domainId;      // 0 graphics, 4 memory, 7 processor
    std::uint32_t reserved;
    std::uint32_t frequencyKHz;
    std::uint32_t defaultKHz;
    std::uint32_t minKHz;
    std::uint32_t maxKHz;
    std::uint32_t flags;         // kClockEntryApply: apply this entry
};
static_assert(sizeof(NvClockEntry) == 28);
static_assert(offsetof(NvClockEntry, frequencyKHz) == 8 && offsetof(NvClockEntry, flags) == 24);

inline constexpr std::uint32_t kMaxClockEntries = 387;  // (10868 - 28) / 28

struct NvPerfClocksRecord {
    std::uint32_t version;
    std::uint32_t levelCount;
    std::uint32_t currentLevel;
    std::uint32_t entryCount;
    std::uint8_t reserved[12];
    NvClockEntry entries[kMaxClockEntries];
    std::uint8_t tail[4];
};
static_assert(sizeof(NvPerfClocksRecord) == 10868);
static_assert(offsetof(NvPerfClocksRecord, entryCount) == 12 && offsetof(NvPerfClocksRecord, entries) == 28);
inline constexpr std::uint32_t kPerfClocksVersion = 0x12A74;

struct NvThermalSensor {
    std::uint32_t controller;
    std::uint32_t defaultMinTemp;
    std::uint32_t defaultMaxTemp;
    std::uint32_t currentTemp;
    std::uint32_t target;
};
struct NvThermalRecord {
    std::uint32_t version;
    std::uint32_t sensorCount;
    NvThermalSensor sensors[3];
};
static_assert(sizeof(NvThermalRecord) == 68);
static_assert(offsetof(NvThermalRecord, sensors) + offsetof(NvThermalSensor, currentTemp) == 20);
inline constexpr std::uint32_t kThermalVersion = 0x10044;

inline constexpr std::uint32_t kCoolerTypeFan = 1;
inline constexpr std::uint32_t kCoolerTargetGpu = 1;
inline constexpr std::uint32_t kMaxCoolers = 3;
inline constexpr std::uint32_t kCoolerSelectorAll = 7;

struct NvCoolerRow {
    std::uint32_t type;
    std::uint32_t controller;
    std::uint32_t defaultMinLevel;
    std::uint32_t defaultMaxLevel;
    std::uint32_t currentMinLevel;
    std::uint32_t currentMaxLevel;
    std::uint32_t currentLevel;
    std::uint32_t defaultPolicy;
    std::uint32_t currentPolicy;
    std::uint32_t target;
    std::uint32_t controlType;
    std::uint32_t active;
};
static_assert(sizeof(NvCoolerRow) == 48);
static_assert(offsetof(NvCoolerRow, currentMinLevel) == 16 && offsetof(NvCoolerRow, currentMaxLevel) == 20 &&
              offsetof(NvCoolerRow, currentLevel) == 24 && offsetof(NvCoolerRow, target) == 36);
struct NvCoolerRecord {
    std::uint32_t version;
    std::uint32_t count;
    NvCoolerRow coolers[kMaxCoolers];
};
static_assert(sizeof(NvCoolerRecord) == 152 && offsetof(NvCoolerRecord, coolers) == 8);
inline constexpr std::uint32_t kCoolerVersion = 0x10098;

struct NvCoolerLevelsRecord {
    std::uint32_t version;
    struct {
        std::uint32_t level;
        std::uint32_t policy;
    } coolers[kMaxCoolers];
};
static_assert(sizeof(NvCoolerLevelsRecord) == 28);
inline constexpr std::uint32_t kCoolerLevelsVersion = 0x1001C;

struct NvI2cTransfer {
    std::uint32_t version;
    std::uint32_t displayMask;
    std::uint8_t isDdcPort;
    std::uint8_t deviceAddress;
    std::uint8_t alignment[2];
    std::uint8_t* registerAddress;
    std::uint32_t registerAddressSize;
    std::uint8_t* data;
    std::uint32_t dataSize;
    std::uint32_t speed;
};
static_assert(offsetof(NvI2cTransfer, isDdcPort) == 8 && offsetof(NvI2cTransfer, deviceAddress) == 9);
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(NvI2cTransfer) == 32 && offsetof(NvI2cTransfer, registerAddress) == 12 &&
              offsetof(NvI2cTransfer, data) == 20 && offsetof(NvI2cTransfer, speed) == 28);
inline constexpr std::uint32_t kI2cVersion = 0x10020;
#else
static_assert(sizeof(NvI2cTransfer) == 48 && offsetof(NvI2cTransfer, registerAddress) == 16 &&
              offsetof(NvI2cTransfer, data) == 32 && offsetof(NvI2cTransfer, speed) == 44);
inline constexpr std::uint32_t kI2cVersion = 0x10030;
#endif
inline constexpr std::uint32_t kI2cSpeed = 28;

using NvQueryInterfaceFn = void*(ZXSIM_NVAPI_CALL*)(std::uint32_t id);
using NvInitializeFn = NvStatus(ZXSIM_NVAPI_CALL*)();
using NvEnumPhysicalGpusFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle handles[kMaxPhysicalGpus], std::uint32_t* count);
using NvGetBusIdFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t* bus);
using NvGetPerfClocksFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t selector, NvPerfClocksRecord* rec);
using NvSetPerfClocksFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t selector, NvPerfClocksRecord* rec);
using NvGetThermalSettingsFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t sensor, NvThermalRecord* rec);
using NvGetCoolerSettingsFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t selector, NvCoolerRecord* rec);
using NvSetCoolerLevelsFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t index, NvCoolerLevelsRecord* rec);
using NvRestoreCoolerSettingsFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t* indices,
                                                              std::uint32_t count);
using NvI2cReadFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, NvI2cTransfer* transfer, std::uint32_t* one);
using NvI2cWriteFn = NvStatus(ZXSIM_NVAPI_CALL*)(NvGpuHandle gpu, NvI2cTransfer* transfer, std::uint32_t* one);

inline constexpr const char* kQueryInterfaceSymbol = "nvapi_QueryInterface";

}  // namespace zxsim::nv
