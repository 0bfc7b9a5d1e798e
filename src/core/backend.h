// The operations a vendor backend offers: one per dispatched export, plus
// start-up, profile reading and shutdown. Arguments arrive exactly as the
// export received them; out-parameters are already cleared. A backend answers
// only Ok, Failed or NotSupported. Operations a backend does not override
// answer NotSupported.
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
    virtual StatusCode startUp(const AdapterTable& table);
    // The card's values from its section (cardId) of the decoded card data.
    virtual StatusCode readProfile(const char* cardId, const ini::Profile& profile);
    virtual StatusCode shutDown();

    // Library, adapters and description.
    virtual StatusCode getControlMode(std::uint32_t* flags);
    virtual StatusCode getGpuCount(std::uint32_t* count);
    virtual StatusCode getCurrentPerformanceLevel(std::uint32_t gpu, std::uint32_t* level);
    virtual StatusCode getVgaInfoDescription(std::uint32_t gpu, VgaInfoDescription* desc);

    // GPU voltage.
    virtual StatusCode getCurrentVoltage(std::uint32_t gpu, std::uint32_t* voltage, std::uint32_t* level);
    virtual StatusCode getPerformanceLevelVoltages(std::uint32_t gpu, LevelValues* values);
    virtual StatusCode getPerformanceDefaultVoltages(std::uint32_t gpu, LevelValues* values);
    virtual StatusCode getVoltageInfo(std::uint32_t gpu, RangeInfo* range);
    virtual StatusCode get2DDefaultVoltage(std::uint32_t gpu, std::uint32_t* voltage);
    virtual StatusCode setCurrentVoltageLevel(std::uint32_t gpu, std::uint32_t voltage);
    virtual StatusCode setPerformanceVoltageLevel(std::uint32_t gpu, std::uint32_t level, std::uint32_t voltage);
    virtual StatusCode setVoltageDefault(std::uint32_t gpu);

    // Memory voltage.
    virtual StatusCode getCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t* level);
    virtual StatusCode getMemoryVoltageInfo(std::uint32_t gpu, RangeInfo* range);
    virtual StatusCode getMemoryVoltageDefault(std::uint32_t gpu, std::uint32_t* level);
    virtual StatusCode setCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t level);
    virtual StatusCode setMemoryVoltageDefault(std::uint32_t gpu);

    // GPU clock.
    virtual StatusCode getPerformanceLevelGpuClocks(std::uint32_t gpu, LevelValues* clocks);
    virtual StatusCode getGpuClockInfo(std::uint32_t gpu, RangeInfo* range);
    virtual StatusCode getGpuClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range);
    virtual StatusCode getPerformanceDefaultGpuClocks(std::uint32_t gpu, LevelValues* clocks);
    virtual StatusCode setPerformanceLevelGpuClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz);
    virtual StatusCode setGpuClockDefault(std::uint32_t gpu);

    // Memory clock.
    virtual StatusCode getPerformanceLevelMemoryClocks(std::uint32_t gpu, LevelValues* clocks);
    virtual StatusCode getMemoryClockInfo(std::uint32_t gpu, RangeInfo* range);
    virtual StatusCode getMemoryClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range);
    virtual StatusCode getPerformanceDefaultMemoryClocks(std::uint32_t gpu, LevelValues* clocks);
    virtual StatusCode setPerformanceLevelMemoryClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz);
    virtual StatusCode setMemoryClockDefault(std::uint32_t gpu);

    // Shader clock.
    virtual StatusCode getPerformanceLevelShaderClocks(std::uint32_t gpu, LevelValues* clocks);
    virtual StatusCode getShaderClockInfo(std::uint32_t gpu, RangeInfo* range);
    virtual StatusCode getShaderClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range);
    virtual StatusCode getPerformanceDefaultShaderClocks(std::uint32_t gpu, LevelValues* clocks);
    virtual StatusCode setPerformanceLevelShaderClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz);
    virtual StatusCode setShaderClockDefault(std::uint32_t gpu);

    // PWM clock.
    virtual StatusCode getCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t* level);
    virtual StatusCode getPwmClockInfo(std::uint32_t gpu, RangeInfo* range);
    virtual StatusCode getPwmClockDefault(std::uint32_t gpu, std::uint32_t* level);
    virtual StatusCode setCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t level);
    virtual StatusCode setPwmClockDefault(std::uint32_t gpu);

    // Temperature, usage and DAC.
    virtual StatusCode getTemperature(std::uint32_t gpu, std::uint32_t* celsius);
    virtual StatusCode getUsage(std::uint32_t gpu, std::uint32_t* percent);
    virtual StatusCode getDacLevel(std::uint32_t gpu, std::uint32_t* level);
    virtual StatusCode setDacLevel(std::uint32_t gpu, std::uint32_t level);

    // Fan.
    virtual StatusCode getFanSpeedInfo(std::uint32_t gpu, std::uint32_t fan, RangeInfo* range, std::uint32_t reserved);
    virtual StatusCode getFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t* percent, std::uint32_t reserved);
    virtual StatusCode setFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t percent, std::uint32_t reserved);
    virtual StatusCode setFanSpeedDefault(std::uint32_t gpu, std::uint32_t fan, std::uint32_t reserved);
};

// The shared not-supported operations: answer NotSupported and do nothing,
// or first zero the caller's record.
StatusCode notSupported();
StatusCode notSupportedRange(RangeInfo* range);
StatusCode notSupportedLevels(LevelValues* values);

}  // namespace zx
