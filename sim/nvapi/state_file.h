// Keeping the simulated driver's state in a file between processes: the file
// is scenario text describing the GPUs as they are now, written after every
// call that changed them and loaded instead of the scenario when present.
#pragma once

#include <optional>
#include <string>

#include "scenario.h"

namespace zxsim {

// The file named by ZXSIM_NVAPI_STATE; empty when the variable is unset.
std::string stateFilePath();

// The file's text, or nothing when there is none to load.
std::optional<std::string> readStateFile(const std::string& path);

// True for the operations that can change GPU state when they succeed.
bool changesState(Op op);

// Scenario text that loads back into the same GPUs, clocks, sensors, coolers
// and I2C registers. Faults and missing operations are not state.
std::string stateText(const Scenario& scenario);

// Replaces the file in one step (a reader sees the old or the new text).
void writeStateFile(const std::string& path, const Scenario& scenario);

}  // namespace zxsim
