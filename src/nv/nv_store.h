// The NVIDIA values kept in the per-user store: signed decimal text of a
// 32-bit integer as REG_SZ, with its terminating NUL.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace zx::nv {

inline constexpr const char* kRegistryKeyFormatPrefix = "SOFTWARE\\ORVANTEK\\PKM\\NV\\Hardware\\";
inline constexpr const char* kGpuVoltageStartValue = "GPUVoltageStart";
inline constexpr const char* kGpuVoltageCurrentValue = "GPUVoltageCurrent";

// The value holding GPU gpu's current voltage on registry-voltage cards: GPU 0
// keeps the name stored files already carry, GPU n adds n
// ("GPUVoltageCurrent1").
std::string gpuVoltageCurrentName(std::uint32_t gpu);
// What a per-GPU value name adds for GPU gpu: nothing for GPU 0, else n.
std::string gpuSuffix(std::uint32_t gpu);

// True when a non-empty value was read; out unchanged when the key or value
// is missing or longer than 32 bytes; an empty value gives 0 and false.
bool registryRead(platform::Platform& os, const std::string& keyPath, const char* name, std::uint32_t* out);

// Stores value as REG_SZ decimal text, creating the key when missing.
bool registryWrite(platform::Platform& os, const std::string& keyPath, const char* name, std::int32_t value);

}  // namespace zx::nv
