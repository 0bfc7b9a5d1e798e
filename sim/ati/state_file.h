// The simulated display library's state as scenario text describing the GPUs
// and display devices as they are now: written to the state file
// (ZXSIM_ATI_STATE) after every call that changed them and loaded instead of
// the scenario when present.
#pragma once

#include <string>

#include "scenario.h"

namespace zxsim::ati {

// Scenario text that loads back into the same GPUs (location, I2C paths,
// overdrive parameters, level tables in force and default, activity,
// temperature, fans, pin controller registers) and display devices. Faults
// are not state.
std::string stateText(const Scenario& scenario);

}  // namespace zxsim::ati
