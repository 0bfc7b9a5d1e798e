// The part of the ATI display library the backend uses: entry-point names,
// signatures and the structures exchanged with them. Every field is a signed
// 32-bit integer except the I2C data pointer. On a 32-bit build the structures
// have exactly the library's 32-bit layouts; on a 64-bit build the pointer is
// native (8 bytes, naturally aligned), which moves it to offset 32 and makes
// the I2C transfer 40 bytes. The size field always holds sizeof in this build.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/types.h"

#if defined(_WIN32)
#define ZX_ATIDL_CALL __cdecl
#else
#define ZX_ATIDL_CALL
#endif

namespace zx::ati {

struct AtiOdParameters {
    std::int32_t size;
    std::int32_t levelCount;
    std::int32_t reserved8;
    std::int32_t reserved12;
    std::int32_t reserved16;
    std::int32_t engineClockMin;  // 10 kHz units
    std::int32_t engineClockMax;
    std::int32_t engineClockStep;
    std::int32_t memoryClockMin;  // 10 kHz units
    std::int32_t memoryClockMax;
    std::int32_t memoryClockStep;
    std::int32_t voltageMin;  // the library's voltage unit
    std::int32_t voltageMax;
    std::int32_t voltageStep;
};
static_assert(sizeof(AtiOdParameters) == 56);
static_assert(offsetof(AtiOdParameters, engineClockMin) == 20);
static_assert(offsetof(AtiOdParameters, voltageStep) == 52);

struct AtiPmActivity {
    std::int32_t size;
    std::int32_t reserved4;
    std::int32_t reserved8;
    std::int32_t currentVoltage;
    std::int32_t activityPercent;
    std::int32_t currentLevel;
    std::int32_t reserved24;
    std::int32_t reserved28;
    std::int32_t reserved32;
    std::int32_t reserved36;
};
static_assert(sizeof(AtiPmActivity) == 40);
static_assert(offsetof(AtiPmActivity, currentVoltage) == 12);
static_assert(offsetof(AtiPmActivity, currentLevel) == 20);

struct AtiOdPerformanceLevel {
    std::int32_t engineClock;  // 10 kHz units
    std::int32_t memoryClock;  // 10 kHz units
    std::int32_t voltage;
};
static_assert(sizeof(AtiOdPerformanceLevel) == 12);

// Header of the variable-length level table: n rows follow it directly.
struct AtiOdPerformanceLevels {
    std::int32_t size;  // 8 + 12 * n
    std::int32_t reserved;
};
static_assert(sizeof(AtiOdPerformanceLevels) == 8);

struct AtiTemperature {
    std::int32_t size;
    std::int32_t milliDegrees;
};
static_assert(sizeof(AtiTemperature) == 8);

struct AtiI2CTransfer {
    std::int32_t size;
    std::int32_t line;
    std::int32_t address;  // 8-bit form, bit 0 set for a read
    std::int32_t offset;   // register
    std::int32_t action;   // kI2cRead or kI2cWrite
    std::int32_t speed;
    std::int32_t dataLength;
    std::uint8_t* data;
};
static_assert(offsetof(AtiI2CTransfer, data) == (sizeof(void*) == 4 ? 28 : 32));
static_assert(sizeof(AtiI2CTransfer) == (sizeof(void*) == 4 ? 32 : 40));

inline constexpr std::int32_t kI2cRead = 1;
inline constexpr std::int32_t kI2cWrite = 2;

struct AtiFanSpeedInfo {
    std::int32_t size;
    std::int32_t flags;
    std::int32_t minPercent;
    std::int32_t maxPercent;
    std::int32_t minRpm;
    std::int32_t maxRpm;
};
static_assert(sizeof(AtiFanSpeedInfo) == 24);
static_assert(offsetof(AtiFanSpeedInfo, maxPercent) == 12);

struct AtiFanSpeedValue {
    std::int32_t size;
    std::int32_t speedType;  // kFanSpeedPercent
    std::int32_t speed;
    std::int32_t flags;      // kFanSpeedRead when reading, 0 when setting
};
static_assert(sizeof(AtiFanSpeedValue) == 16);

inline constexpr std::int32_t kFanSpeedPercent = 1;
inline constexpr std::int32_t kFanSpeedRead = 1;

// The level tables the backend exchanges hold up to this many rows; a count
// beyond it is not believed and the level operations fail. Cards with more
// than four levels report the first four.
inline constexpr std::int32_t kMaxLibraryLevels = 64;

using AtiGetOdParametersFn = int(ZX_ATIDL_CALL*)(int adapter, AtiOdParameters*, PciLocation*);
using AtiGetPmCurrentActivityFn = int(ZX_ATIDL_CALL*)(int adapter, AtiPmActivity*, PciLocation*);
using AtiGetOdPerformanceLevelsFn = int(ZX_ATIDL_CALL*)(int adapter, AtiOdPerformanceLevels*, int defaults,
                                                        PciLocation*);
using AtiSetOdPerformanceLevelsFn = int(ZX_ATIDL_CALL*)(int adapter, AtiOdPerformanceLevels*, PciLocation*);
using AtiGetTemperatureFn = int(ZX_ATIDL_CALL*)(int adapter, int controller, AtiTemperature*, PciLocation*);
using AtiWriteAndReadI2cFn = int(ZX_ATIDL_CALL*)(int adapter, AtiI2CTransfer*);
using AtiWriteAndReadI2cExFn = int(ZX_ATIDL_CALL*)(int adapter, AtiI2CTransfer*, PciLocation*);
using AtiGetAdapterIdFn = int(ZX_ATIDL_CALL*)(int displayIndex, int* id);
using AtiGetFanSpeedInfoFn = int(ZX_ATIDL_CALL*)(int adapter, int fan, AtiFanSpeedInfo*, PciLocation*);
using AtiGetFanSpeedFn = int(ZX_ATIDL_CALL*)(int adapter, int fan, AtiFanSpeedValue*, PciLocation*);
using AtiSetFanSpeedFn = int(ZX_ATIDL_CALL*)(int adapter, int fan, AtiFanSpeedValue*, PciLocation*);
using AtiSetFanSpeedToDefaultFn = int(ZX_ATIDL_CALL*)(int adapter, int fan, PciLocation*);

}  // namespace zx::ati
