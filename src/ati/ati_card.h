// Card access shared by the ATI operations: the overdrive parameters and the
// performance level table of one GPU, read and written through the display
// library. Every function fails when its entry point is absent.
#pragma once

#include <cstdint>

#include "ati/atidl_types.h"

namespace zx::ati {

// The level table as the library exchanges it: the header, then n rows.
struct LevelTable {
    AtiOdPerformanceLevels header{};
    AtiOdPerformanceLevel rows[kMaxLibraryLevels]{};
    std::uint32_t count = 0;  // n; not part of what the library sees
};
static_assert(offsetof(LevelTable, rows) == sizeof(AtiOdPerformanceLevels));

// Fails also when the level count is negative or above what the library can
// hold, so that no buffer is ever sized from a count not to be believed.
bool readOdParameters(PciLocation* location, AtiOdParameters& od);
// Reads the n rows in force (defaults false) or the card's defaults.
bool readLevels(PciLocation* location, const AtiOdParameters& od, bool defaults, LevelTable& table);
bool writeLevels(PciLocation* location, LevelTable& table);
// The GPU's current activity (level, voltage, usage).
bool readActivity(PciLocation* location, AtiPmActivity& activity);

// Library clocks are in 10 kHz units.
constexpr std::uint32_t libraryClockToMHz(std::int32_t clock) { return static_cast<std::uint32_t>(clock) / 100; }

}  // namespace zx::ati
