// The NVIDIA backend, reached through NVAPI.
#pragma once

#include "core/backend.h"
#include "nv/nvapi_types.h"

namespace zx::nv {

class NvBackend : public Backend {
public:
    static NvBackend& instance();

    StatusCode startUp(const AdapterTable& table) override;
    StatusCode readProfile(const char* cardId, const ini::Profile& profile) override;
    StatusCode shutDown() override;

    StatusCode getControlMode(std::uint32_t* flags) override;
    StatusCode getGpuCount(std::uint32_t* count) override;
    StatusCode getCurrentPerformanceLevel(std::uint32_t gpu, std::uint32_t* level) override;
    StatusCode getVgaInfoDescription(std::uint32_t gpu, VgaInfoDescription* desc) override;

    // GPU voltage, memory voltage and PWM clock: the regulator (regulator/).
    StatusCode getCurrentVoltage(std::uint32_t gpu, std::uint32_t* voltage, std::uint32_t* level) override;
    StatusCode getPerformanceLevelVoltages(std::uint32_t gpu, LevelValues* values) override;
    StatusCode getPerformanceDefaultVoltages(std::uint32_t gpu, LevelValues* values) override;
    StatusCode getVoltageInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode get2DDefaultVoltage(std::uint32_t gpu, std::uint32_t* voltage) override;
    StatusCode setCurrentVoltageLevel(std::uint32_t gpu, std::uint32_t voltage) override;
    StatusCode setPerformanceVoltageLevel(std::uint32_t gpu, std::uint32_t level, std::uint32_t voltage) override;
    StatusCode setVoltageDefault(std::uint32_t gpu) override;

    StatusCode getCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t* level) override;
    StatusCode getMemoryVoltageInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode getMemoryVoltageDefault(std::uint32_t gpu, std::uint32_t* level) override;
    StatusCode setCurrentMemoryVoltageLevel(std::uint32_t gpu, std::uint32_t level) override;
    StatusCode setMemoryVoltageDefault(std::uint32_t gpu) override;

    StatusCode getCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t* level) override;
    StatusCode getPwmClockInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode getPwmClockDefault(std::uint32_t gpu, std::uint32_t* level) override;
    StatusCode setCurrentPwmClockLevel(std::uint32_t gpu, std::uint32_t level) override;
    StatusCode setPwmClockDefault(std::uint32_t gpu) override;

    StatusCode getPerformanceLevelGpuClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode getGpuClockInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode getGpuClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override;
    StatusCode getPerformanceDefaultGpuClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode setPerformanceLevelGpuClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override;
    StatusCode setGpuClockDefault(std::uint32_t gpu) override;

    StatusCode getPerformanceLevelMemoryClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode getMemoryClockInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode getMemoryClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override;
    StatusCode getPerformanceDefaultMemoryClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode setPerformanceLevelMemoryClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override;
    StatusCode setMemoryClockDefault(std::uint32_t gpu) override;

    StatusCode getPerformanceLevelShaderClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode getShaderClockInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode getShaderClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override;
    StatusCode getPerformanceDefaultShaderClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode setPerformanceLevelShaderClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override;
    StatusCode setShaderClockDefault(std::uint32_t gpu) override;

    StatusCode getTemperature(std::uint32_t gpu, std::uint32_t* celsius) override;
    StatusCode getUsage(std::uint32_t gpu, std::uint32_t* percent) override;
    StatusCode getDacLevel(std::uint32_t gpu, std::uint32_t* level) override;
    StatusCode setDacLevel(std::uint32_t gpu, std::uint32_t level) override;

    StatusCode getFanSpeedInfo(std::uint32_t gpu, std::uint32_t fan, RangeInfo* range, std::uint32_t reserved) override;
    StatusCode getFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t* percent, std::uint32_t reserved) override;
    StatusCode setFanSpeed(std::uint32_t gpu, std::uint32_t fan, std::uint32_t percent, std::uint32_t reserved) override;
    StatusCode setFanSpeedDefault(std::uint32_t gpu, std::uint32_t fan, std::uint32_t reserved) override;
};

}  // namespace zx::nv
