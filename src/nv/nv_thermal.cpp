// Temperature, usage, DAC level and the GPU fan on NVIDIA cards.
#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nvapi_binding.h"

namespace zx::nv {

namespace {

// Finds the GPU fan: the first cooler row, within the rows the record holds,
// that cools the GPU (or all targets) and is a fan. Every fan operation asks
// the driver afresh.
StatusCode findFan(NvGpuHandle handle, NvCoolerRecord& rec, std::uint32_t& row) {
    rec = NvCoolerRecord{};
    rec.version = kCoolerVersion;
    if (nvapi().getCoolerSettings(handle, kCoolerSelectorAll, &rec) != 0) {
        return StatusCode::Failed;
    }
    const std::uint32_t count = rec.count < kMaxCoolers ? rec.count : kMaxCoolers;
    for (std::uint32_t i = 0; i < count; ++i) {
        const NvCoolerRow& c = rec.coolers[i];
        if ((c.target == kCoolerTargetGpu || c.target == kCoolerTargetAll) && c.type == kCoolerTypeFan) {
            row = i;
            return StatusCode::Ok;
        }
    }
    return StatusCode::Failed;
}

// Runs op(handle, fan row, row index) on the GPU fan of a GPU index.
template <class Op>
StatusCode withFan(std::uint32_t gpu, Op&& op) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    NvCoolerRecord rec;
    std::uint32_t row = 0;
    const StatusCode found = findFan(handle, rec, row);
    if (found != StatusCode::Ok) {
        return found;
    }
    return op(handle, rec.coolers[row], row);
}

}  // namespace

StatusCode NvBackend::getTemperature(std::uint32_t gpu, std::uint32_t* celsius) {
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    NvThermalRecord rec{};
    rec.version = kThermalVersion;
    if (nvapi().getThermalSettings(handle, 0, &rec) != 0) {
        return StatusCode::Failed;
    }
    *celsius = rec.sensors[0].currentTemp;
    return StatusCode::Ok;
}

// The driver offers no usage reading through the operations used here.
StatusCode NvBackend::getUsage(std::uint32_t, std::uint32_t*) { return StatusCode::Failed; }

StatusCode NvBackend::getDacLevel(std::uint32_t, std::uint32_t* level) {
    *level = 0;
    return StatusCode::NotSupported;
}

StatusCode NvBackend::setDacLevel(std::uint32_t, std::uint32_t) { return notSupported(); }

// The fan index and the trailing arguments have no meaning here: there is
// one GPU fan.
StatusCode NvBackend::getFanSpeedInfo(std::uint32_t gpu, std::uint32_t, RangeInfo* range, std::uint32_t) {
    return withFan(gpu, [&](NvGpuHandle, const NvCoolerRow& fan, std::uint32_t) {
        range->maximum = fan.currentMaxLevel;
        range->minimum = fan.currentMinLevel;
        range->step = 1;
        return StatusCode::Ok;
    });
}

StatusCode NvBackend::getFanSpeed(std::uint32_t gpu, std::uint32_t, std::uint32_t* percent, std::uint32_t) {
    return withFan(gpu, [&](NvGpuHandle, const NvCoolerRow& fan, std::uint32_t) {
        *percent = fan.currentLevel;
        return StatusCode::Ok;
    });
}

// The requested level goes to the driver unchecked; the driver decides.
StatusCode NvBackend::setFanSpeed(std::uint32_t gpu, std::uint32_t, std::uint32_t percent, std::uint32_t) {
    return withFan(gpu, [&](NvGpuHandle handle, const NvCoolerRow&, std::uint32_t row) {
        NvCoolerLevelsRecord levels{};
        levels.version = kCoolerLevelsVersion;
        levels.coolers[row].level = percent;
        levels.coolers[row].policy = kCoolerPolicyManual;
        return nvapi().setCoolerLevels(handle, row, &levels) == 0 ? StatusCode::Ok : StatusCode::Failed;
    });
}

StatusCode NvBackend::setFanSpeedDefault(std::uint32_t gpu, std::uint32_t, std::uint32_t) {
    return withFan(gpu, [&](NvGpuHandle handle, const NvCoolerRow&, std::uint32_t row) {
        std::uint32_t indices[1] = {row};
        return nvapi().restoreCoolerSettings(handle, indices, 1) == 0 ? StatusCode::Ok : StatusCode::Failed;
    });
}

}  // namespace zx::nv
