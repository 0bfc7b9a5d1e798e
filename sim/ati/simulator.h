// The simulated display library: the running scenario, the entry points
// answered on it, and the call log. One instance per loaded library; every
// member function takes the instance's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "scenario.h"

namespace zxsim::ati {

class Simulator {
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

    // Control interface (zxsim_ati.h).
    int loadScenario(const std::string& text);
    int apply(const std::string& text);
    void reset();
    std::string lastError();
    std::size_t logCount();
    std::optional<std::string> logLine(std::size_t i);
    void clearLog();
    // Off: calls are no longer logged (benchmarks); on by default.
    void setLogging(bool on);
    std::size_t gpuCount();
    std::optional<unsigned> pinLevel(unsigned gpu, unsigned pin);
    std::optional<std::int32_t> levelValue(unsigned gpu, unsigned row, unsigned column);

    static constexpr std::size_t kMaxLogLines = 65536;

private:
    class Call;

    Simulator() = default;
    void startLocked();
    int loadLocked(const std::string& text, const std::string& origin);
    void appendLog(const std::string& line);
    // Writes the state file (ZXSIM_ATI_STATE) after a call changed the state.
    void saveLocked();
    int transfer(Call& call, Gpu* gpu, I2cTransfer* t);

    std::mutex mutex_;
    bool started_ = false;
    bool broken_ = false;
    Scenario initial_;
    Scenario state_;
    std::string error_;
    std::string statePath_;
    std::deque<std::string> log_;
    bool logging_ = true;
    int logFd_ = -1;
};

}  // namespace zxsim::ati
