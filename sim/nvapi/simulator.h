// The simulated driver: the operations answered on the running scenario; the
// scenario, call log and control functions are the shared DriverCore's. One
// instance per loaded library; every member function takes the instance's
// lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "driver_core.h"
#include "scenario.h"

namespace zxsim {

class Simulator final : public DriverCore<Scenario> {
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

    // Control interface (see zxsim_nvapi.h) beyond DriverCore's.
    bool initialised();
    std::size_t gpuCount();
    std::optional<std::uint32_t> clockKHz(unsigned gpu, std::uint32_t selector, std::uint32_t domain);
    std::optional<nv::NvCoolerRow> coolerRow(unsigned gpu, unsigned row);
    std::optional<std::uint8_t> i2cPeek(unsigned gpu, unsigned address, unsigned reg);
    bool i2cPoke(unsigned gpu, unsigned address, unsigned reg, unsigned value);

private:
    class Call;

    Simulator();

    void forgetInitialisation() override { initialised_ = false; }
    std::optional<unsigned> gpuIndex(nv::NvGpuHandle handle) const;
    Gpu* gpuAt(unsigned gpu);
    NvStatus transfer(Call& call, nv::NvI2cTransfer* t, std::uint32_t* one, bool write);

    bool initialised_ = false;
};

}  // namespace zxsim
