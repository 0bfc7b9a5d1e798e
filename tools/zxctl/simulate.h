// Simulated machines: a bundled machine description turned into a private
// environment in which the library finds a simulated card instead of the real
// machine, and zxctl re-executed inside it.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace zxctl {

// Set in the re-executed process to the machine's name.
inline constexpr const char* kSimulatedEnv = "ZXCTL_SIMULATED";

// Set in the re-executed process to the simulators' state files, separated
// by ':'.
inline constexpr const char* kSimulatedStateEnv = "ZXCTL_SIMULATED_STATE";

// Whether this process runs inside a simulated machine.
bool inSimulation();

// A stamp of the simulated machine's state files ("" outside a simulation):
// the simulators replace a state file on every change they save.
std::string simulatedStateStamp();
// After a change the card took: why it is not saved when the stamp taken
// before did not change, else nothing.
std::optional<std::string> unsavedSimulatedChange(const std::string& before);

// The bundled machines, by name, in name order.
std::vector<std::string> simulatedMachines();

// A machine's one-line description ("" when it has none).
std::string machineDescription(const std::string& name);

// Prepares the machine's state folder (afresh when reset or when the bundled
// machine changed) and re-executes zxctl in it with argv. Returns only when
// that failed, with a message written to stderr; the value is the exit code.
int enterSimulation(const std::string& name, bool reset, char** argv);

}  // namespace zxctl
