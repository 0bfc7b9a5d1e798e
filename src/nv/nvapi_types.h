// The part of NVAPI the library uses: interface IDs, operation signatures and
// the versioned records. On a 32-bit build the records have exactly the
// driver's 32-bit layouts; on a 64-bit build they keep the same fields in
// order in their natural C layout (pointers are 64-bit), as the 64-bit driver
// library expects. Every version word is the record's size in this build in
// the low 16 bits with version 1 above.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(_WIN32)
#define ZX_NVAPI_CALL __cdecl
#else
#define ZX_NVAPI_CALL
#endif

namespace zx::nv {

using NvStatus = std::int32_t;
// Opaque physical-GPU handle handed out by the driver.
using NvGpuHandle = void*;

inline constexpr std::uint32_t kMaxPhysicalGpus = 64;

// Interface IDs understood by nvapi_QueryInterface.
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

constexpr std::uint32_t recordVersion(std::size_t size) {
    return static_cast<std::uint32_t>(size) | (1u << 16);
}

// Clock domains of NvClockEntry::domainId.
namespace ClockDomain {
inline constexpr std::uint32_t Graphics = 0;
inline constexpr std::uint32_t Memory = 4;
inline constexpr std::uint32_t Processor = 7;
}  // namespace ClockDomain

inline constexpr std::uint32_t kClockEntryApply = 0x1;

struct NvClockEntry {
    std::uint32_t domainId;
    std::uint32_t reserved;
    std::uint32_t frequencyKHz;  // of the selected level; written by setters
    std::uint32_t defaultKHz;
    std::uint32_t minKHz;
    std::uint32_t maxKHz;
    std::uint32_t flags;         // kClockEntryApply marks entries to apply
};
static_assert(sizeof(NvClockEntry) == 28);

inline constexpr std::size_t kPerfClocksRecordSize = 10868;
inline constexpr std::size_t kPerfClocksEntriesOffset = 28;
// As many entries as fit in the record.
inline constexpr std::uint32_t kMaxClockEntries =
    static_cast<std::uint32_t>((kPerfClocksRecordSize - kPerfClocksEntriesOffset) / sizeof(NvClockEntry));

struct NvPerfClocksRecord {
    std::uint32_t version;
    std::uint32_t levelCount;
    std::uint32_t currentLevel;
    std::uint32_t entryCount;
    std::uint8_t reserved[12];
    NvClockEntry entries[kMaxClockEntries];
    std::uint8_t tail[kPerfClocksRecordSize - kPerfClocksEntriesOffset - kMaxClockEntries * sizeof(NvClockEntry)];
};
static_assert(sizeof(NvPerfClocksRecord) == kPerfClocksRecordSize);
static_assert(offsetof(NvPerfClocksRecord, entries) == kPerfClocksEntriesOffset);
inline constexpr std::uint32_t kPerfClocksVersion = recordVersion(sizeof(NvPerfClocksRecord));
static_assert(kPerfClocksVersion == 0x12A74);

struct NvThermalSensor {
    std::uint32_t controller;
    std::uint32_t defaultMinTemp;
    std::uint32_t defaultMaxTemp;
    std::uint32_t currentTemp;  // whole degrees Celsius
    std::uint32_t target;
};

struct NvThermalRecord {
    std::uint32_t version;
    std::uint32_t sensorCount;
    NvThermalSensor sensors[3];
};
static_assert(sizeof(NvThermalRecord) == 68);
static_assert(offsetof(NvThermalRecord, sensors) + offsetof(NvThermalSensor, currentTemp) == 20);
inline constexpr std::uint32_t kThermalVersion = recordVersion(sizeof(NvThermalRecord));
static_assert(kThermalVersion == 0x10044);

inline constexpr std::uint32_t kCoolerTypeFan = 1;
inline constexpr std::uint32_t kCoolerTargetGpu = 1;
inline constexpr std::uint32_t kCoolerTargetAll = 7;
inline constexpr std::uint32_t kMaxCoolers = 3;

struct NvCoolerRow {
    std::uint32_t type;           // kCoolerTypeFan
    std::uint32_t controller;
    std::uint32_t defaultMinLevel;
    std::uint32_t defaultMaxLevel;
    std::uint32_t currentMinLevel;
    std::uint32_t currentMaxLevel;
    std::uint32_t currentLevel;
    std::uint32_t defaultPolicy;
    std::uint32_t currentPolicy;
    std::uint32_t target;         // kCoolerTargetGpu or kCoolerTargetAll for the GPU fan
    std::uint32_t controlType;
    std::uint32_t active;
};
static_assert(sizeof(NvCoolerRow) == 48);
static_assert(offsetof(NvCoolerRow, currentMinLevel) == 16);
static_assert(offsetof(NvCoolerRow, currentMaxLevel) == 20);
static_assert(offsetof(NvCoolerRow, currentLevel) == 24);
static_assert(offsetof(NvCoolerRow, target) == 36);

struct NvCoolerRecord {
    std::uint32_t version;
    std::uint32_t count;
    NvCoolerRow coolers[kMaxCoolers];
};
static_assert(sizeof(NvCoolerRecord) == 152);
inline constexpr std::uint32_t kCoolerVersion = recordVersion(sizeof(NvCoolerRecord));
static_assert(kCoolerVersion == 0x10098);

inline constexpr std::uint32_t kCoolerPolicyManual = 1;
// The cooler selector that asks for every cooler.
inline constexpr std::uint32_t kCoolerSelectorAll = 7;

struct NvCoolerLevelsRecord {
    std::uint32_t version;
    struct {
        std::uint32_t level;
        std::uint32_t policy;
    } coolers[kMaxCoolers];
};
static_assert(sizeof(NvCoolerLevelsRecord) == 28);
inline constexpr std::uint32_t kCoolerLevelsVersion = recordVersion(sizeof(NvCoolerLevelsRecord));
static_assert(kCoolerLevelsVersion == 0x1001C);

struct NvI2cTransfer {
    std::uint32_t version;
    std::uint32_t displayMask;
    std::uint8_t isDdcPort;      // 0: the GPU's own I2C port
    std::uint8_t deviceAddress;  // 7-bit address shifted left, write bit clear
    std::uint8_t alignment[2];
    std::uint8_t* registerAddress;
    std::uint32_t registerAddressSize;
    std::uint8_t* data;
    std::uint32_t dataSize;
    std::uint32_t speed;
};
inline constexpr std::uint32_t kI2cVersion = recordVersion(sizeof(NvI2cTransfer));
#if UINTPTR_MAX == 0xFFFFFFFFu
static_assert(sizeof(NvI2cTransfer) == 32 && kI2cVersion == 0x10020);
static_assert(offsetof(NvI2cTransfer, registerAddress) == 12 && offsetof(NvI2cTransfer, speed) == 28);
#else
static_assert(sizeof(NvI2cTransfer) == 48 && kI2cVersion == 0x10030);
static_assert(offsetof(NvI2cTransfer, registerAddress) == 16 && offsetof(NvI2cTransfer, data) == 32 &&
              offsetof(NvI2cTransfer, speed) == 44);
#endif
inline constexpr std::uint32_t kI2cSpeed = 28;

// Operation signatures.
using NvQueryInterfaceFn = void*(ZX_NVAPI_CALL*)(std::uint32_t id);
using NvInitializeFn = NvStatus(ZX_NVAPI_CALL*)();
using NvEnumPhysicalGpusFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle handles[kMaxPhysicalGpus], std::uint32_t* count);
using NvGetBusIdFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t* bus);
using NvGetPerfClocksFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t selector, NvPerfClocksRecord* rec);
using NvSetPerfClocksFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t selector, NvPerfClocksRecord* rec);
using NvGetThermalSettingsFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t sensor, NvThermalRecord* rec);
using NvGetCoolerSettingsFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t selector, NvCoolerRecord* rec);
using NvSetCoolerLevelsFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t index, NvCoolerLevelsRecord* rec);
using NvRestoreCoolerSettingsFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, std::uint32_t* indices, std::uint32_t count);
using NvI2cReadFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, NvI2cTransfer* transfer, std::uint32_t* one);
using NvI2cWriteFn = NvStatus(ZX_NVAPI_CALL*)(NvGpuHandle gpu, NvI2cTransfer* transfer, std::uint32_t* one);

inline constexpr const char* kQueryInterfaceSymbol = "nvapi_QueryInterface";

}  // namespace zx::nv
