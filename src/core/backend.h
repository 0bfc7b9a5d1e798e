// The operations a vendor backend offers: one per dispatched export, plus
// start-up, profile reading and shutdown. Arguments arrive exactly as the
// export received them; out-parameters are already cleared. A backend answers
// only Ok, Failed or NotSupported; every backend states each operation, an
// operation its cards lack answering with one of the not-supported helpers.
#pragma once

#include <cstdint>
#include <string>

#include "core/types.h"
#include "core/ini_reader.h"

namespace zx {

class Backend {
public:
    virtual ~Backend() = default;

    // Life cycle, driven by ZXInitLib / ZXDeInitLib.
    virtual StatusCode startUp(const AdapterTable& table) = 0;
    // The card's values from its section (cardId) of the decoded card data.
    virtual StatusCode readProfile(const char* cardId, const ini::Profile& profile) = 0;
    virtual StatusCode shutDown() = 0;

    // Library, adapters and description.
    virtual StatusCode getControlMode(std::uint32_t* flags) = 0;
    virtual StatusCode getGpuCount(std::uint32_t* count) = 0;
    virtual StatusCode getCurrentPerformanceLevel(std::uint32_t gpu, std::uint32_t* level) = 0;
    virtual StatusCode getVgaInfoDescription(std::uint32_t gpu, VgaInfoDescription* desc) = 0;

    // GPU voltage.
    virtual StatusCode getCurrentVoltage(std::uint32_t gpu, std::uint32_t* voltage, std::uint32_t* level) = 0;
    virtual StatusCode getPerformanceLevelVoltages(std::uint32_t gpu, LevelValues* values) = 0;
    virtual StatusCode getPerformanceDefaultVoltages(std::uint32_t gpu, LevelValues* values) = 0;
    virtual StatusCode getVoltageInfo(std::uint32_t gpu, RangeInfo* range) = 0;
    virtual StatusCode get2DDefaultVoltage(std::uint32_t gpu, std::uint32_t* voltage) = 0;
    virtual StatusCode setCurrentVoltageLevel(std::uint32_t gpu, std::uint32_t voltage) = 0;
    virtual StatusCode setPerformanceVoltageLevel(std::uint32_t gpu, std::uint32_t level, std::uint32_t voltage) = 0;
    virtual StatusCode setVoltageDefault(std::uint32_t gpu) = 0;

    // Memory voltage.
    virtual StatusCode getCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t* level) = 0;
    virtual StatusCode getMemoryVoltageInfo(std::uint32_t gpu, RangeInfo* range) = 0;
    virtual StatusCode getMemoryVoltageDefault(std::uint32_t gpu, std::uint32_t* level) = 0;
    virtual StatusCode setCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t level) = 0;
    virtual StatusCode setMemoryVoltageDefault(std::uint32_t gpu) = 0;

    // GPU clock.
    virtual StatusCode getPerformanceLevelGpuClocks(std::uint32_t gpu, LevelValues* clocks) = 0;
    virtual StatusCode getGpuClockInfo(std::uint32_t gpu, RangeInfo* range) = 0;
    virtual StatusCode getGpuClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) = 0;
    virtual StatusCode getPerformanceDefaultGpuClocks(std::uint32_t gpu, LevelValues* clocks) = 0;
    virtual StatusCode setPerformanceLevelGpuClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) = 0;
    virtual StatusCode setGpuClockDefault(std::uint32_t gpu) = 0;

    // Memory clock.
    virtual StatusCode getPerformanceLevelMemoryClocks(std::uint32_t gpu, LevelValues* clocks) = 0;
    virtual StatusCode getMemoryClockInfo(std::uint32_t gpu, RangeInfo* range) = 0;
    virtual StatusCode getMemoryClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) = 0;
    virtual StatusCode getPerformanceDefaultMemoryClocks(std::uint32_t gpu, LevelValues* clocks) = 0;
    virtual StatusCode setPerformanceLevelMemoryClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) = 0;
    virtual StatusCode setMemoryClockDefault(std::uint32_t gpu) = 0;

    // Shader clock.
    virtual StatusCode getPerformanceLevelShaderClocks(std::uint32_t gpu, LevelValues* clocks) = 0;
    virtual StatusCode getShaderClockInfo(std::uint32_t gpu, RangeInfo* range) = 0;
    virtual StatusCode getShaderClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) = 0;
    virtual StatusCode getPerformanceDefaultShaderClocks(std::uint32_t gpu, LevelValues* clocks) = 0;
    virtual StatusCode setPerformanceLevelShaderClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) = 0;
    virtual StatusCode setShaderClockDefault(std::uint32_t gpu) = 0;

    // PWM clock.
    virtual StatusCode getCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t* level) = 0;
    virtual StatusCode getPwmClockInfo(std::uint32_t gpu, RangeInfo* range) = 0;
    virtual StatusCode getPwmClockDefault(std::uint32_t gpu, std::uint32_t* level) = 0;
    virtual StatusCode setCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t level) = 0;
    virtual StatusCode setPwmClockDefault(std::uint32_t gpu) = 0;

    // Temperature, usage and DAC.
    virtual StatusCode getTemperature(std::uint32_t gpu, std::uint32_t* celsius) = 0;
    virtual StatusCode getUsage(std::uint32_t gpu, std::uint32_t* percent) = 0;
    virtual StatusCode getDacLevel(std::uint32_t gpu, std::uint32_t* level) = 0;
    virtual StatusCode setDacLevel(std::uint32_t gpu, std::uint32_t level) = 0;

    // Fan.
    virtual StatusCode getFanSpeedInfo(std::uint32_t gpu, std::uint32_t fan, RangeInfo* range, std::uint32_t reserved) = 0;
    virtual StatusCode getFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t* percent, std::uint32_t reserved) = 0;
    virtual StatusCode setFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t percent, std::uint32_t reserved) = 0;
    virtual StatusCode setFanSpeedDefault(std::uint32_t gpu, std::uint32_t fan, std::uint32_t reserved) = 0;
};

// The shared not-supported operations: answer NotSupported and do nothing,
// or first zero the caller's record.
StatusCode notSupported();
StatusCode notSupportedRange(RangeInfo* range);
StatusCode notSupportedLevels(LevelValues* values);

}  // namespace zx
