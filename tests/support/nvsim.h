// Test helpers for the simulated NVIDIA driver (libnvidia-api.so.1): scenario
// text built in code, an in-process handle to the simulator's control
// interface, the call log, and a fresh process that loads the simulator.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "nvapi/zxsim_nvapi.h"

namespace zxtest::nvsim {

// File name under which the simulator is built and loaded.
inline constexpr const char* kLibraryName = "libnvidia-api.so.1";

// Scenario lines with options; each setter adds one key=value field, and
// what is not set is left to the simulator's defaults (docs/nvapi-simulator.md).
class LineFields {
public:
    const std::string& text() const { return text_; }

protected:
    explicit LineFields(const std::string& directive) : text_(directive) {}
    void add(const char* key, long long value);

private:
    std::string text_;
};

class Clock : public LineFields {
public:
    Clock(std::uint32_t sel, std::uint32_t domain, std::uint32_t freqKHz);
    Clock& range(std::uint32_t minKHz, std::uint32_t maxKHz);
    Clock& defaultFreq(std::uint32_t kHz);
};

class Cooler : public LineFields {
public:
    Cooler();
    Cooler& type(std::uint32_t value);
    Cooler& target(std::uint32_t value);
    Cooler& range(std::uint32_t min, std::uint32_t max);
    Cooler& level(std::uint32_t value);
    Cooler& defaultLevel(std::uint32_t value);
    Cooler& policy(std::uint32_t value);
    Cooler& defaultPolicy(std::uint32_t value);
};

class Fault : public LineFields {
public:
    // op as in the log: "GetThermalSettings", "I2CRead", ...
    Fault(const std::string& op, std::int32_t status);
    Fault& gpu(std::uint32_t index);
    Fault& after(std::uint32_t calls);
    Fault& times(std::uint32_t calls);
};

// Builds scenario text line by line, in the order of the calls; GPU lines
// (clock, thermal, cooler, device, i2c) apply to the last gpu().
class ScenarioBuilder {
public:
    ScenarioBuilder& gpu(std::uint32_t bus, std::uint32_t levels = 1, std::uint32_t current = 0);
    ScenarioBuilder& clock(const Clock& clock) { return line(clock.text()); }
    ScenarioBuilder& thermal(std::uint32_t temp);
    ScenarioBuilder& cooler(const Cooler& cooler) { return line(cooler.text()); }
    ScenarioBuilder& device(std::uint32_t addr, const std::string& type = "registers");
    ScenarioBuilder& i2c(std::uint32_t addr, std::uint32_t reg, std::uint32_t value);
    ScenarioBuilder& fault(const Fault& fault) { return line(fault.text()); }
    ScenarioBuilder& missing(const std::string& op);
    ScenarioBuilder& initStatus(std::int32_t status);
    // Any other line, verbatim.
    ScenarioBuilder& line(const std::string& text);

    const std::string& text() const { return text_; }
    void writeTo(const std::string& path) const;

private:
    std::string text_;
};

// The simulator as loaded in this process: the same object that the library
// under test gets when it loads NVAPI by bare name.
class Simulator {
public:
    // Loads the simulator (records a test failure when it cannot).
    Simulator();
    ~Simulator();
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    bool loaded() const { return lib_ != nullptr; }

    // nvapi_QueryInterface; the call is logged like any other.
    void* query(std::uint32_t id) const;
    template <typename Fn>
    Fn op(std::uint32_t id) const {
        return reinterpret_cast<Fn>(query(id));
    }

    // Control interface (zxsim_nvapi.h).
    int load(const std::string& scenario);
    int load(const ScenarioBuilder& scenario) { return load(scenario.text()); }
    int apply(const std::string& lines);
    void reset();
    std::string lastError() const;
    std::vector<std::string> log() const;
    void clearLog();
    bool initialised() const;
    int gpuCount() const;
    long long clockKHz(unsigned gpu, unsigned selector, unsigned domain) const;
    int coolerLevel(unsigned gpu, unsigned row) const;
    int coolerPolicy(unsigned gpu, unsigned row) const;
    int i2cPeek(unsigned gpu, unsigned addr, unsigned reg) const;
    int i2cPoke(unsigned gpu, unsigned addr, unsigned reg, unsigned value);

private:
    template <typename Fn>
    Fn symbol(const char* name) const;

    void* lib_ = nullptr;
};

// The lines of a log file written through ZXSIM_NVAPI_LOG.
std::vector<std::string> readLogFile(const std::string& path);

// zxsim-nvapi-probe run in a fresh process with the given environment
// variables added (ZXSIM_NVAPI_SCENARIO, ZXSIM_NVAPI_LOG, ...).
struct ProbeResult {
    int exitCode = -1;  // -1: did not run or did not exit normally
    std::string out;
    std::string err;
};
ProbeResult runProbe(const std::vector<std::pair<std::string, std::string>>& env);

}  // namespace zxtest::nvsim
