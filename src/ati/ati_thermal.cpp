// Temperature, GPU activity and the fan. The four fan entry points are
// optional: an operation whose entry point the library lacks is not
// supported, the others still work.
#include "ati/ati_backend.h"
#include "ati/ati_binding.h"
#include "ati/ati_card.h"

namespace zx::ati {

namespace {
using U = std::uint32_t;
constexpr int kTemperatureController = 0;
}  // namespace

StatusCode AtiBackend::getTemperature(U gpu, U* celsius) {
    const AtiBinding& b = atiBinding();
    PciLocation* location = gpuLocation(gpu);
    if (location == nullptr || b.getTemperature == nullptr) {
        return StatusCode::Failed;
    }
    AtiTemperature t{};
    t.size = sizeof t;
    if (b.getTemperature(b.adapterIndex, kTemperatureController, &t, location) != 0) {
        return StatusCode::Failed;
    }
    *celsius = static_cast<U>(t.milliDegrees) / 1000;
    return StatusCode::Ok;
}

StatusCode AtiBackend::getUsage(U gpu, U* percent) {
    AtiPmActivity activity;
    if (!readActivity(gpuLocation(gpu), activity)) {
        return StatusCode::Failed;
    }
    *percent = static_cast<U>(activity.activityPercent);
    return StatusCode::Ok;
}

// The step is always 1 percent, whatever the card reports.
StatusCode AtiBackend::getFanSpeedInfo(U gpu, U fan, RangeInfo* range, U) {
    const AtiBinding& b = atiBinding();
    if (b.getFanSpeedInfo == nullptr) {
        return StatusCode::NotSupported;
    }
    PciLocation* location = gpuLocation(gpu);
    AtiFanSpeedInfo info{};
    info.size = sizeof info;
    if (location == nullptr || b.getFanSpeedInfo(b.adapterIndex, static_cast<int>(fan), &info, location) != 0) {
        return StatusCode::Failed;
    }
    range->maximum = static_cast<U>(info.maxPercent);
    range->minimum = static_cast<U>(info.minPercent);
    range->step = 1;
    return StatusCode::Ok;
}

StatusCode AtiBackend::getFanSpeed(U gpu, U fan, U* percent, U) {
    const AtiBinding& b = atiBinding();
    if (b.getFanSpeed == nullptr) {
        return StatusCode::NotSupported;
    }
    PciLocation* location = gpuLocation(gpu);
    AtiFanSpeedValue value{};
    value.size = sizeof value;
    value.speedType = kFanSpeedPercent;
    value.flags = kFanSpeedRead;
    if (location == nullptr || b.getFanSpeed(b.adapterIndex, static_cast<int>(fan), &value, location) != 0) {
        return StatusCode::Failed;
    }
    *percent = static_cast<U>(value.speed);
    return StatusCode::Ok;
}

// The speed is not checked against the fan's range: the library decides.
StatusCode AtiBackend::setFanSpeed(U gpu, U fan, U percent, U) {
    const AtiBinding& b = atiBinding();
    if (b.setFanSpeed == nullptr) {
        return StatusCode::NotSupported;
    }
    PciLocation* location = gpuLocation(gpu);
    AtiFanSpeedValue value{};
    value.size = sizeof value;
    value.speedType = kFanSpeedPercent;
    value.speed = static_cast<std::int32_t>(percent);
    value.flags = 0;
    if (location == nullptr || b.setFanSpeed(b.adapterIndex, static_cast<int>(fan), &value, location) != 0) {
        return StatusCode::Failed;
    }
    return StatusCode::Ok;
}

StatusCode AtiBackend::setFanSpeedDefault(U gpu, U fan, U) {
    const AtiBinding& b = atiBinding();
    if (b.setFanSpeedToDefault == nullptr) {
        return StatusCode::NotSupported;
    }
    PciLocation* location = gpuLocation(gpu);
    if (location == nullptr || b.setFanSpeedToDefault(b.adapterIndex, static_cast<int>(fan), location) != 0) {
        return StatusCode::Failed;
    }
    return StatusCode::Ok;
}

}  // namespace zx::ati
