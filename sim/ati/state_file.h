// Keeping the simulated display library's state in a file between processes:
// the file is scenario text describing the GPUs and display devices as they
// are now, written after every call that changed them and loaded instead of
// the scenario when present.
#pragma once

#include <optional>
#include <string>

#include "scenario.h"

namespace zxsim::ati {

// The file named by ZXSIM_ATI_STATE; empty when the variable is unset.
std::string stateFilePath();

// The file's text, or nothing when there is none to load.
std::optional<std::string> readStateFile(const std::string& path);

// Scenario text that loads back into the same GPUs (location, I2C paths,
// overdrive parameters, level tables in force and default, activity,
// temperature, fans, pin controller registers) and display devices. Faults
// are not state.
std::string stateText(const Scenario& scenario);

// Replaces the file in one step (a reader sees the old or the new text).
void writeStateFile(const std::string& path, const Scenario& scenario);

}  // namespace zxsim::ati
