// Test helpers for the simulated ATI display library (libatipdlxx.so): an ATI machine that runs the deployed host on a
// scenario and reads the call log, and an in-process handle on the simulator's control interface.
#pragma once

#include <string>
#include <vector>

#include "support/fake_sysfs.h"
#include "support/host.h"

namespace zxtest::atisim {

// Card model of the machine's card, as the card data file names it.
inline constexpr const char* kCardId = kAtiCard;

// Simulator folders below the simulated libraries' folder.
inline std::string fallbackOnlyFolder() { return std::string(ZX_TEST_SIMLIB_DIR) + "/ati32"; }  // only the 32 library
inline std::string noFanFolder() { return std::string(ZX_TEST_SIMLIB_DIR) + "/atinofan"; }      // no fan entry points

// One ATI card at PCI 01:00.0 whose DRM card 0 is attached to the desktop, with an empty store (construct in the test
// body: it empties the test's sysfs root and configuration folder).
class AtiMachine {
public:
    AtiMachine();

    // ZXInitLib then the commands, on the scenario and with profile keys in the card's section of ATIVGA.DAT.
    HostResult run(const std::string& scenario, std::vector<std::string> commands, const std::string& profile = "",
                   const EnvVars& extra = {});
    // The same after two start-ups (the first fills the store); commandLog() then holds the commands' log lines.
    HostResult runAfterStartUp(const std::string& scenario, const std::vector<std::string>& commands,
                               const std::string& profile = "", const EnvVars& extra = {});
    const std::vector<std::string>& commandLog() const { return commandLog_; }
    // Writes the scenario and card data; the variables a host run needs.
    EnvVars prepare(const std::string& scenario, const std::string& profile = "") const;

    HostDeployment host;
    SimDriver driver{"ATI"};

private:
    std::vector<std::string> commandLog_;
};

// The simulator loaded in this process (the object a bare-name load gets), for its control interface.
class Control {
public:
    Control();
    int load(const std::string& scenario);
    int apply(const std::string& lines);
    std::string lastError() const;
    std::vector<std::string> log() const;
    // The library's own entry point, by name.
    void* entry(const char* name) const;

private:
    void* lib_ = nullptr;
};

}  // namespace zxtest::atisim
