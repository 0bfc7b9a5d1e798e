// One-byte register transactions with the regulator's pin controller over the
// GPU's own I2C port. Every transaction reports whether the driver carried it
// out; callers stop at the first one that did not.
#pragma once

#include <cstdint>

#include "nv/nvapi_types.h"

namespace zx::nv::regulator {

// Device address bytes (7-bit address shifted left, write bit clear).
inline constexpr std::uint8_t kPinControllerAddress = 0x3E;
inline constexpr std::uint8_t kRegistryRegulatorAddress = 0x6E;

inline constexpr std::uint8_t kIdentificationRegister = 0x20;
inline constexpr std::uint8_t kPinControllerId = 0x95;

// value is preset by the caller; it holds the byte read when true comes back
// and is left as it was otherwise.
bool i2cRead(NvGpuHandle gpu, std::uint8_t device, std::uint8_t reg, std::uint8_t& value);
bool i2cWrite(NvGpuHandle gpu, std::uint8_t device, std::uint8_t reg, std::uint8_t value);

// True when the pin controller at kPinControllerAddress identifies itself; a
// failed read is no identification.
bool NvProbeRegulator(NvGpuHandle gpu);

}  // namespace zx::nv::regulator
