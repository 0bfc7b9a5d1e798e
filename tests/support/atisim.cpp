#include "support/atisim.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>

#include "ati/zxsim_ati.h"
#include "support/test_env.h"

namespace zxtest::atisim {

AtiMachine::AtiMachine() {
    // A machine of its own, also for a second one in the same test.
    clearSysfs();
    removeTree(configDir());
    makeDirs(configDir());
    driver.clearLog();
    addPciDevice("0000:01:00.0", kAtiCard);
    addDrmCard(0, true);
}

EnvVars AtiMachine::prepare(const std::string& scenario, const std::string& profile) const {
    host.addCardData("ATIVGA.DAT", std::string("[") + kCardId + "]\n" + profile);
    return driver.env(scenario);
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
    driver.clearLog();
    run(scenario, {}, profile, extra);
    const std::size_t startUpLines = driver.log().size();
    driver.clearLog();
    HostResult r = run(scenario, commands, profile, extra);
    const std::vector<std::string> lines = driver.log();
    commandLog_.assign(lines.begin() + static_cast<std::ptrdiff_t>(std::min(startUpLines, lines.size())), lines.end());
    return r;
}

Control::Control() {
    // Kept loaded for the life of the process, as the library keeps it.
    lib_ = dlopen("libatipdlxx.so", RTLD_NOW | RTLD_NODELETE);
    if (lib_ == nullptr) lib_ = dlopen(ZX_TEST_SIMLIB_DIR "/libatipdlxx.so", RTLD_NOW | RTLD_NODELETE);
    if (lib_ == nullptr) ADD_FAILURE() << "cannot load the ATI display library simulator: " << dlerror();
}

void* Control::entry(const char* name) const {
    void* address = lib_ != nullptr ? dlsym(lib_, name) : nullptr;
    if (address == nullptr) throw std::runtime_error(std::string("ATI simulator lacks ") + name);
    return address;
}

#define ZXSIM_CALL(name, ...) reinterpret_cast<decltype(&name)>(entry(#name))(__VA_ARGS__)

int Control::load(const std::string& scenario) { return ZXSIM_CALL(zxsim_ati_load_scenario, scenario.c_str()); }
int Control::apply(const std::string& lines) { return ZXSIM_CALL(zxsim_ati_apply, lines.c_str()); }
std::string Control::lastError() const { return ZXSIM_CALL(zxsim_ati_last_error); }

std::vector<std::string> Control::log() const {
    std::vector<std::string> lines;
    for (unsigned i = 0, count = ZXSIM_CALL(zxsim_ati_log_count); i < count; ++i) {
        const char* line = ZXSIM_CALL(zxsim_ati_log_line, i);
        lines.emplace_back(line != nullptr ? line : "");
    }
    return lines;
}

#undef ZXSIM_CALL

}  // namespace zxtest::atisim
