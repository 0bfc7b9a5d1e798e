// Test helpers for the simulated ATI display library (libatipdlxx.so): an ATI
// machine that runs the deployed host on a scenario and reads the call log,
// and an in-process handle on the simulator's control interface.
#pragma once

#include <string>
#include <vector>

#include "support/host.h"

namespace zxtest::atisim {

// Card model of fake_sysfs's atiCard(), as the card data file names it.
inline constexpr const char* kCardId = "1002_9460_0502_7A3C";

// Simulator folders below the simulated libraries' folder.
std::string fallbackOnlyFolder();  // only libatipdlxx32.so
std::string noFanFolder();         // libatipdlxx.so without the fan entry points

// One ATI card at PCI 01:00.0 whose DRM card 0 is attached to the desktop,
// with an empty store (construct in the test body: it empties the test's
// sysfs root and configuration folder).
class AtiMachine {
public:
    AtiMachine();

    // ZXInitLib then the commands, on the scenario and with profile keys in
    // the card's section of ATIVGA.DAT; extra variables are added last.
    HostResult run(const std::string& scenario, std::vector<std::string> commands, const std::string& profile = "",
                   const EnvVars& extra = {});

    // The same after two start-ups (the first fills the store): the log then
    // keeps only the lines the commands caused, for commandLog().
    HostResult runAfterStartUp(const std::string& scenario, const std::vector<std::string>& commands,
                               const std::string& profile = "", const EnvVars& extra = {});
    const std::vector<std::string>& commandLog() const { return commandLog_; }

    // Writes the scenario and card data; the variables a host run needs.
    EnvVars prepare(const std::string& scenario, const std::string& profile = "") const;

    std::vector<std::string> log() const;
    // Lines of one entry point ("GetODParameters", "WriteAndReadI2CEx", ...),
    // in order.
    std::vector<std::string> logOf(const std::string& op) const;
    // Lines of both I2C entry points, in order.
    std::vector<std::string> i2cLog() const;
    void clearLog() const;

    HostDeployment host;

private:
    std::string logPath() const;
    std::vector<std::string> commandLog_;
};

// The simulator loaded in this process (the same object a bare-name load
// gets), for its control interface.
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
