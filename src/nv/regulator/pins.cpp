#include "nv/regulator/pins.h"

#include "nv/regulator/i2c.h"

namespace zx::nv::regulator {

namespace {

namespace pc = zx::regulator;

class NvPinBus final : public pc::PinBus {
public:
    NvPinBus(NvGpuHandle gpu, std::uint8_t device) : gpu_(gpu), device_(device) {}
    bool read(std::uint8_t reg, std::uint8_t& value) override { return i2cRead(gpu_, device_, reg, value); }
    bool write(std::uint8_t reg, std::uint8_t value) override { return i2cWrite(gpu_, device_, reg, value); }

private:
    NvGpuHandle gpu_;
    std::uint8_t device_;
};

constexpr pc::Controller kKind1{pc::Programming::OutputBeforeConfig3, 0x00};
constexpr pc::Controller kKind2{pc::Programming::ActiveLow, 0x10};

const pc::Controller& controllerOf(unsigned kind) { return kind == 2 ? kKind2 : kKind1; }
NvPinBus busOf(NvGpuHandle gpu, unsigned kind) {
    return NvPinBus(gpu, kind == 2 ? kRegistryRegulatorAddress : kPinControllerAddress);
}

}  // namespace

bool NvWriteRegulatorPin(NvGpuHandle gpu, unsigned kind, std::uint32_t pin, unsigned level) {
    NvPinBus bus = busOf(gpu, kind);
    return pc::writePin(bus, controllerOf(kind), pin, level);
}

bool NvReadRegulatorPin(NvGpuHandle gpu, std::uint32_t pin, unsigned& level) {
    NvPinBus bus = busOf(gpu, 1);
    return pc::readPin(bus, kKind1, pin, level);
}

bool writePins(NvGpuHandle gpu, unsigned kind, const PinWrites& writes) {
    NvPinBus bus = busOf(gpu, kind);
    return pc::writePins(bus, controllerOf(kind), writes);
}

bool NvWriteGpuVoltageStep(NvGpuHandle gpu, unsigned kind, std::uint32_t step, std::uint32_t gpuVoltageStep) {
    const VidTable& table = kind == 2 ? kVid3Bit : kind1Table(gpuVoltageStep);
    const std::optional<PinWrites> writes = stepWrites(table, step, kind == 1);
    return writes && writePins(gpu, kind, *writes);
}

bool NvReadGpuVoltageStep(NvGpuHandle gpu, std::uint32_t gpuVoltageStep, std::uint32_t& step) {
    const VidTable& table = kind1Table(gpuVoltageStep);
    unsigned code = 0;
    step = 0;
    for (unsigned bit = 0; bit < table.bits; ++bit) {
        unsigned level = 0;
        if (!NvReadRegulatorPin(gpu, table.pins[bit], level)) {
            return false;
        }
        code |= level << bit;
    }
    const std::optional<std::uint32_t> s = stepOfCode(table, code);
    if (!s) {
        return false;
    }
    step = *s;
    return true;
}

}  // namespace zx::nv::regulator
