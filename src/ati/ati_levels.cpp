// Performance levels: their GPU (engine) and memory clocks and the GPU
// voltage, on the profile's voltage scale when the profile defines one.
#include "ati/ati_backend.h"
#include "ati/ati_binding.h"
#include "ati/ati_card.h"
#include "ati/ati_logic.h"
#include "ati/ati_profile.h"

namespace zx::ati {

namespace {

using U = std::uint32_t;

// Levels that fit the caller's record.
U reportedLevels(U n) { return n < kMaxLevels ? n : kMaxLevels; }

// Defaults captured at start-up are on the profile's scale when the profile
// gives both its minimum and its step, else on the card's own; the exports
// report on the profile's scale whenever it has a step.
bool capturedOnProfileScale(const AtiCardProfile& p) { return p.GPUVoltageMin != 0 && p.GPUVoltageStep != 0; }

// The profile's value of the card voltage's level index.
U profileVoltageOf(std::int32_t cardVoltage, const AtiOdParameters& od, const AtiCardProfile& p) {
    const U k = stepOf(static_cast<U>(cardVoltage), static_cast<U>(od.voltageMin),
                                    static_cast<U>(od.voltageStep));
    return valueOfStep(k, p.GPUVoltageMin, p.GPUVoltageStep);
}

// Which clock of a row, of the card's ranges and of the profile's defaults a
// clock operation works on.
struct ClockColumn {
    std::int32_t AtiOdPerformanceLevel::*row;
    std::int32_t AtiOdParameters::*min;
    std::int32_t AtiOdParameters::*max;
    std::int32_t AtiOdParameters::*step;
    U (AtiCardProfile::*defaults)[kProfileDefaultLevels];
};

constexpr ClockColumn kEngine{&AtiOdPerformanceLevel::engineClock, &AtiOdParameters::engineClockMin,
                              &AtiOdParameters::engineClockMax, &AtiOdParameters::engineClockStep,
                              &AtiCardProfile::DefaultGPUClock};
constexpr ClockColumn kMemory{&AtiOdPerformanceLevel::memoryClock, &AtiOdParameters::memoryClockMin,
                              &AtiOdParameters::memoryClockMax, &AtiOdParameters::memoryClockStep,
                              &AtiCardProfile::DefaultMemoryClock};

// The profile's default clock of a level; 0 beyond the levels it keeps.
U defaultClock(const ClockColumn& c, U level) {
    return level < kProfileDefaultLevels ? (atiProfile().*c.defaults)[level] : 0;
}

StatusCode levelClocks(U gpu, const ClockColumn& c, LevelValues* out) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    LevelTable table;
    if (location == nullptr || !readOdParameters(location, od) || !readLevels(location, od, false, table)) {
        return StatusCode::Failed;
    }
    out->count = reportedLevels(table.count);
    for (U i = 0; i < out->count; ++i) {
        out->values[i] = libraryClockToMHz(table.rows[i].*c.row);
    }
    return StatusCode::Ok;
}

StatusCode clockRange(U gpu, const ClockColumn& c, RangeInfo* out) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    out->maximum = libraryClockToMHz(od.*c.max);
    out->minimum = libraryClockToMHz(od.*c.min);
    out->step = libraryClockToMHz(od.*c.step);
    return StatusCode::Ok;
}

// The card has one clock range for all its levels.
StatusCode clockRangeOfLevel(U gpu, U level, const ClockColumn& c, RangeInfo* out) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od) || level >= static_cast<U>(od.levelCount)) {
        return StatusCode::Failed;
    }
    return clockRange(gpu, c, out);
}

StatusCode defaultClocks(U gpu, const ClockColumn& c, LevelValues* out) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    out->count = reportedLevels(static_cast<U>(od.levelCount));
    for (U i = 0; i < out->count; ++i) {
        out->values[i] = defaultClock(c, i) / 100;
    }
    return StatusCode::Ok;
}

StatusCode setLevelClock(U gpu, U level, U mhz, const ClockColumn& c) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    LevelTable table;
    if (location == nullptr || !readOdParameters(location, od) || !readLevels(location, od, false, table) ||
        level >= table.count) {
        return StatusCode::Failed;
    }
    table.rows[level].*c.row = static_cast<std::int32_t>(mhz * 100);
    return writeLevels(location, table) ? StatusCode::Ok : StatusCode::Failed;
}

// Levels beyond those the profile keeps defaults for keep their clock.
StatusCode restoreClocks(U gpu, const ClockColumn& c) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    LevelTable table;
    if (location == nullptr || !readOdParameters(location, od) || !readLevels(location, od, false, table)) {
        return StatusCode::Failed;
    }
    for (U i = 0; i < table.count && i < kProfileDefaultLevels; ++i) {
        table.rows[i].*c.row = static_cast<std::int32_t>(defaultClock(c, i));
    }
    return writeLevels(location, table) ? StatusCode::Ok : StatusCode::Failed;
}

// Sets the voltage of one level (or of all, level nullptr) to the card
// voltage of the requested value's level index on the voltage scale. A
// request that names no index, or an index past the card's own range, is
// refused before anything is written.
StatusCode setVoltage(U gpu, const U* level, U request) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    const AtiCardProfile& p = atiProfile();
    const U cardMin = static_cast<U>(od.voltageMin);
    const U cardMax = static_cast<U>(od.voltageMax);
    const U cardStep = static_cast<U>(od.voltageStep);
    const std::optional<U> index = p.GPUVoltageStep != 0
                                       ? stepOfRequest(request, p.GPUVoltageMin, p.GPUVoltageMax, p.GPUVoltageStep)
                                       : stepOfRequest(request, cardMin, cardMax, cardStep);
    const std::optional<U> cardTop = stepOfRequest(cardMax, cardMin, cardMax, cardStep);
    if (!index || !cardTop || *index > *cardTop) {
        return StatusCode::Failed;
    }
    const auto voltage = static_cast<std::int32_t>(valueOfStep(*index, cardMin, cardStep));
    LevelTable table;
    if (!readLevels(location, od, false, table) || (level != nullptr && *level >= table.count)) {
        return StatusCode::Failed;
    }
    for (U i = 0; i < table.count; ++i) {
        if (level == nullptr || i == *level) {
            table.rows[i].voltage = voltage;
        }
    }
    return writeLevels(location, table) ? StatusCode::Ok : StatusCode::Failed;
}

}  // namespace

StatusCode AtiBackend::getCurrentVoltage(U gpu, U* voltage, U* level) {
    PciLocation* location = gpuLocation(gpu);
    AtiPmActivity activity;
    AtiOdParameters od;
    if (!readActivity(location, activity) || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    const AtiCardProfile& p = atiProfile();
    *level = stepOf(static_cast<U>(activity.currentVoltage), static_cast<U>(od.voltageMin),
                                 static_cast<U>(od.voltageStep));
    *voltage = p.GPUVoltageStep != 0 ? valueOfStep(*level, p.GPUVoltageMin, p.GPUVoltageStep)
                                     : static_cast<U>(activity.currentVoltage);
    return StatusCode::Ok;
}

StatusCode AtiBackend::getPerformanceLevelVoltages(U gpu, LevelValues* values) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    LevelTable table;
    if (location == nullptr || !readOdParameters(location, od) || !readLevels(location, od, false, table)) {
        return StatusCode::Failed;
    }
    const AtiCardProfile& p = atiProfile();
    const bool onProfileScale = capturedOnProfileScale(p);
    values->count = reportedLevels(table.count);
    for (U i = 0; i < values->count; ++i) {
        const std::int32_t v = table.rows[i].voltage;
        values->values[i] = onProfileScale ? profileVoltageOf(v, od, p) : static_cast<U>(v);
    }
    return StatusCode::Ok;
}

StatusCode AtiBackend::getPerformanceDefaultVoltages(U gpu, LevelValues* values) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    const AtiCardProfile& p = atiProfile();
    const U n = reportedLevels(static_cast<U>(od.levelCount));
    if (p.DefaultGPUVoltage[0] != 0) {
        // Defaults captured on the card's scale are reported on the profile's
        // when the exports use it, as the range and the current voltage are.
        const bool convert = p.GPUVoltageStep != 0 && !capturedOnProfileScale(p);
        values->count = n;
        for (U i = 0; i < n; ++i) {
            const U d = p.DefaultGPUVoltage[i < kProfileDefaultLevels ? i : kProfileDefaultLevels - 1];
            values->values[i] = convert ? profileVoltageOf(static_cast<std::int32_t>(d), od, p) : d;
        }
        return StatusCode::Ok;
    }
    LevelTable table;
    if (!readLevels(location, od, true, table)) {
        return StatusCode::Failed;
    }
    values->count = n;
    for (U i = 0; i < n; ++i) {
        values->values[i] = static_cast<U>(table.rows[i].voltage);
    }
    return StatusCode::Ok;
}

StatusCode AtiBackend::getVoltageInfo(U gpu, RangeInfo* range) {
    const AtiCardProfile& p = atiProfile();
    if (p.GPUVoltageStep != 0) {
        range->maximum = p.GPUVoltageMax;
        range->minimum = p.GPUVoltageMin;
        range->step = p.GPUVoltageStep;
        return StatusCode::Ok;
    }
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    range->maximum = static_cast<U>(od.voltageMax);
    range->minimum = static_cast<U>(od.voltageMin);
    range->step = static_cast<U>(od.voltageStep);
    return StatusCode::Ok;
}

StatusCode AtiBackend::setCurrentVoltageLevel(U gpu, U voltage) { return setVoltage(gpu, nullptr, voltage); }

StatusCode AtiBackend::setPerformanceVoltageLevel(U gpu, U level, U voltage) {
    return setVoltage(gpu, &level, voltage);
}

// Written twice: first every level at the highest level's default, then each
// level at its own, so that no level is ever above the one after it while
// the card passes from the old voltages to the defaults. Levels beyond those
// the profile keeps take the last default the profile has.
StatusCode AtiBackend::setVoltageDefault(U gpu) {
    PciLocation* location = gpuLocation(gpu);
    AtiOdParameters od;
    if (location == nullptr || !readOdParameters(location, od)) {
        return StatusCode::Failed;
    }
    const AtiCardProfile& p = atiProfile();
    const U n = static_cast<U>(od.levelCount);
    const U cardMin = static_cast<U>(od.voltageMin);
    const U cardMax = static_cast<U>(od.voltageMax);
    const U cardStep = static_cast<U>(od.voltageStep);
    std::int32_t defaults[kMaxLibraryLevels] = {};
    if (p.GPUVoltageStep != 0) {
        // The captured defaults, each on the scale it was captured on; one
        // never captured (0), or one that names no voltage of the card, is
        // not applied and nothing is written.
        const std::optional<U> cardTop = stepOfRequest(cardMax, cardMin, cardMax, cardStep);
        for (U i = 0; i < n; ++i) {
            const U d = p.DefaultGPUVoltage[i < kProfileDefaultLevels ? i : kProfileDefaultLevels - 1];
            U cardVoltage = d;
            if (capturedOnProfileScale(p)) {
                if (d < p.GPUVoltageMin || !cardTop || stepOf(d, p.GPUVoltageMin, p.GPUVoltageStep) > *cardTop) {
                    return StatusCode::Failed;
                }
                cardVoltage = valueOfStep(stepOf(d, p.GPUVoltageMin, p.GPUVoltageStep), cardMin, cardStep);
            }
            if (d == 0 || cardVoltage < cardMin || cardVoltage > cardMax) {
                return StatusCode::Failed;
            }
            defaults[i] = static_cast<std::int32_t>(cardVoltage);
        }
    } else {
        LevelTable cardDefaults;
        if (!readLevels(location, od, true, cardDefaults)) {
            return StatusCode::Failed;
        }
        for (U i = 0; i < n; ++i) {
            defaults[i] = cardDefaults.rows[i].voltage;
        }
    }
    LevelTable table;
    if (!readLevels(location, od, false, table)) {
        return StatusCode::Failed;
    }
    if (n == 0) {
        return writeLevels(location, table) && writeLevels(location, table) ? StatusCode::Ok : StatusCode::Failed;
    }
    LevelTable before = table;
    for (U i = 0; i < n; ++i) {
        table.rows[i].voltage = defaults[n - 1];
    }
    if (!writeLevels(location, table)) {
        return StatusCode::Failed;
    }
    for (U i = 0; i < n; ++i) {
        table.rows[i].voltage = defaults[i];
    }
    if (writeLevels(location, table)) {
        return StatusCode::Ok;
    }
    // Cut short between the two writes: every level would stay at the
    // highest default, which nobody asked for. The levels go back as they were.
    writeLevels(location, before);
    return StatusCode::Failed;
}

StatusCode AtiBackend::getPerformanceLevelGpuClocks(U gpu, LevelValues* clocks) {
    return levelClocks(gpu, kEngine, clocks);
}
StatusCode AtiBackend::getGpuClockInfo(U gpu, RangeInfo* range) { return clockRange(gpu, kEngine, range); }
StatusCode AtiBackend::getGpuClockInfoEx(U gpu, U level, RangeInfo* range) {
    return clockRangeOfLevel(gpu, level, kEngine, range);
}
StatusCode AtiBackend::getPerformanceDefaultGpuClocks(U gpu, LevelValues* clocks) {
    return defaultClocks(gpu, kEngine, clocks);
}
StatusCode AtiBackend::setPerformanceLevelGpuClock(U gpu, U level, U mhz) {
    return setLevelClock(gpu, level, mhz, kEngine);
}
StatusCode AtiBackend::setGpuClockDefault(U gpu) { return restoreClocks(gpu, kEngine); }

StatusCode AtiBackend::getPerformanceLevelMemoryClocks(U gpu, LevelValues* clocks) {
    return levelClocks(gpu, kMemory, clocks);
}
StatusCode AtiBackend::getMemoryClockInfo(U gpu, RangeInfo* range) { return clockRange(gpu, kMemory, range); }
StatusCode AtiBackend::getMemoryClockInfoEx(U gpu, U level, RangeInfo* range) {
    return clockRangeOfLevel(gpu, level, kMemory, range);
}
StatusCode AtiBackend::getPerformanceDefaultMemoryClocks(U gpu, LevelValues* clocks) {
    return defaultClocks(gpu, kMemory, clocks);
}
StatusCode AtiBackend::setPerformanceLevelMemoryClock(U gpu, U level, U mhz) {
    return setLevelClock(gpu, level, mhz, kMemory);
}
StatusCode AtiBackend::setMemoryClockDefault(U gpu) { return restoreClocks(gpu, kMemory); }

}  // namespace zx::ati
