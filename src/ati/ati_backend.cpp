#include "ati/ati_backend.h"

namespace zx::ati {

StatusCode AtiBackend::get2DDefaultVoltage(std::uint32_t, std::uint32_t*) { return notSupported(); }

StatusCode AtiBackend::getPerformanceLevelShaderClocks(std::uint32_t, LevelValues* clocks) {
    return notSupportedLevels(clocks);
}

StatusCode AtiBackend::getShaderClockInfo(std::uint32_t, RangeInfo* range) { return notSupportedRange(range); }

// The level is ignored: there is no shader clock on any level.
StatusCode AtiBackend::getShaderClockInfoEx(std::uint32_t gpu, std::uint32_t, RangeInfo* range) {
    return getShaderClockInfo(gpu, range);
}

StatusCode AtiBackend::getPerformanceDefaultShaderClocks(std::uint32_t, LevelValues* clocks) {
    return notSupportedLevels(clocks);
}

StatusCode AtiBackend::setPerformanceLevelShaderClock(std::uint32_t, std::uint32_t, std::uint32_t) {
    return notSupported();
}

StatusCode AtiBackend::setShaderClockDefault(std::uint32_t) { return notSupported(); }

}  // namespace zx::ati
