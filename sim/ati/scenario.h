// What the simulated display library simulates: display devices, GPUs by PCI
// location with their overdrive parameters, performance levels, activity,
// temperature, fans and regulator pin controller, and the faults to inject.
// Built from scenario text.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "atidl_contract.h"
#include "pin_controller.h"
#include "scenario_text.h"

namespace zxsim::ati {

// The twelve entry points.
enum class Op : unsigned {
    GetODParameters,
    GetPMCurrentActivity,
    GetODPerformanceLevels,
    SetODPerformanceLevels,
    GetTemperature,
    WriteAndReadI2C,
    WriteAndReadI2CEx,
    GetAdapterID,
    GetFanSpeedInfo,
    GetFanSpeed,
    SetFanSpeed,
    SetFanSpeedToDefault,
};
inline constexpr std::size_t kOpCount = 12;

const char* opName(Op op);
std::optional<Op> opByName(const std::string& name);
// Whether the entry point takes a GPU location.
bool opTakesGpu(Op op);

// Adapter indices at which a GPU's I2C bus answers on one path; nothing: all.
using AdapterSet = std::optional<std::set<std::int32_t>>;

struct Fan {
    std::int32_t min = 0;
    std::int32_t max = 100;
    std::int32_t speed = 0;
    std::int32_t defaultSpeed = 0;
};

struct Gpu {
    Location location{};
    OdParameters od{};
    std::optional<std::int32_t> levelCount;  // reported count when not the rows'
    std::vector<LevelRow> levels;            // in force
    std::vector<LevelRow> defaults;
    std::int32_t activity = 0;
    std::int32_t currentLevel = 0;
    std::optional<std::int32_t> voltage;     // else the current level's
    std::int32_t milliDegrees = 0;
    std::vector<Fan> fans;
    AdapterSet plain;
    AdapterSet extended;
    PinController pins{PinController::Kind::One};

    std::int32_t reportedLevels() const { return levelCount.value_or(static_cast<std::int32_t>(levels.size())); }
};

struct Display {
    std::int32_t status = 0;
    std::int32_t id = 1;
};

struct Fault : FaultWindow {
    Op op = Op::GetODParameters;
    std::int32_t status = 0;
    std::optional<std::uint32_t> gpu;
    std::optional<std::int32_t> adapter;  // also the display index of GetAdapterID
    std::optional<std::int32_t> speed;
    std::optional<std::int32_t> action;  // I2C transfers of this action only (1 read, 2 write)
};

struct Scenario {
    std::vector<Gpu> gpus;
    std::map<std::int32_t, Display> displays;  // others: status 0, id 1
    std::vector<Fault> faults;
};

using zxsim::ParseError;

ParseError parseScenario(const std::string& text, Scenario& out);
// fault and display lines only; nothing is added when a line is bad.
ParseError parseAdditions(const std::string& text, Scenario& scenario);

}  // namespace zxsim::ati
