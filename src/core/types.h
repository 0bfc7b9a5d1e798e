// Values and records the exports exchange with callers, under the names the
// library code uses. The byte layouts are those of the public C header.
#pragma once

#include <cstdint>

#include "zxdisplay.h"

namespace zx {

enum class StatusCode : std::uint32_t {
    Ok = 0,
    Failed = 1,
    NotSupported = 2,
    NotInitialised = 3,
    LockedByOther = 4,
    AdapterMismatch = 5,
};

enum class VendorKind : std::uint32_t {
    None = 0,
    Ati = 1,
    Nvidia = 2,
};

enum class LockStatus : std::uint32_t {
    Unlocked = 0,
    HeldHere = 1,
    HeldElsewhere = 2,
};

namespace ControlMode {
inline constexpr std::uint32_t GpuVoltage = ZX_CONTROL_GPU_VOLTAGE;
inline constexpr std::uint32_t GpuClock = ZX_CONTROL_GPU_CLOCK;
inline constexpr std::uint32_t MemoryVoltage = ZX_CONTROL_MEMORY_VOLTAGE;
inline constexpr std::uint32_t MemoryClock = ZX_CONTROL_MEMORY_CLOCK;
inline constexpr std::uint32_t ShaderClock = ZX_CONTROL_SHADER_CLOCK;
inline constexpr std::uint32_t PwmClock = ZX_CONTROL_PWM_CLOCK;
inline constexpr std::uint32_t DacLevel = ZX_CONTROL_DAC_LEVEL;
inline constexpr std::uint32_t Set2DAs3DClock = ZX_CONTROL_SET_2D_AS_3D_CLOCK;
}  // namespace ControlMode

using PciLocation = ZXPciLocation;
using AdapterInfoRecord = ZXAdapterInfoRecord;
// The library's own table has the byte layout of the record it hands out.
using AdapterTable = ZXAdapterInfoRecord;
using RangeInfo = ZXRangeInfo;
using LevelValues = ZXLevelValues;
using VgaInfoDescription = ZXVgaInfoDescription;

inline constexpr std::uint32_t kMaxAdapters = 3;
inline constexpr std::uint32_t kMaxLevels = 4;
inline constexpr std::uint32_t kMaxDescriptions = 10;
inline constexpr std::uint32_t kDescriptionSize = 40;
// "VVVV_DDDD_SSSS_BBBB" and its terminator.
inline constexpr std::uint32_t kCardIdSize = 20;

constexpr std::uint32_t toU32(StatusCode s) { return static_cast<std::uint32_t>(s); }

}  // namespace zx
