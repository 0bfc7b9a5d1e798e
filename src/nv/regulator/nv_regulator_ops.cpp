// The NVIDIA GPU voltage, memory-voltage and PWM-clock operations. A profile
// value of 0 switches the feature off (NotSupported, nothing touched). Without
// a known regulator the operations that need it answer NotSupported; a
// request the regulator cannot carry out is refused with Failed before
// anything is written; a transaction the driver did not carry out fails the
// operation (Failed) and ends it.
#include "nv/nv_backend.h"
#include "nv/nv_state.h"
#include "nv/nv_store.h"
#include "nv/regulator/pins.h"
#include "nv/regulator/vid.h"
#include "platform/platform.h"

namespace zx::nv {

using namespace regulator;

namespace {

StatusCode result(bool ok) { return ok ? StatusCode::Ok : StatusCode::Failed; }

unsigned kindOf(const NvState& st) { return static_cast<unsigned>(st.regulatorKind); }
bool hasRegulator(const NvState& st) { return st.regulatorKind != RegulatorKind::None; }

// The registry-voltage values of kind-2 cards. The base is read afresh for
// every setting; a missing or empty value is no base.
bool readStoreValue(const NvState& st, const char* name, std::uint32_t& value) {
    return registryRead(platform::current(), st.cardRegistryKey, name, &value);
}

// The GPU's handle when the card has a regulator: NotSupported without one,
// Failed for a GPU that does not exist.
StatusCode regulatorOf(std::uint32_t gpu, NvGpuHandle& handle) {
    if (!hasRegulator(nvState())) {
        return StatusCode::NotSupported;
    }
    handle = gpuHandle(gpu);
    return handle != nullptr ? StatusCode::Ok : StatusCode::Failed;
}

// Programs a GPU voltage on the card's regulator. Kind 1 maps the voltage to
// a step with stepOfRequest (clamp) or counts it from GPUVoltageMin; kind 2
// counts steps from the stored GPUVoltageStart and records, per GPU, the
// voltage the pins took once they carry it. A voltage that names no step of
// the table is refused before anything is written.
StatusCode programVoltage(std::uint32_t gpu, std::uint32_t voltage, bool clamp) {
    const NvState& st = nvState();
    const NvCardProfile& p = st.profile;
    NvGpuHandle handle = nullptr;
    if (const StatusCode s = regulatorOf(gpu, handle); s != StatusCode::Ok) {
        return s;
    }
    if (st.regulatorKind == RegulatorKind::RegistryVoltage) {
        std::uint32_t start = 0;
        if (!readStoreValue(st, kGpuVoltageStartValue, start) || voltage < start) {
            return StatusCode::Failed;
        }
        const std::uint32_t step = stepOf(voltage, start, p.GPUVoltageStep);
        if (!vidCode(kVid3Bit, step) || !NvWriteGpuVoltageStep(handle, 2, step, p.GPUVoltageStep)) {
            return StatusCode::Failed;
        }
        // The pins are set; the store is the card's only record of what it
        // runs at. One that cannot keep it is not reported.
        registryWrite(platform::current(), st.cardRegistryKey, gpuVoltageCurrentName(gpu).c_str(),
                      static_cast<std::int32_t>(valueOfStep(step, start, p.GPUVoltageStep)));
        return StatusCode::Ok;
    }
    std::optional<std::uint32_t> step;
    if (clamp) {
        step = stepOfRequest(voltage, p.GPUVoltageMin, p.GPUVoltageMax, p.GPUVoltageStep);
    } else if (voltage >= p.GPUVoltageMin) {
        step = stepOf(voltage, p.GPUVoltageMin, p.GPUVoltageStep);
    }
    if (!step || !vidCode(kind1Table(p.GPUVoltageStep), *step)) {
        return StatusCode::Failed;
    }
    return result(NvWriteGpuVoltageStep(handle, 1, *step, p.GPUVoltageStep));
}

// The current voltage and what the regulator reports it as: kind 1 the step
// on the pins (a code outside the table is no voltage), kind 2 the voltage
// stored for the GPU (0 when there is none).
StatusCode currentVoltage(std::uint32_t gpu, std::uint32_t& voltage, std::uint32_t& reported) {
    const NvState& st = nvState();
    const NvCardProfile& p = st.profile;
    NvGpuHandle handle = nullptr;
    if (const StatusCode s = regulatorOf(gpu, handle); s != StatusCode::Ok) {
        return s;
    }
    if (st.regulatorKind == RegulatorKind::RegistryVoltage) {
        std::uint32_t stored = 0;
        if (!readStoreValue(st, gpuVoltageCurrentName(gpu).c_str(), stored)) {
            stored = 0;
        }
        voltage = reported = stored;
        return StatusCode::Ok;
    }
    std::uint32_t step = 0;
    if (!NvReadGpuVoltageStep(handle, p.GPUVoltageStep, step)) {
        return StatusCode::Failed;
    }
    reported = step;
    voltage = valueOfStep(step, p.GPUVoltageMin, p.GPUVoltageStep);
    return StatusCode::Ok;
}

StatusCode writeMemoryVoltage(std::uint32_t gpu, std::uint32_t level) {
    const NvState& st = nvState();
    if (!hasRegulator(st)) {
        return StatusCode::NotSupported;
    }
    const std::optional<PinWrites> writes = memoryVoltageWrites(kindOf(st), level);
    const NvGpuHandle handle = gpuHandle(gpu);
    return result(writes && handle != nullptr && writePins(handle, kindOf(st), *writes));
}

StatusCode writePwmClock(std::uint32_t gpu, std::uint32_t level) {
    const NvState& st = nvState();
    if (!hasRegulator(st)) {
        return StatusCode::NotSupported;
    }
    const NvGpuHandle handle = gpuHandle(gpu);
    PinWrites writes;
    writes.add(kPwmClockPin, level);
    return result(level < kPwmClockLevels && handle != nullptr && writePins(handle, kindOf(st), writes));
}

// Only the pin controller of kind 1 can be read back.
StatusCode readKind1Pins(std::uint32_t gpu, const std::uint8_t* pins, unsigned count, unsigned* levels) {
    const NvState& st = nvState();
    if (st.regulatorKind != RegulatorKind::PinController) {
        return StatusCode::NotSupported;
    }
    const NvGpuHandle handle = gpuHandle(gpu);
    if (handle == nullptr) {
        return StatusCode::Failed;
    }
    for (unsigned i = 0; i < count; ++i) {
        if (!NvReadRegulatorPin(handle, pins[i], levels[i])) {
            return StatusCode::Failed;
        }
    }
    return StatusCode::Ok;
}

void fillRange(RangeInfo* range, std::uint32_t max, std::uint32_t min, std::uint32_t step) {
    range->maximum = max;
    range->minimum = min;
    range->step = step;
}

void fillOneLevel(LevelValues* values, std::uint32_t value) {
    values->count = 1;
    values->values[0] = value;
}

}  // namespace

// ---- GPU voltage ------------------------------------------------------------

StatusCode NvBackend::getCurrentVoltage(std::uint32_t gpu, std::uint32_t* voltage, std::uint32_t* level) {
    const NvCardProfile& p = nvState().profile;
    if (p.GPUVoltageMin == 0 || p.GPUVoltageStep == 0) {
        return StatusCode::NotSupported;
    }
    std::uint32_t v = 0;
    std::uint32_t r = 0;
    const StatusCode s = currentVoltage(gpu, v, r);
    if (s == StatusCode::Ok) {
        *voltage = v;
        *level = r;
    }
    return s;
}

StatusCode NvBackend::getPerformanceLevelVoltages(std::uint32_t gpu, LevelValues* values) {
    const NvCardProfile& p = nvState().profile;
    if (p.GPUVoltageMin == 0 || p.GPUVoltageStep == 0) {
        return StatusCode::NotSupported;
    }
    std::uint32_t v = 0;
    std::uint32_t r = 0;
    const StatusCode s = currentVoltage(gpu, v, r);
    if (s == StatusCode::Ok) {
        fillOneLevel(values, v);
    }
    return s;
}

StatusCode NvBackend::getPerformanceDefaultVoltages(std::uint32_t, LevelValues* values) {
    const NvCardProfile& p = nvState().profile;
    if (p.DefaultGPUVoltage3D == 0) {
        return StatusCode::NotSupported;
    }
    fillOneLevel(values, p.DefaultGPUVoltage3D);
    return StatusCode::Ok;
}

StatusCode NvBackend::getVoltageInfo(std::uint32_t, RangeInfo* range) {
    const NvCardProfile& p = nvState().profile;
    if (p.GPUVoltageMax == 0 || p.GPUVoltageMin == 0 || p.GPUVoltageStep == 0) {
        return StatusCode::NotSupported;
    }
    fillRange(range, p.GPUVoltageMax, p.GPUVoltageMin, p.GPUVoltageStep);
    return StatusCode::Ok;
}

StatusCode NvBackend::get2DDefaultVoltage(std::uint32_t, std::uint32_t* voltage) {
    const NvCardProfile& p = nvState().profile;
    if (p.DefaultGPUVoltage2D == 0) {
        return StatusCode::NotSupported;
    }
    *voltage = p.DefaultGPUVoltage2D;
    return StatusCode::Ok;
}

// One GPU voltage for all performance levels: both setters program it.
StatusCode NvBackend::setCurrentVoltageLevel(std::uint32_t gpu, std::uint32_t voltage) {
    return setPerformanceVoltageLevel(gpu, 0, voltage);
}

StatusCode NvBackend::setPerformanceVoltageLevel(std::uint32_t gpu, std::uint32_t, std::uint32_t voltage) {
    const NvCardProfile& p = nvState().profile;
    if (p.GPUVoltageMin == 0 || p.GPUVoltageMax == 0 || p.GPUVoltageStep == 0) {
        return StatusCode::NotSupported;
    }
    return programVoltage(gpu, voltage, true);
}

StatusCode NvBackend::setVoltageDefault(std::uint32_t gpu) {
    const NvCardProfile& p = nvState().profile;
    if (p.GPUVoltageMin == 0 || p.GPUVoltageStep == 0 || p.DefaultGPUVoltage3D == 0) {
        return StatusCode::NotSupported;
    }
    return programVoltage(gpu, p.DefaultGPUVoltage3D, false);
}

// ---- Memory voltage and PWM clock -------------------------------------------
// Two regulator levels of one shape: a profile range whose step switches the
// feature on, a default level, pins written by level and (kind 1) read back.

namespace {

struct LevelControl {
    std::uint32_t NvCardProfile::*max;
    std::uint32_t NvCardProfile::*min;
    std::uint32_t NvCardProfile::*step;
    std::uint32_t NvCardProfile::*defaultLevel;
    StatusCode (*write)(std::uint32_t gpu, std::uint32_t level);
};

constexpr LevelControl kMemoryVoltage{&NvCardProfile::MemoryVoltageMax, &NvCardProfile::MemoryVoltageMin,
                                      &NvCardProfile::MemoryVoltageStep, &NvCardProfile::DefaultMemoryVoltageLevel3D,
                                      writeMemoryVoltage};
constexpr LevelControl kPwmClock{&NvCardProfile::PWMClockMax, &NvCardProfile::PWMClockMin,
                                 &NvCardProfile::PWMClockStep, &NvCardProfile::DefaultPWMLevel, writePwmClock};

bool offered(const LevelControl& c) { return nvState().profile.*c.step != 0; }

StatusCode levelInfo(const LevelControl& c, RangeInfo* range) {
    const NvCardProfile& p = nvState().profile;
    if (!offered(c)) {
        return StatusCode::NotSupported;
    }
    fillRange(range, p.*c.max, p.*c.min, p.*c.step);
    return StatusCode::Ok;
}

StatusCode levelDefault(const LevelControl& c, std::uint32_t* level) {
    if (!offered(c)) {
        return StatusCode::NotSupported;
    }
    *level = nvState().profile.*c.defaultLevel;
    return StatusCode::Ok;
}

StatusCode setLevel(const LevelControl& c, std::uint32_t gpu, std::uint32_t level) {
    return offered(c) ? c.write(gpu, level) : StatusCode::NotSupported;
}

StatusCode setLevelDefault(const LevelControl& c, std::uint32_t gpu) {
    return offered(c) ? c.write(gpu, nvState().profile.*c.defaultLevel) : StatusCode::NotSupported;
}

}  // namespace

StatusCode NvBackend::getCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t* level) {
    if (!offered(kMemoryVoltage)) {
        return StatusCode::NotSupported;
    }
    unsigned pins[2] = {};
    const StatusCode s = readKind1Pins(gpu, kMemoryVoltageReadPins.data(), 2, pins);
    if (s == StatusCode::Ok) {
        *level = memoryVoltageLevel(pins[0], pins[1]);
    }
    return s;
}

StatusCode NvBackend::getMemoryVoltageInfo(std::uint32_t, RangeInfo* range) {
    return levelInfo(kMemoryVoltage, range);
}

StatusCode NvBackend::getMemoryVoltageDefault(std::uint32_t, std::uint32_t* level) {
    return levelDefault(kMemoryVoltage, level);
}

StatusCode NvBackend::setCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t level) {
    return setLevel(kMemoryVoltage, gpu, level);
}

StatusCode NvBackend::setMemoryVoltageDefault(std::uint32_t gpu) { return setLevelDefault(kMemoryVoltage, gpu); }

StatusCode NvBackend::getCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t* level) {
    if (!offered(kPwmClock)) {
        return StatusCode::NotSupported;
    }
    unsigned pin = 0;
    const StatusCode s = readKind1Pins(gpu, &kPwmClockPin, 1, &pin);
    if (s == StatusCode::Ok) {
        *level = pin;
    }
    return s;
}

StatusCode NvBackend::getPwmClockInfo(std::uint32_t, RangeInfo* range) { return levelInfo(kPwmClock, range); }

StatusCode NvBackend::getPwmClockDefault(std::uint32_t, std::uint32_t* level) {
    return levelDefault(kPwmClock, level);
}

StatusCode NvBackend::setCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t level) {
    return setLevel(kPwmClock, gpu, level);
}

StatusCode NvBackend::setPwmClockDefault(std::uint32_t gpu) { return setLevelDefault(kPwmClock, gpu); }

}  // namespace zx::nv
