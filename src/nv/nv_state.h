// What the NVIDIA backend knows: the state taken from the driver at start-up
// and the card profile taken from the card data file. Written only inside
// ZXInitLib, read by every NVIDIA operation.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "nv/nvapi_types.h"

namespace zx::nv {

// How the card's voltage regulator is driven.
enum class RegulatorKind : std::uint32_t {
    None = 0,
    PinController = 1,   // the pin controller answered the I2C probe
    RegistryVoltage = 2, // the card model keeps its voltage in the user store
};

inline constexpr std::size_t kRegistryKeySize = 260;

struct NvCardProfile {
    std::uint32_t GPUVoltageMax = 0;
    std::uint32_t GPUVoltageMin = 0;
    std::uint32_t GPUVoltageStep = 0;
    std::uint32_t MemoryVoltageMax = 0;
    std::uint32_t MemoryVoltageMin = 0;
    std::uint32_t MemoryVoltageStep = 0;
    std::uint32_t PWMClockMax = 0;
    std::uint32_t PWMClockMin = 0;
    std::uint32_t PWMClockStep = 0;
    std::uint32_t DefaultPWMLevel = 0;
    std::uint32_t DefaultMemoryVoltageLevel2D = 0;
    std::uint32_t DefaultMemoryVoltageLevel3D = 0;
    std::uint32_t DefaultGPUVoltage2D = 0;
    std::uint32_t DefaultGPUVoltage3D = 0;
    std::uint32_t CanSet2DAs3DClock = 0;
    std::uint32_t descriptionCount = 0;
    char descriptions[kMaxDescriptions][kDescriptionSize] = {};
};

struct NvState {
    NvGpuHandle gpuHandles[kMaxPhysicalGpus] = {};
    std::uint32_t gpuCount = 0;
    std::uint32_t levelCount = 0;
    RegulatorKind regulatorKind = RegulatorKind::None;
    char cardRegistryKey[kRegistryKeySize] = {};
    NvCardProfile profile;
};

NvState& nvState();

// The handle of a GPU index, or nullptr when the index names no GPU.
NvGpuHandle gpuHandle(std::uint32_t gpu);

}  // namespace zx::nv
