// zxctl apply and the daemon's changes: a profile checked against the cards,
// changed in a safe order, read back, and undone when a step fails.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "profile.h"

namespace zxctl {

// A fan curve for one GPU, its limits taken from the card.
struct GpuCurve {
    std::uint32_t gpu = 0;
    FanCurveConfig config;
    ZXRangeInfo range{};  // the fan's
    std::string key;
};

struct Plan {
    std::vector<PlannedSet> steps;  // in the order to change them
    std::vector<GpuCurve> curves;
    std::uint32_t pollMs = 1000;
};

// Reads and checks FILE against this machine's cards, nothing changed; on
// failure the exit code, with one line per problem in errors. The library
// must be started.
int planProfile(const std::string& file, Plan& plan, std::vector<std::string>& errors);

struct StepResult {
    PlannedSet step;
    Outcome outcome;
};
struct ApplyResult {
    int exit = kExitOk;
    std::vector<StepResult> done;      // every step tried, in order
    std::vector<StepResult> restored;  // after a failure: what was put back
};
// Makes the plan's changes, each read back; after a step that fails, puts
// back what this run changed (the step that failed included), newest first.
ApplyResult applyPlan(const Plan& plan);

// Puts the settings (GPU, setting name) back to the card's defaults; a
// setting without a default (the DAC level) to its value in before.
std::vector<std::string> restoreDefaults(const std::set<std::pair<std::uint32_t, std::string>>& changed,
                                         const std::vector<PlannedSet>& before, int& exit);

nlohmann::ordered_json stepJson(const StepResult& r);

// zxctl apply FILE [--dry-run]; JSON when asJson.
int cmdApply(const std::string& file, bool dryRun, bool asJson);

}  // namespace zxctl
