// ATI start-up and shutdown, and the small operations on the binding and the
// profile.
#include "ati/ati_backend.h"

#include <cstring>

#include "ati/ati_binding.h"
#include "ati/ati_card.h"
#include "ati/ati_profile.h"

namespace zx::ati {

StatusCode AtiBackend::startUp(const AdapterTable& table) { return bindAti(table, platform::current()); }

StatusCode AtiBackend::readProfile(const char* cardId, const ini::Profile& profile) {
    return readAtiProfile(cardId, profile);
}

StatusCode AtiBackend::shutDown() { return unbindAti(platform::current()); }

StatusCode AtiBackend::getControlMode(std::uint32_t* flags) {
    const AtiCardProfile& p = atiProfile();
    std::uint32_t f = ControlMode::GpuClock | ControlMode::MemoryClock;
    if (p.GPUVoltageStep != 0) f |= ControlMode::GpuVoltage;
    if (p.MemoryVoltageStep != 0) f |= ControlMode::MemoryVoltage;
    if (p.PWMClockStep != 0) f |= ControlMode::PwmClock;
    if (p.DACSupported != 0) f |= ControlMode::DacLevel;
    if (p.CanSet2DAs3DClock != 0) f |= ControlMode::Set2DAs3DClock;
    *flags = f;
    return StatusCode::Ok;
}

StatusCode AtiBackend::getGpuCount(std::uint32_t* count) {
    *count = atiBinding().gpuCount;
    return StatusCode::Ok;
}

StatusCode AtiBackend::getCurrentPerformanceLevel(std::uint32_t gpu, std::uint32_t* level) {
    AtiPmActivity activity;
    if (!readActivity(gpuLocation(gpu), activity)) {
        return StatusCode::Failed;
    }
    *level = static_cast<std::uint32_t>(activity.currentLevel);
    return StatusCode::Ok;
}

// The GPU index is not looked at: every GPU is of the one card model.
StatusCode AtiBackend::getVgaInfoDescription(std::uint32_t, VgaInfoDescription* desc) {
    const AtiCardProfile& p = atiProfile();
    desc->count = p.descriptionCount;
    for (std::uint32_t i = 0; i < p.descriptionCount && i < kMaxDescriptions; ++i) {
        std::memcpy(desc->strings[i], p.descriptions[i], kDescriptionSize);
    }
    return StatusCode::Ok;
}

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
