#include "core/backend.h"

namespace zx {

StatusCode notSupported() { return StatusCode::NotSupported; }

StatusCode notSupportedRange(RangeInfo* range) {
    *range = RangeInfo{};
    return StatusCode::NotSupported;
}

StatusCode notSupportedLevels(LevelValues* values) {
    *values = LevelValues{};
    return StatusCode::NotSupported;
}

// A backend without an implementation cannot start.
StatusCode Backend::startUp(const AdapterTable&) { return StatusCode::Failed; }
StatusCode Backend::readProfile(const char*, const ini::Profile&) { return StatusCode::Ok; }
StatusCode Backend::shutDown() { return StatusCode::Ok; }

StatusCode Backend::getControlMode(std::uint32_t*) { return notSupported(); }
StatusCode Backend::getGpuCount(std::uint32_t*) { return notSupported(); }
StatusCode Backend::getCurrentPerformanceLevel(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::getVgaInfoDescription(std::uint32_t, VgaInfoDescription*) { return notSupported(); }
StatusCode Backend::getCurrentVoltage(std::uint32_t, std::uint32_t*, std::uint32_t*) { return notSupported(); }
StatusCode Backend::getPerformanceLevelVoltages(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::getPerformanceDefaultVoltages(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::getVoltageInfo(std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::get2DDefaultVoltage(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::setCurrentVoltageLevel(std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setPerformanceVoltageLevel(std::uint32_t, std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setVoltageDefault(std::uint32_t) { return notSupported(); }
StatusCode Backend::getCurrentMemoryVoltageLevel(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::getMemoryVoltageInfo(std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getMemoryVoltageDefault(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::setCurrentMemoryVoltageLevel(std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setMemoryVoltageDefault(std::uint32_t) { return notSupported(); }
StatusCode Backend::getPerformanceLevelGpuClocks(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::getGpuClockInfo(std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getGpuClockInfoEx(std::uint32_t, std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getPerformanceDefaultGpuClocks(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::setPerformanceLevelGpuClock(std::uint32_t, std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setGpuClockDefault(std::uint32_t) { return notSupported(); }
StatusCode Backend::getPerformanceLevelMemoryClocks(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::getMemoryClockInfo(std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getMemoryClockInfoEx(std::uint32_t, std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getPerformanceDefaultMemoryClocks(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::setPerformanceLevelMemoryClock(std::uint32_t, std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setMemoryClockDefault(std::uint32_t) { return notSupported(); }
StatusCode Backend::getPerformanceLevelShaderClocks(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::getShaderClockInfo(std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getShaderClockInfoEx(std::uint32_t, std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getPerformanceDefaultShaderClocks(std::uint32_t, LevelValues*) { return notSupported(); }
StatusCode Backend::setPerformanceLevelShaderClock(std::uint32_t, std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setShaderClockDefault(std::uint32_t) { return notSupported(); }
StatusCode Backend::getCurrentPwmClockLevel(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::getPwmClockInfo(std::uint32_t, RangeInfo*) { return notSupported(); }
StatusCode Backend::getPwmClockDefault(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::setCurrentPwmClockLevel(std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setPwmClockDefault(std::uint32_t) { return notSupported(); }
StatusCode Backend::getTemperature(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::getUsage(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::getDacLevel(std::uint32_t, std::uint32_t*) { return notSupported(); }
StatusCode Backend::setDacLevel(std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::getFanSpeedInfo(std::uint32_t, std::uint32_t, RangeInfo*, std::uint32_t) { return notSupported(); }
StatusCode Backend::getFanSpeed(std::uint32_t, std::uint32_t, std::uint32_t*, std::uint32_t) { return notSupported(); }
StatusCode Backend::setFanSpeed(std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) { return notSupported(); }
StatusCode Backend::setFanSpeedDefault(std::uint32_t, std::uint32_t, std::uint32_t) { return notSupported(); }

}  // namespace zx
