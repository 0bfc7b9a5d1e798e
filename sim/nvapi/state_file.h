// The simulated driver's state as scenario text describing the GPUs as they
// are now: written to the state file (ZXSIM_NVAPI_STATE) after every call
// that changed them and loaded instead of the scenario when present.
#pragma once

#include <string>

#include "scenario.h"

namespace zxsim {

// True for the operations that can change GPU state when they succeed.
bool changesState(Op op);

// Scenario text that loads back into the same GPUs, clocks, sensors, coolers
// and I2C registers. Faults and missing operations are not state.
std::string stateText(const Scenario& scenario);

}  // namespace zxsim
