// A backend whose every dispatched operation hands its name and arguments to
// Derived::respond(name, args...): the one place a test double or a benchmark
// states the whole operation list. The life cycle is not dispatched by the
// exports, so it answers as an unstarted backend would.
#pragma once

#include <cstdint>

#include "core/backend.h"

namespace zxtest {

template <class Derived>
class ForwardingBackend : public zx::Backend {
public:
    using StatusCode = zx::StatusCode;
    using LevelValues = zx::LevelValues;
    using RangeInfo = zx::RangeInfo;
    using VgaInfoDescription = zx::VgaInfoDescription;
    using U = std::uint32_t;

    StatusCode startUp(const zx::AdapterTable&) override { return StatusCode::Failed; }
    StatusCode readProfile(const char*, const zx::ini::Profile&) override { return StatusCode::Ok; }
    StatusCode shutDown() override { return StatusCode::Ok; }

    StatusCode getControlMode(U* o) override { return self().respond("getControlMode", o); }
    StatusCode getGpuCount(U* o) override { return self().respond("getGpuCount", o); }
    StatusCode getCurrentPerformanceLevel(U g, U* o) override { return self().respond("getCurrentPerformanceLevel", g, o); }
    StatusCode getVgaInfoDescription(U g, VgaInfoDescription* o) override { return self().respond("getVgaInfoDescription", g, o); }
    StatusCode getCurrentVoltage(U g, U* o, U* o2) override { return self().respond("getCurrentVoltage", g, o, o2); }
    StatusCode getPerformanceLevelVoltages(U g, LevelValues* o) override { return self().respond("getPerformanceLevelVoltages", g, o); }
    StatusCode getPerformanceDefaultVoltages(U g, LevelValues* o) override { return self().respond("getPerformanceDefaultVoltages", g, o); }
    StatusCode getVoltageInfo(U g, RangeInfo* o) override { return self().respond("getVoltageInfo", g, o); }
    StatusCode get2DDefaultVoltage(U g, U* o) override { return self().respond("get2DDefaultVoltage", g, o); }
    StatusCode setCurrentVoltageLevel(U g, U a) override { return self().respond("setCurrentVoltageLevel", g, a); }
    StatusCode setPerformanceVoltageLevel(U g, U a, U b) override { return self().respond("setPerformanceVoltageLevel", g, a, b); }
    StatusCode setVoltageDefault(U g) override { return self().respond("setVoltageDefault", g); }
    StatusCode getCurrentMemoryVoltageLevel(U g, U* o) override { return self().respond("getCurrentMemoryVoltageLevel", g, o); }
    StatusCode getMemoryVoltageInfo(U g, RangeInfo* o) override { return self().respond("getMemoryVoltageInfo", g, o); }
    StatusCode getMemoryVoltageDefault(U g, U* o) override { return self().respond("getMemoryVoltageDefault", g, o); }
    StatusCode setCurrentMemoryVoltageLevel(U g, U a) override { return self().respond("setCurrentMemoryVoltageLevel", g, a); }
    StatusCode setMemoryVoltageDefault(U g) override { return self().respond("setMemoryVoltageDefault", g); }
    StatusCode getPerformanceLevelGpuClocks(U g, LevelValues* o) override { return self().respond("getPerformanceLevelGpuClocks", g, o); }
    StatusCode getGpuClockInfo(U g, RangeInfo* o) override { return self().respond("getGpuClockInfo", g, o); }
    StatusCode getGpuClockInfoEx(U g, U a, RangeInfo* o) override { return self().respond("getGpuClockInfoEx", g, a, o); }
    StatusCode getPerformanceDefaultGpuClocks(U g, LevelValues* o) override { return self().respond("getPerformanceDefaultGpuClocks", g, o); }
    StatusCode setPerformanceLevelGpuClock(U g, U a, U b) override { return self().respond("setPerformanceLevelGpuClock", g, a, b); }
    StatusCode setGpuClockDefault(U g) override { return self().respond("setGpuClockDefault", g); }
    StatusCode getPerformanceLevelMemoryClocks(U g, LevelValues* o) override { return self().respond("getPerformanceLevelMemoryClocks", g, o); }
    StatusCode getMemoryClockInfo(U g, RangeInfo* o) override { return self().respond("getMemoryClockInfo", g, o); }
    StatusCode getMemoryClockInfoEx(U g, U a, RangeInfo* o) override { return self().respond("getMemoryClockInfoEx", g, a, o); }
    StatusCode getPerformanceDefaultMemoryClocks(U g, LevelValues* o) override { return self().respond("getPerformanceDefaultMemoryClocks", g, o); }
    StatusCode setPerformanceLevelMemoryClock(U g, U a, U b) override { return self().respond("setPerformanceLevelMemoryClock", g, a, b); }
    StatusCode setMemoryClockDefault(U g) override { return self().respond("setMemoryClockDefault", g); }
    StatusCode getPerformanceLevelShaderClocks(U g, LevelValues* o) override { return self().respond("getPerformanceLevelShaderClocks", g, o); }
    StatusCode getShaderClockInfo(U g, RangeInfo* o) override { return self().respond("getShaderClockInfo", g, o); }
    StatusCode getShaderClockInfoEx(U g, U a, RangeInfo* o) override { return self().respond("getShaderClockInfoEx", g, a, o); }
    StatusCode getPerformanceDefaultShaderClocks(U g, LevelValues* o) override { return self().respond("getPerformanceDefaultShaderClocks", g, o); }
    StatusCode setPerformanceLevelShaderClock(U g, U a, U b) override { return self().respond("setPerformanceLevelShaderClock", g, a, b); }
    StatusCode setShaderClockDefault(U g) override { return self().respond("setShaderClockDefault", g); }
    StatusCode getCurrentPwmClockLevel(U g, U* o) override { return self().respond("getCurrentPwmClockLevel", g, o); }
    StatusCode getPwmClockInfo(U g, RangeInfo* o) override { return self().respond("getPwmClockInfo", g, o); }
    StatusCode getPwmClockDefault(U g, U* o) override { return self().respond("getPwmClockDefault", g, o); }
    StatusCode setCurrentPwmClockLevel(U g, U a) override { return self().respond("setCurrentPwmClockLevel", g, a); }
    StatusCode setPwmClockDefault(U g) override { return self().respond("setPwmClockDefault", g); }
    StatusCode getTemperature(U g, U* o) override { return self().respond("getTemperature", g, o); }
    StatusCode getUsage(U g, U* o) override { return self().respond("getUsage", g, o); }
    StatusCode getDacLevel(U g, U* o) override { return self().respond("getDacLevel", g, o); }
    StatusCode setDacLevel(U g, U a) override { return self().respond("setDacLevel", g, a); }
    StatusCode getFanSpeedInfo(U g, U a, RangeInfo* o, U b) override { return self().respond("getFanSpeedInfo", g, a, o, b); }
    StatusCode getFanSpeed(U g, U a, U* o, U b) override { return self().respond("getFanSpeed", g, a, o, b); }
    StatusCode setFanSpeed(U g, U a, U b, U c) override { return self().respond("setFanSpeed", g, a, b, c); }
    StatusCode setFanSpeedDefault(U g, U a, U b) override { return self().respond("setFanSpeedDefault", g, a, b); }

private:
    Derived& self() { return static_cast<Derived&>(*this); }
};

}  // namespace zxtest
