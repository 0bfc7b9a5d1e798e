// The ATI display library binding: the loaded library, its twelve entry
// points (each may be absent), the adapter index every call passes, and the
// GPU count and PCI locations taken from the adapter table. Written while
// binding; afterwards only the extended-path-unconfirmed flag changes.
#pragma once

#include <cstdint>

#include "core/types.h"
#include "ati/atidl_types.h"
#include "platform/platform.h"

namespace zx::ati {

struct AtiBinding {
    platform::NativeHandle library = 0;

    AtiGetOdParametersFn getOdParameters = nullptr;
    AtiGetPmCurrentActivityFn getPmCurrentActivity = nullptr;
    AtiGetOdPerformanceLevelsFn getOdPerformanceLevels = nullptr;
    AtiSetOdPerformanceLevelsFn setOdPerformanceLevels = nullptr;
    AtiGetTemperatureFn getTemperature = nullptr;
    AtiWriteAndReadI2cFn writeAndReadI2c = nullptr;
    AtiWriteAndReadI2cExFn writeAndReadI2cEx = nullptr;
    AtiGetAdapterIdFn getAdapterId = nullptr;
    AtiGetFanSpeedInfoFn getFanSpeedInfo = nullptr;
    AtiGetFanSpeedFn getFanSpeed = nullptr;
    AtiSetFanSpeedFn setFanSpeed = nullptr;
    AtiSetFanSpeedToDefaultFn setFanSpeedToDefault = nullptr;

    std::int32_t adapterIndex = -1;
    std::uint32_t gpuCount = 0;
    PciLocation locations[kMaxAdapters] = {};
    // Set while no transfer has gone through the extended I2C path: only that
    // path reaches a particular GPU.
    std::uint32_t extendedPathUnconfirmed = 1;
};

// The library's names on this platform, in the order they are tried.
const char* atiLibraryName();
const char* atiLibraryFallbackName();

AtiBinding& atiBinding();

// Binds from the start: any earlier library is released, the library loaded
// again, the entry points resolved and the display devices walked for the
// adapter index. Ok when the library is loaded and an adapter was found.
StatusCode bindAti(const AdapterTable& table, platform::Platform& os);

// Releases the library; the binding is empty afterwards.
StatusCode unbindAti(platform::Platform& os);

// The location handed to the library for a GPU index; nullptr when the index
// names no GPU of the binding.
PciLocation* gpuLocation(std::uint32_t gpu);

}  // namespace zx::ati
