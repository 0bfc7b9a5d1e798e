// The ATI/AMD backend, reached through the ATI display library.
#pragma once

#include "api/backend.h"

namespace zx::ati {

class AtiBackend final : public Backend {
public:
    // ATI cards have no shader clock and no separate 2D default voltage.
    StatusCode get2DDefaultVoltage(std::uint32_t gpu, std::uint32_t* voltage) override;
    StatusCode getPerformanceLevelShaderClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode getShaderClockInfo(std::uint32_t gpu, RangeInfo* range) override;
    StatusCode getShaderClockInfoEx(std::uint32_t gpu, std::uint32_t level, RangeInfo* range) override;
    StatusCode getPerformanceDefaultShaderClocks(std::uint32_t gpu, LevelValues* clocks) override;
    StatusCode setPerformanceLevelShaderClock(std::uint32_t gpu, std::uint32_t level, std::uint32_t mhz) override;
    StatusCode setShaderClockDefault(std::uint32_t gpu) override;
};

}  // namespace zx::ati
