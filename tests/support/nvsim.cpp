#include "support/nvsim.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>

#include "support/test_env.h"

extern char** environ;

namespace zxtest::nvsim {

namespace {

std::string hex(std::uint32_t value) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "0x%02X", value);
    return buffer;
}

}  // namespace

void LineFields::add(const char* key, long long value) {
    text_ += std::string(" ") + key + "=" + std::to_string(value);
}

Clock::Clock(std::uint32_t sel, std::uint32_t domain, std::uint32_t freqKHz) : LineFields("clock") {
    add("sel", sel);
    add("domain", domain);
    add("freq", freqKHz);
}
Clock& Clock::range(std::uint32_t minKHz, std::uint32_t maxKHz) {
    add("min", minKHz);
    add("max", maxKHz);
    return *this;
}
Clock& Clock::defaultFreq(std::uint32_t kHz) {
    add("default", kHz);
    return *this;
}

Cooler::Cooler() : LineFields("cooler") {}
Cooler& Cooler::type(std::uint32_t value) {
    add("type", value);
    return *this;
}
Cooler& Cooler::target(std::uint32_t value) {
    add("target", value);
    return *this;
}
Cooler& Cooler::range(std::uint32_t min, std::uint32_t max) {
    add("min", min);
    add("max", max);
    return *this;
}
Cooler& Cooler::level(std::uint32_t value) {
    add("level", value);
    return *this;
}
Cooler& Cooler::defaultLevel(std::uint32_t value) {
    add("default", value);
    return *this;
}
Cooler& Cooler::policy(std::uint32_t value) {
    add("policy", value);
    return *this;
}
Cooler& Cooler::defaultPolicy(std::uint32_t value) {
    add("defaultpolicy", value);
    return *this;
}

Fault::Fault(const std::string& op, std::int32_t status) : LineFields("fault op=" + op) { add("status", status); }
Fault& Fault::gpu(std::uint32_t index) {
    add("gpu", index);
    return *this;
}
Fault& Fault::after(std::uint32_t calls) {
    add("after", calls);
    return *this;
}
Fault& Fault::times(std::uint32_t calls) {
    add("times", calls);
    return *this;
}

ScenarioBuilder& ScenarioBuilder::gpu(std::uint32_t bus, std::uint32_t levels, std::uint32_t current) {
    return line("gpu bus=" + std::to_string(bus) + " levels=" + std::to_string(levels) +
                " current=" + std::to_string(current));
}

ScenarioBuilder& ScenarioBuilder::thermal(std::uint32_t temp) { return line("thermal temp=" + std::to_string(temp)); }

ScenarioBuilder& ScenarioBuilder::device(std::uint32_t addr, const std::string& type) {
    return line("device addr=" + hex(addr) + " type=" + type);
}

ScenarioBuilder& ScenarioBuilder::i2c(std::uint32_t addr, std::uint32_t reg, std::uint32_t value) {
    return line("i2c addr=" + hex(addr) + " reg=" + hex(reg) + " value=" + hex(value));
}

ScenarioBuilder& ScenarioBuilder::missing(const std::string& op) { return line("missing op=" + op); }

ScenarioBuilder& ScenarioBuilder::initStatus(std::int32_t status) {
    return line("init status=" + std::to_string(status));
}

ScenarioBuilder& ScenarioBuilder::line(const std::string& text) {
    text_ += text;
    text_ += '\n';
    return *this;
}

void ScenarioBuilder::writeTo(const std::string& path) const { writeFile(path, text_); }

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
    if (lib_ == nullptr) {
        ADD_FAILURE() << "cannot load the NVAPI simulator: " << dlerror();
    }
}

Simulator::~Simulator() {
    if (lib_ != nullptr) {
        dlclose(lib_);
    }
}

template <typename Fn>
Fn Simulator::symbol(const char* name) const {
    void* address = lib_ != nullptr ? dlsym(lib_, name) : nullptr;
    if (address == nullptr) {
        throw std::runtime_error(std::string("NVAPI simulator lacks ") + name);
    }
    return reinterpret_cast<Fn>(address);
}

#define ZXSIM_CALL(name, ...) symbol<decltype(&name)>(#name)(__VA_ARGS__)

void* Simulator::query(std::uint32_t id) const {
    return symbol<void* (*)(std::uint32_t)>("nvapi_QueryInterface")(id);
}

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

long long Simulator::clockKHz(unsigned gpu, unsigned selector, unsigned domain) const {
    return ZXSIM_CALL(zxsim_nvapi_clock_khz, gpu, selector, domain);
}

int Simulator::coolerLevel(unsigned gpu, unsigned row) const { return ZXSIM_CALL(zxsim_nvapi_cooler_level, gpu, row); }

int Simulator::coolerPolicy(unsigned gpu, unsigned row) const {
    return ZXSIM_CALL(zxsim_nvapi_cooler_policy, gpu, row);
}

int Simulator::i2cPeek(unsigned gpu, unsigned addr, unsigned reg) const {
    return ZXSIM_CALL(zxsim_nvapi_i2c_peek, gpu, addr, reg);
}

int Simulator::i2cPoke(unsigned gpu, unsigned addr, unsigned reg, unsigned value) {
    return ZXSIM_CALL(zxsim_nvapi_i2c_poke, gpu, addr, reg, value);
}

#undef ZXSIM_CALL

std::vector<std::string> readLogFile(const std::string& path) {
    std::vector<std::string> lines;
    std::istringstream in(readFile(path));
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

ProbeResult runProbe(const std::vector<std::pair<std::string, std::string>>& env) {
    const std::string program = std::string(ZX_TEST_SIMLIB_DIR) + "/zxsim-nvapi-probe";
    const std::string outPath = testRoot() + "/probe.out";
    const std::string errPath = testRoot() + "/probe.err";

    // This process's environment with the given variables replaced, and the
    // simulator's folder first on the library path.
    std::vector<std::pair<std::string, std::string>> add = env;
    const char* libraryPath = std::getenv("LD_LIBRARY_PATH");
    add.emplace_back("LD_LIBRARY_PATH", std::string(ZX_TEST_SIMLIB_DIR) +
                                            (libraryPath != nullptr ? std::string(":") + libraryPath : ""));
    std::vector<std::string> vars;
    for (char** e = environ; *e != nullptr; ++e) {
        std::string var = *e;
        bool replaced = false;
        for (const auto& [name, value] : add) {
            replaced = replaced || var.compare(0, name.size() + 1, name + "=") == 0;
        }
        if (!replaced) {
            vars.push_back(var);
        }
    }
    for (const auto& [name, value] : add) {
        vars.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& var : vars) {
        envp.push_back(var.data());
    }
    envp.push_back(nullptr);
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    int rc = posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);

    ProbeResult result;
    if (rc != 0) {
        result.err = "cannot start " + program + ": " + std::strerror(rc);
        return result;
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    }
    result.out = readFile(outPath);
    result.err = readFile(errPath);
    return result;
}

}  // namespace zxtest::nvsim
