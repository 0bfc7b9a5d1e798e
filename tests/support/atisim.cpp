#include "support/atisim.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <stdexcept>

#include "ati/zxsim_ati.h"
#include "support/fake_sysfs.h"
#include "support/test_env.h"

namespace zxtest::atisim {

namespace {
constexpr const char* kLibraryName = "libatipdlxx.so";
}

std::string fallbackOnlyFolder() { return std::string(ZX_TEST_SIMLIB_DIR) + "/ati32"; }
std::string noFanFolder() { return std::string(ZX_TEST_SIMLIB_DIR) + "/atinofan"; }

AtiMachine::AtiMachine() {
    // A machine of its own, also for a second one in the same test.
    for (const std::string& folder : {sysfsRoot(), configDir()}) {
        removeTree(folder);
        makeDirs(folder);
    }
    clearLog();
    addPciDevice(atiCard("0000:01:00.0"));
    addDrmCard(0, true);
}

std::string AtiMachine::logPath() const { return testRoot() + "/atidl.log"; }

EnvVars AtiMachine::prepare(const std::string& scenario, const std::string& profile) const {
    const std::string scenarioPath = testRoot() + "/atidl.scenario";
    writeFile(scenarioPath, scenario);
    host.addCardData("ATIVGA.DAT", std::string("[") + kCardId + "]\n" + profile);
    return {{"ZXSIM_ATI_SCENARIO", scenarioPath}, {"ZXSIM_ATI_LOG", logPath()}};
}

HostResult AtiMachine::run(const std::string& scenario, std::vector<std::string> commands, const std::string& profile,
                           const EnvVars& extra) {
    EnvVars env = prepare(scenario, profile);
    env.insert(env.end(), extra.begin(), extra.end());
    commands.insert(commands.begin(), "ZXInitLib");
    return host.run(commands, env);
}

HostResult AtiMachine::runAfterStartUp(const std::string& scenario, const std::vector<std::string>& commands,
                                       const std::string& profile, const EnvVars& extra) {
    run(scenario, {}, profile, extra);
    clearLog();
    run(scenario, {}, profile, extra);
    const std::size_t startUpLines = log().size();
    clearLog();
    HostResult r = run(scenario, commands, profile, extra);
    const std::vector<std::string> lines = log();
    commandLog_.assign(lines.begin() + static_cast<std::ptrdiff_t>(std::min(startUpLines, lines.size())),
                       lines.end());
    return r;
}

std::vector<std::string> AtiMachine::log() const {
    std::vector<std::string> lines;
    if (!fileExists(logPath())) {
        return lines;
    }
    std::istringstream in(readFile(logPath()));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> AtiMachine::logOf(const std::string& op) const {
    std::vector<std::string> out;
    for (const std::string& line : log()) {
        if (line.rfind(op + " ", 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

std::vector<std::string> AtiMachine::i2cLog() const {
    std::vector<std::string> out;
    for (const std::string& line : log()) {
        if (line.rfind("WriteAndReadI2C", 0) == 0) {
            out.push_back(line);
        }
    }
    return out;
}

void AtiMachine::clearLog() const {
    if (fileExists(logPath())) {
        writeFile(logPath(), "");
    }
}

Control::Control() {
    // Kept loaded for the life of the process, as the library keeps it.
    lib_ = dlopen(kLibraryName, RTLD_NOW | RTLD_NODELETE);
    if (lib_ == nullptr) {
        lib_ = dlopen((std::string(ZX_TEST_SIMLIB_DIR) + "/" + kLibraryName).c_str(), RTLD_NOW | RTLD_NODELETE);
    }
    if (lib_ == nullptr) {
        ADD_FAILURE() << "cannot load the ATI display library simulator: " << dlerror();
    }
}

void* Control::entry(const char* name) const {
    void* address = lib_ != nullptr ? dlsym(lib_, name) : nullptr;
    if (address == nullptr) {
        throw std::runtime_error(std::string("ATI simulator lacks ") + name);
    }
    return address;
}

#define ZXSIM_CALL(name, ...) reinterpret_cast<decltype(&name)>(entry(#name))(__VA_ARGS__)

int Control::load(const std::string& scenario) { return ZXSIM_CALL(zxsim_ati_load_scenario, scenario.c_str()); }

int Control::apply(const std::string& lines) { return ZXSIM_CALL(zxsim_ati_apply, lines.c_str()); }

std::string Control::lastError() const { return ZXSIM_CALL(zxsim_ati_last_error); }

std::vector<std::string> Control::log() const {
    std::vector<std::string> lines;
    const unsigned count = ZXSIM_CALL(zxsim_ati_log_count);
    for (unsigned i = 0; i < count; ++i) {
        const char* line = ZXSIM_CALL(zxsim_ati_log_line, i);
        lines.emplace_back(line != nullptr ? line : "");
    }
    return lines;
}

#undef ZXSIM_CALL

}  // namespace zxtest::atisim
