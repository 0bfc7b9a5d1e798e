#include "nv/regulator/pins.h"

#include "nv/regulator/i2c.h"

namespace zx::nv::regulator {

namespace {

// Register offsets within a port's block.
constexpr std::uint8_t kLevels = 0;     // kind 1: pin levels; kind 2: output latch (active low)
constexpr std::uint8_t kOutputs = 1;    // kind 1: output levels
constexpr std::uint8_t kConfig2 = 2;
constexpr std::uint8_t kConfig3 = 3;
constexpr std::uint8_t kConfig4 = 4;
constexpr std::uint8_t kDirection = 5;  // kind 2: pins enabled as outputs

struct PinPlace {
    std::uint8_t device;
    std::uint8_t block;
    std::uint8_t mask;
};

// Only the low 16 bits of a pin number count.
PinPlace placeOf(unsigned kind, std::uint32_t pin) {
    const unsigned p = pin & 0xFFFFu;
    const unsigned port = p / 10 - 1;
    const std::uint8_t mask = static_cast<std::uint8_t>(1u << (p % 10));
    if (kind == 2) {
        return {kRegistryRegulatorAddress, static_cast<std::uint8_t>(0x10 + 0x10 * port), mask};
    }
    return {kPinControllerAddress, static_cast<std::uint8_t>(0x10 * port), mask};
}

}  // namespace

bool NvWriteRegulatorPin(NvGpuHandle gpu, unsigned kind, std::uint32_t pin, unsigned level) {
    const PinPlace at = placeOf(kind, pin);
    const std::uint8_t b = at.block;
    std::uint8_t s = 0;
    if (!i2cRead(gpu, at.device, b, s)) {
        return false;
    }
    if (kind == 2) {
        const std::uint8_t n = static_cast<std::uint8_t>(level == 0 ? s | at.mask : s & ~at.mask);
        std::uint8_t d = 0;
        if (!i2cRead(gpu, at.device, static_cast<std::uint8_t>(b + kDirection), d)) {
            return false;
        }
        const std::uint8_t e = static_cast<std::uint8_t>(d | at.mask);
        const std::uint8_t notE = static_cast<std::uint8_t>(~e);
        return i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kOutputs), notE) &&
               i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kConfig3), notE) &&
               i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kLevels), n) &&
               i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kDirection), e);
    }
    const std::uint8_t n = static_cast<std::uint8_t>(level == 1 ? s | at.mask : s & ~at.mask);
    return i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kDirection), 0xFF) &&
           i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kConfig4), 0x00) &&
           i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kConfig2), 0x00) &&
           i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kOutputs), n) &&
           i2cWrite(gpu, at.device, static_cast<std::uint8_t>(b + kConfig3), 0x00);
}

bool NvReadRegulatorPin(NvGpuHandle gpu, std::uint32_t pin, unsigned& level) {
    const PinPlace at = placeOf(1, pin);
    std::uint8_t byte = 0;
    if (!i2cRead(gpu, at.device, at.block, byte)) {
        level = 0;
        return false;
    }
    level = (byte & at.mask) == at.mask ? 1 : 0;
    return true;
}

bool writePins(NvGpuHandle gpu, unsigned kind, const PinWrites& writes) {
    for (unsigned i = 0; i < writes.count; ++i) {
        if (!NvWriteRegulatorPin(gpu, kind, writes.items[i].pin, writes.items[i].level)) {
            return false;
        }
    }
    return true;
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
    step = stepFromCode(table, code);
    return true;
}

}  // namespace zx::nv::regulator
