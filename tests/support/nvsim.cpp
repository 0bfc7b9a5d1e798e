#include "support/nvsim.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <stdexcept>

namespace zxtest::nvsim {

Simulator::Simulator() {
    // By bare name, as the library loads it; the build folder when
    // LD_LIBRARY_PATH does not name it (the loaded object's soname then
    // answers later bare-name loads). It stays loaded for the life of the
    // process, as the library keeps NVAPI: unloading a module whose
    // thread-local strings were used upsets LeakSanitizer's exit scan.
    lib_ = dlopen(kLibraryName, RTLD_NOW | RTLD_NODELETE);
    if (lib_ == nullptr) {
        lib_ = dlopen((std::string(ZX_TEST_SIMLIB_DIR) + "/" + kLibraryName).c_str(), RTLD_NOW | RTLD_NODELETE);
    }
    if (lib_ == nullptr) ADD_FAILURE() << "cannot load the NVAPI simulator: " << dlerror();
}

Simulator::~Simulator() {
    if (lib_ != nullptr) dlclose(lib_);
}

template <typename Fn>
Fn Simulator::symbol(const char* name) const {
    void* address = lib_ != nullptr ? dlsym(lib_, name) : nullptr;
    if (address == nullptr) throw std::runtime_error(std::string("NVAPI simulator lacks ") + name);
    return reinterpret_cast<Fn>(address);
}

#define ZXSIM_CALL(name, ...) symbol<decltype(&name)>(#name)(__VA_ARGS__)

void* Simulator::query(std::uint32_t id) const { return symbol<void* (*)(std::uint32_t)>("nvapi_QueryInterface")(id); }

int Simulator::load(const std::string& scenario) { return ZXSIM_CALL(zxsim_nvapi_load_scenario, scenario.c_str()); }
int Simulator::apply(const std::string& lines) { return ZXSIM_CALL(zxsim_nvapi_apply, lines.c_str()); }
void Simulator::reset() { ZXSIM_CALL(zxsim_nvapi_reset); }
std::string Simulator::lastError() const { return ZXSIM_CALL(zxsim_nvapi_last_error); }

std::vector<std::string> Simulator::log() const {
    std::vector<std::string> lines;
    unsigned count = ZXSIM_CALL(zxsim_nvapi_log_count);
    for (unsigned i = 0; i < count; ++i) {
        const char* line = ZXSIM_CALL(zxsim_nvapi_log_line, i);
        lines.emplace_back(line != nullptr ? line : "");
    }
    return lines;
}

void Simulator::clearLog() { ZXSIM_CALL(zxsim_nvapi_clear_log); }
bool Simulator::initialised() const { return ZXSIM_CALL(zxsim_nvapi_initialised) != 0; }
int Simulator::gpuCount() const { return ZXSIM_CALL(zxsim_nvapi_gpu_count); }

#undef ZXSIM_CALL

}  // namespace zxtest::nvsim
