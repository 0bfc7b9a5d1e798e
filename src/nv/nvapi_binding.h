// The NVAPI binding: loads the driver's NVAPI library once, initialises it and
// resolves the operations the library uses. Entries the driver does not
// supply stay on a stub that answers kMissingBeforeInit until NVAPI has been
// initialised and kMissingAfterInit from then on.
#pragma once

#include <cstdint>

#include "nv/nvapi_types.h"
#include "platform/platform.h"

namespace zx::nv {

inline constexpr NvStatus kMissingBeforeInit = -4;
inline constexpr NvStatus kMissingAfterInit = -3;

// Binding results.
inline constexpr std::int32_t kBindOk = 0;
inline constexpr std::int32_t kBindNoInterface = -1;
inline constexpr std::int32_t kBindNoLibrary = -2;

// The library's name on this platform, loaded through the system's search.
const char* nvapiLibraryName();

struct NvapiBinding {
    std::uint32_t initialised = 0;
    std::int32_t result = 0;
    platform::NativeHandle library = 0;

    NvEnumPhysicalGpusFn enumPhysicalGpus;
    NvGetBusIdFn getBusId;
    NvGetPerfClocksFn getPerfClocks;
    NvSetPerfClocksFn setPerfClocks;
    NvGetThermalSettingsFn getThermalSettings;
    NvGetCoolerSettingsFn getCoolerSettings;
    NvSetCoolerLevelsFn setCoolerLevels;
    NvRestoreCoolerSettingsFn restoreCoolerSettings;
    NvI2cReadFn i2cRead;
    NvI2cWriteFn i2cWrite;

    NvapiBinding();
};

// The process-wide binding.
NvapiBinding& nvapi();

// One binding attempt: 0 at once when already initialised; otherwise loads,
// initialises and resolves. A failed attempt leaves the binding unbound so a
// later start-up tries again. The library stays loaded for the life of the
// process.
std::int32_t bindNvapi(platform::Platform& os);

// Releases the library and forgets the binding, so that a start-up that
// failed leaves no driver library loaded; the next start-up binds afresh.
void unloadNvapi(platform::Platform& os);

// Forgets the binding (tests only; a loaded library is not released).
void resetNvapiBinding();

}  // namespace zx::nv
