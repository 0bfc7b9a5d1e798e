#include "support/nvsim.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace zxtest::nvsim {

Simulator::Simulator() {
    // By bare name, as the library loads it, else from the build folder (its soname then answers later bare-name
    // loads). It stays loaded, as the library keeps NVAPI: unloading a module whose thread-local strings were used
    // upsets LeakSanitizer's exit scan.
    lib_ = dlopen(kLibraryName, RTLD_NOW | RTLD_NODELETE);
    if (lib_ == nullptr) {
        lib_ = dlopen((std::string(ZX_TEST_SIMLIB_DIR) + "/" + kLibraryName).c_str(), RTLD_NOW | RTLD_NODELETE);
    }
    if (lib_ == nullptr) ADD_FAILURE() << "cannot load the NVAPI simulator: " << dlerror();
}

template <typename Fn>
Fn Simulator::symbol(const char* name) const {
    void* address = lib_ != nullptr ? dlsym(lib_, name) : nullptr;
    if (address == nullptr) throw std::runtime_error(std::string("NVAPI simulator lacks ") + name);
    return reinterpret_cast<Fn>(address);
}

void* Simulator::query(std::uint32_t id) const { return symbol<void* (*)(std::uint32_t)>("nvapi_QueryInterface")(id); }

#define ZXSIM_CALL(name, ...) symbol<decltype(&name)>(#name)(__VA_ARGS__)

int Simulator::load(const std::string& scenario) { return ZXSIM_CALL(zxsim_nvapi_load_scenario, scenario.c_str()); }
int Simulator::apply(const std::string& lines) { return ZXSIM_CALL(zxsim_nvapi_apply, lines.c_str()); }
std::string Simulator::lastError() const { return ZXSIM_CALL(zxsim_nvapi_last_error); }
void Simulator::clearLog() { ZXSIM_CALL(zxsim_nvapi_clear_log); }
bool Simulator::initialised() const { return ZXSIM_CALL(zxsim_nvapi_initialised) != 0; }

std::vector<std::string> Simulator::log() const {
    std::vector<std::string> lines;
    for (unsigned i = 0, count = ZXSIM_CALL(zxsim_nvapi_log_count); i < count; ++i) {
        const char* line = ZXSIM_CALL(zxsim_nvapi_log_line, i);
        lines.emplace_back(line != nullptr ? line : "");
    }
    return lines;
}

#undef ZXSIM_CALL

}  // namespace zxtest::nvsim
