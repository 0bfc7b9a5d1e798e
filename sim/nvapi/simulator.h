// The simulated driver: the running scenario, the operations answered on it,
// and the call log. One instance per loaded library; every member function
// takes the instance's lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "scenario.h"

namespace zxsim {


class Simulator {
public:
    static Simulator& instance();

    // The operation an interface ID stands for, or nothing when the driver does
    // not answer it (unknown or made missing).
    std::optional<Op> queryInterface(std::uint32_t id);

    NvStatus initialize();
    NvStatus enumPhysicalGpus(nv::NvGpuHandle* handles, std::uint32_t* count);
    NvStatus getBusId(nv::NvGpuHandle gpu, std::uint32_t* bus);
    NvStatus getPerfClocks(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvPerfClocksRecord* rec);
    NvStatus setPerfClocks(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvPerfClocksRecord* rec);
    NvStatus getThermalSettings(nv::NvGpuHandle gpu, std::uint32_t sensor, nv::NvThermalRecord* rec);
    NvStatus getCoolerSettings(nv::NvGpuHandle gpu, std::uint32_t selector, nv::NvCoolerRecord* rec);
    NvStatus setCoolerLevels(nv::NvGpuHandle gpu, std::uint32_t index, nv::NvCoolerLevelsRecord* rec);
    NvStatus restoreCoolerSettings(nv::NvGpuHandle gpu, std::uint32_t* indices, std::uint32_t count);
    NvStatus i2cRead(nv::NvGpuHandle gpu, nv::NvI2cTransfer* transfer, std::uint32_t* one);
    NvStatus i2cWrite(nv::NvGpuHandle gpu, nv::NvI2cTransfer* transfer, std::uint32_t* one);

    // Control interface (see zxsim_nvapi.h).
    int loadScenario(const std::string& text);
    int apply(const std::string& text);
    void reset();
    std::string lastError();
    std::size_t logCount();
    std::optional<std::string> logLine(std::size_t i);
    void clearLog();
    // Off: calls are no longer logged (benchmarks); on by default.
    void setLogging(bool on);
    bool initialised();
    std::size_t gpuCount();
    std::optional<std::uint32_t> clockKHz(unsigned gpu, std::uint32_t selector, std::uint32_t domain);
    std::optional<nv::NvCoolerRow> coolerRow(unsigned gpu, unsigned row);
    std::optional<std::uint8_t> i2cPeek(unsigned gpu, unsigned address, unsigned reg);
    bool i2cPoke(unsigned gpu, unsigned address, unsigned reg, unsigned value);

    // Lines kept in memory; the log file keeps all.
    static constexpr std::size_t kMaxLogLines = 65536;

private:
    class Call;

    Simulator() = default;

    // Reads the environment once, on first use.
    void startLocked();
    int loadLocked(const std::string& text, const std::string& origin);
    void breakLocked(const std::string& message);
    void appendLog(const std::string& line);
    std::optional<unsigned> gpuIndex(nv::NvGpuHandle handle) const;
    Gpu* gpuAt(unsigned gpu);
    NvStatus transfer(Call& call, nv::NvI2cTransfer* t, std::uint32_t* one, bool write);

    std::mutex mutex_;
    bool started_ = false;
    Scenario initial_;        // as loaded
    Scenario state_;          // running
    bool broken_ = false;     // the scenario did not load: Initialize fails
    bool initialised_ = false;
    std::string error_;
    std::deque<std::string> log_;
    bool logging_ = true;
    int logFd_ = -1;
    std::string statePath_;  // ZXSIM_NVAPI_STATE: state kept between processes
};

}  // namespace zxsim
