// One-byte register transactions with the regulator's pin controller over the
// GPU's own I2C port. Statuses are not examined: a read that fails leaves the
// preset byte, a write that fails goes unnoticed.
#pragma once

#include <cstdint>

#include "nv/nvapi_types.h"

namespace zx::nv::regulator {

// Device address bytes (7-bit address shifted left, write bit clear).
inline constexpr std::uint8_t kPinControllerAddress = 0x3E;
inline constexpr std::uint8_t kRegistryRegulatorAddress = 0x6E;

inline constexpr std::uint8_t kIdentificationRegister = 0x20;
inline constexpr std::uint8_t kPinControllerId = 0x95;

std::uint8_t i2cRead(NvGpuHandle gpu, std::uint8_t device, std::uint8_t reg, std::uint8_t preset);
void i2cWrite(NvGpuHandle gpu, std::uint8_t device, std::uint8_t reg, std::uint8_t value);

// True when the pin controller at kPinControllerAddress identifies itself.
bool probeRegulator(NvGpuHandle gpu);

}  // namespace zx::nv::regulator
