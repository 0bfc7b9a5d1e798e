// The simulated NVIDIA driver (libnvidia-api.so.1) as loaded in a test process: its control interface, its call log and
// its operations.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "nvapi/zxsim_nvapi.h"

namespace zxtest::nvsim {

// File name under which the simulator is built and loaded.
inline constexpr const char* kLibraryName = "libnvidia-api.so.1";

// The simulator as loaded in this process: the same object that the library under test gets when it loads NVAPI by bare
// name. Scenarios are text in the format of docs/nvapi-simulator.md.
class Simulator {
public:
    // Loads the simulator (records a test failure when it cannot).
    Simulator();

    bool loaded() const { return lib_ != nullptr; }

    // An operation by interface ID (nvapi_QueryInterface; the call is logged like any other).
    template <typename Fn>
    Fn op(std::uint32_t id) const {
        return reinterpret_cast<Fn>(query(id));
    }

    // Control interface (zxsim_nvapi.h).
    int load(const std::string& scenario);
    int apply(const std::string& lines);
    std::string lastError() const;
    std::vector<std::string> log() const;
    void clearLog();
    bool initialised() const;

private:
    void* query(std::uint32_t id) const;
    template <typename Fn>
    Fn symbol(const char* name) const;

    void* lib_ = nullptr;
};

}  // namespace zxtest::nvsim
