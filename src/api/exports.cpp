// The exported front doors. Getters clear their out-parameters first; setters
// run the lock test before anything else; every export answers
// NotInitialised while no vendor is chosen and otherwise forwards its
// arguments unchanged to the chosen backend.
#include <cstring>

#include "core/backend.h"
#include "api/lock.h"
#include "api/startup.h"
#include "api/state.h"
#include "platform/dispatch_mutex.h"
#include "zxdisplay.h"

using zx::Backend;
using zx::StatusCode;

namespace {

// No C++ exception crosses the C interface: one that escapes an operation
// (an allocation that failed, say) answers Failed.
template <class Op>
ZXStatus guarded(Op&& op) noexcept {
    try {
        return zx::toU32(op());
    } catch (...) {
        return zx::toU32(StatusCode::Failed);
    }
}

// Operations on the cards run one at a time in the process, start-up and
// shutdown included (docs/design.md).
template <class Op>
ZXStatus dispatch(Op&& op) {
    const zx::platform::DispatchGuard guard;
    const zx::VendorKind kind = zx::state().vendorKind;
    if (kind == zx::VendorKind::None) {
        return zx::toU32(StatusCode::NotInitialised);
    }
    return guarded([&] { return op(zx::backendFor(kind)); });
}

template <class Op>
ZXStatus dispatchSetter(Op&& op) {
    if (zx::lockedByOther()) {
        return zx::toU32(StatusCode::LockedByOther);
    }
    return dispatch(op);
}

void clear(std::uint32_t* word) { *word = 0; }
void clear(ZXRangeInfo* range) { *range = ZXRangeInfo{}; }
void clear(ZXLevelValues* values) { *values = ZXLevelValues{}; }

// Only the count and the first byte of each string: callers may rely on the
// rest of their buffer staying as it was.
void clear(ZXVgaInfoDescription* desc) {
    desc->count = 0;
    for (auto& text : desc->strings) {
        text[0] = '\0';
    }
}

}  // namespace

extern "C" {

// ---- Library ---------------------------------------------------------------

ZX_API ZXStatus ZX_CALL ZXInitLib(void) {
    const zx::platform::DispatchGuard guard;
    try {
        return zx::toU32(zx::initLib());
    } catch (...) {
        // No vendor stays chosen behind a start-up cut short.
        zx::state().vendorKind = zx::VendorKind::None;
        return zx::toU32(StatusCode::Failed);
    }
}

ZX_API ZXStatus ZX_CALL ZXDeInitLib(void) {
    const zx::platform::DispatchGuard guard;
    return guarded([] { return zx::deInitLib(); });
}

ZX_API ZXStatus ZX_CALL ZXGetLockLibStatus(uint32_t* status) {
    return guarded([&] { return zx::getLockLibStatus(status); });
}

ZX_API ZXStatus ZX_CALL ZXSetLockLibStatus(uint32_t flag) {
    return guarded([&] { return zx::setLockLibStatus(flag); });
}

ZX_API ZXStatus ZX_CALL ZXGetAdapterInfo(ZXAdapterInfoRecord* info) {
    info->count = 0;
    std::memset(info->kind, 0, sizeof info->kind);
    std::memset(info->location, 0, sizeof info->location);
    const zx::AdapterTable& table = zx::state().table;
    if (table.count == 0) {
        return zx::toU32(StatusCode::NotInitialised);
    }
    info->count = table.count;
    for (std::uint32_t i = 0; i < zx::kMaxAdapters; ++i) {
        info->kind[i] = table.kind[i];
        std::memcpy(info->vendorId[i], table.vendorId[i], sizeof info->vendorId[i]);
        std::memcpy(info->deviceId[i], table.deviceId[i], sizeof info->deviceId[i]);
        std::memcpy(info->subsystemId[i], table.subsystemId[i], sizeof info->subsystemId[i]);
        std::memcpy(info->subsystemVendorId[i], table.subsystemVendorId[i], sizeof info->subsystemVendorId[i]);
    }
    return zx::toU32(StatusCode::Ok);
}

ZX_API ZXStatus ZX_CALL ZXGetControlMode(uint32_t* flags) {
    clear(flags);
    return dispatch([&](Backend& b) { return b.getControlMode(flags); });
}

ZX_API ZXStatus ZX_CALL ZXGetGpuCount(uint32_t* count) {
    clear(count);
    return dispatch([&](Backend& b) { return b.getGpuCount(count); });
}

ZX_API ZXStatus ZX_CALL ZXGetCurrentPerformanceLevel(uint32_t gpu, uint32_t* level) {
    clear(level);
    return dispatch([&](Backend& b) { return b.getCurrentPerformanceLevel(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXGetVGAInfoDescription(uint32_t gpu, ZXVgaInfoDescription* desc) {
    clear(desc);
    return dispatch([&](Backend& b) { return b.getVgaInfoDescription(gpu, desc); });
}

// ---- GPU voltage -----------------------------------------------------------

ZX_API ZXStatus ZX_CALL ZXGetCurrentVoltage(uint32_t gpu, uint32_t* voltage, uint32_t* level) {
    clear(voltage);
    clear(level);
    return dispatch([&](Backend& b) { return b.getCurrentVoltage(gpu, voltage, level); });
}

ZX_API ZXStatus ZX_CALL ZXGetPerformanceLevelVoltages(uint32_t gpu, ZXLevelValues* values) {
    clear(values);
    return dispatch([&](Backend& b) { return b.getPerformanceLevelVoltages(gpu, values); });
}

ZX_API ZXStatus ZX_CALL ZXGetPerformanceDefaultVoltages(uint32_t gpu, ZXLevelValues* values) {
    clear(values);
    return dispatch([&](Backend& b) { return b.getPerformanceDefaultVoltages(gpu, values); });
}

ZX_API ZXStatus ZX_CALL ZXGetVoltageInfo(uint32_t gpu, ZXRangeInfo* range) {
    clear(range);
    return dispatch([&](Backend& b) { return b.getVoltageInfo(gpu, range); });
}

ZX_API ZXStatus ZX_CALL ZXGet2DDefaultVoltage(uint32_t gpu, uint32_t* voltage) {
    clear(voltage);
    return dispatch([&](Backend& b) { return b.get2DDefaultVoltage(gpu, voltage); });
}

ZX_API ZXStatus ZX_CALL ZXSetCurrentVoltageLevel(uint32_t gpu, uint32_t voltage) {
    return dispatchSetter([&](Backend& b) { return b.setCurrentVoltageLevel(gpu, voltage); });
}

ZX_API ZXStatus ZX_CALL ZXSetPerformanceVoltageLevel(uint32_t gpu, uint32_t level, uint32_t voltage) {
    return dispatchSetter([&](Backend& b) { return b.setPerformanceVoltageLevel(gpu, level, voltage); });
}

ZX_API ZXStatus ZX_CALL ZXSetVoltageDefault(uint32_t gpu) {
    return dispatchSetter([&](Backend& b) { return b.setVoltageDefault(gpu); });
}

// ---- Memory voltage --------------------------------------------------------

ZX_API ZXStatus ZX_CALL ZXGetCurrentMemoryVoltageLevel(uint32_t gpu, uint32_t* level) {
    clear(level);
    return dispatch([&](Backend& b) { return b.getCurrentMemoryVoltageLevel(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXGetMemoryVoltageInfo(uint32_t gpu, ZXRangeInfo* range) {
    clear(range);
    return dispatch([&](Backend& b) { return b.getMemoryVoltageInfo(gpu, range); });
}

ZX_API ZXStatus ZX_CALL ZXGetMemoryVoltageDefault(uint32_t gpu, uint32_t* level) {
    clear(level);
    return dispatch([&](Backend& b) { return b.getMemoryVoltageDefault(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXSetCurrentMemoryVoltageLevel(uint32_t gpu, uint32_t level) {
    return dispatchSetter([&](Backend& b) { return b.setCurrentMemoryVoltageLevel(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXSetMemoryVoltageDefault(uint32_t gpu) {
    return dispatchSetter([&](Backend& b) { return b.setMemoryVoltageDefault(gpu); });
}

// ---- Clocks: three families of six ------------------------------------------

#define ZX_CLOCK_FAMILY(Name, name)                                                                   \
    ZX_API ZXStatus ZX_CALL ZXGetPerformanceLevel##Name##Clocks(uint32_t gpu, ZXLevelValues* clocks) { \
        clear(clocks);                                                                                \
        return dispatch([&](Backend& b) { return b.getPerformanceLevel##name##Clocks(gpu, clocks); }); \
    }                                                                                                 \
    ZX_API ZXStatus ZX_CALL ZXGet##Name##ClockInfo(uint32_t gpu, ZXRangeInfo* range) {                \
        clear(range);                                                                                 \
        return dispatch([&](Backend& b) { return b.get##name##ClockInfo(gpu, range); });              \
    }                                                                                                 \
    ZX_API ZXStatus ZX_CALL ZXGet##Name##ClockInfoEx(uint32_t gpu, uint32_t level, ZXRangeInfo* range) { \
        clear(range);                                                                                 \
        return dispatch([&](Backend& b) { return b.get##name##ClockInfoEx(gpu, level, range); });     \
    }                                                                                                 \
    ZX_API ZXStatus ZX_CALL ZXGetPerformanceDefault##Name##Clocks(uint32_t gpu, ZXLevelValues* clocks) { \
        clear(clocks);                                                                                \
        return dispatch([&](Backend& b) { return b.getPerformanceDefault##name##Clocks(gpu, clocks); }); \
    }                                                                                                 \
    ZX_API ZXStatus ZX_CALL ZXSetPerformanceLevel##Name##Clock(uint32_t gpu, uint32_t level, uint32_t mhz) { \
        return dispatchSetter([&](Backend& b) { return b.setPerformanceLevel##name##Clock(gpu, level, mhz); }); \
    }                                                                                                 \
    ZX_API ZXStatus ZX_CALL ZXSet##Name##ClockDefault(uint32_t gpu) {                                 \
        return dispatchSetter([&](Backend& b) { return b.set##name##ClockDefault(gpu); });            \
    }

ZX_CLOCK_FAMILY(GPU, Gpu)
ZX_CLOCK_FAMILY(Memory, Memory)
ZX_CLOCK_FAMILY(Shader, Shader)

#undef ZX_CLOCK_FAMILY

// ---- PWM clock ---------------------------------------------------------------

ZX_API ZXStatus ZX_CALL ZXGetCurrentPWMClockLevel(uint32_t gpu, uint32_t* level) {
    clear(level);
    return dispatch([&](Backend& b) { return b.getCurrentPwmClockLevel(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXGetPWMClockInfo(uint32_t gpu, ZXRangeInfo* range) {
    clear(range);
    return dispatch([&](Backend& b) { return b.getPwmClockInfo(gpu, range); });
}

ZX_API ZXStatus ZX_CALL ZXGetPWMClockDefault(uint32_t gpu, uint32_t* level) {
    clear(level);
    return dispatch([&](Backend& b) { return b.getPwmClockDefault(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXSetCurrentPWMClockLevel(uint32_t gpu, uint32_t level) {
    return dispatchSetter([&](Backend& b) { return b.setCurrentPwmClockLevel(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXSetPWMClockDefault(uint32_t gpu) {
    return dispatchSetter([&](Backend& b) { return b.setPwmClockDefault(gpu); });
}

// ---- Temperature, usage and DAC -------------------------------------------------

ZX_API ZXStatus ZX_CALL ZXGetTemperature(uint32_t gpu, uint32_t* celsius) {
    clear(celsius);
    return dispatch([&](Backend& b) { return b.getTemperature(gpu, celsius); });
}

ZX_API ZXStatus ZX_CALL ZXGetUsage(uint32_t gpu, uint32_t* percent) {
    clear(percent);
    return dispatch([&](Backend& b) { return b.getUsage(gpu, percent); });
}

ZX_API ZXStatus ZX_CALL ZXGetDACLevel(uint32_t gpu, uint32_t* level) {
    clear(level);
    return dispatch([&](Backend& b) { return b.getDacLevel(gpu, level); });
}

ZX_API ZXStatus ZX_CALL ZXSetDACLevel(uint32_t gpu, uint32_t level) {
    return dispatchSetter([&](Backend& b) { return b.setDacLevel(gpu, level); });
}

// ---- Fan ---------------------------------------------------------------------------

ZX_API ZXStatus ZX_CALL ZXGetFanSpeedInfo(uint32_t gpu, uint32_t fan, ZXRangeInfo* range, uint32_t reserved) {
    clear(range);
    return dispatch([&](Backend& b) { return b.getFanSpeedInfo(gpu, fan, range, reserved); });
}

ZX_API ZXStatus ZX_CALL ZXGetFanSpeed(uint32_t gpu, uint32_t fan, uint32_t* percent, uint32_t reserved) {
    clear(percent);
    return dispatch([&](Backend& b) { return b.getFanSpeed(gpu, fan, percent, reserved); });
}

ZX_API ZXStatus ZX_CALL ZXSetFanSpeed(uint32_t gpu, uint32_t fan, uint32_t percent, uint32_t reserved) {
    return dispatchSetter([&](Backend& b) { return b.setFanSpeed(gpu, fan, percent, reserved); });
}

ZX_API ZXStatus ZX_CALL ZXSetFanSpeedDefault(uint32_t gpu, uint32_t fan, uint32_t reserved) {
    return dispatchSetter([&](Backend& b) { return b.setFanSpeedDefault(gpu, fan, reserved); });
}

}  // extern "C"
