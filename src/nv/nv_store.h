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

// True when a non-empty value was read; out unchanged when the key or value
// is missing or longer than 32 bytes; an empty value gives 0 and false.
bool registryRead(platform::Platform& os, const std::string& keyPath, const char* name, std::uint32_t* out);

// Stores value as REG_SZ decimal text, creating the key when missing.
bool registryWrite(platform::Platform& os, const std::string& keyPath, const char* name, std::int32_t value);

}  // namespace zx::nv
