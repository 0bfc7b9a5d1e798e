// What the simulated driver simulates: its GPUs with their clocks, sensors,
// coolers and I2C devices, and the faults to inject. Built from scenario text.
#pragma once

#include "temperature_schedule.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "i2c_bus.h"
#include "nvapi_contract.h"
#include "scenario_text.h"

namespace zxsim {

using nv::NvStatus;

// The operations nvapi_QueryInterface answers.
enum class Op : unsigned {
    Initialize,
    EnumPhysicalGpus,
    GetBusId,
    GetPerfClocks,
    SetPerfClocks,
    GetThermalSettings,
    GetCoolerSettings,
    SetCoolerLevels,
    RestoreCoolerSettings,
    I2cRead,
    I2cWrite,
};
inline constexpr std::size_t kOpCount = 11;

struct OpInfo {
    Op op;
    const char* name;  // as in scenario lines and the call log
    std::uint32_t id;
    bool takesGpu;     // first argument is a GPU handle
};
const OpInfo& opInfo(Op op);
std::optional<Op> opByName(const std::string& name);
std::optional<Op> opById(std::uint32_t id);

struct Cooler {
    nv::NvCoolerRow row;
    std::uint32_t defaultLevel;  // the level the driver returns to on restore
    // A fan that cannot turn faster: a level set above it is accepted and
    // held at it, as drivers that clamp silently do.
    std::optional<std::uint32_t> ceiling;
};

struct Gpu {
    std::uint32_t bus = 0;
    std::uint32_t levelCount = 1;
    std::uint32_t currentLevel = 0;
    // Clock entries by level selector, in record order.
    std::map<std::uint32_t, std::vector<nv::NvClockEntry>> clocks;
    std::vector<nv::NvThermalSensor> sensors;
    // Sensors whose temperature follows the wall clock, by index.
    std::map<std::size_t, zxsim::TemperatureSchedule> schedules;
    std::vector<Cooler> coolers;
    I2cBus i2c;
};

struct Fault : FaultWindow {
    Op op = Op::Initialize;
    NvStatus status = 0;
    std::optional<std::uint32_t> gpu;  // only calls on this GPU
};

struct Scenario {
    std::vector<Gpu> gpus;
    std::vector<Fault> faults;  // in scenario order; the first active one answers
    std::array<bool, kOpCount> missing{};
};

// Parses a whole scenario.
ParseError parseScenario(const std::string& text, Scenario& out);
// Adds fault, missing and init lines to a scenario; other lines are errors.
// Nothing is added when a line is bad.
ParseError parseAdditions(const std::string& text, Scenario& scenario);

}  // namespace zxsim
