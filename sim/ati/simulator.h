// The simulated display library: the entry points answered on the running
// scenario; the scenario, call log and control functions are the shared
// DriverCore's. One instance per loaded library; every member function takes
// the instance's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "driver_core.h"
#include "scenario.h"

namespace zxsim::ati {

class Simulator final : public DriverCore<Scenario> {
public:
    static Simulator& instance();

    int getOdParameters(int adapter, OdParameters* od, Location* loc);
    int getPmCurrentActivity(int adapter, PmActivity* activity, Location* loc);
    int getOdPerformanceLevels(int adapter, LevelsHeader* levels, int defaults, Location* loc);
    int setOdPerformanceLevels(int adapter, LevelsHeader* levels, Location* loc);
    int getTemperature(int adapter, int controller, Temperature* t, Location* loc);
    int writeAndReadI2c(int adapter, I2cTransfer* t);
    int writeAndReadI2cEx(int adapter, I2cTransfer* t, Location* loc);
    int getAdapterId(int display, int* id);
    int getFanSpeedInfo(int adapter, int fan, FanInfo* info, Location* loc);
    int getFanSpeed(int adapter, int fan, FanValue* value, Location* loc);
    int setFanSpeed(int adapter, int fan, FanValue* value, Location* loc);
    int setFanSpeedToDefault(int adapter, int fan, Location* loc);

    // Control interface (zxsim_ati.h) beyond DriverCore's.
    std::size_t gpuCount();
    std::optional<unsigned> pinLevel(unsigned gpu, unsigned pin);
    std::optional<std::int32_t> levelValue(unsigned gpu, unsigned row, unsigned column);

private:
    class Call;

    Simulator();
    int transfer(Call& call, Gpu* gpu, I2cTransfer* t);
};

}  // namespace zxsim::ati
