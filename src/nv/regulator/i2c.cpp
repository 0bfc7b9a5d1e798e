#include "nv/regulator/i2c.h"

#include "nv/nvapi_binding.h"

namespace zx::nv::regulator {

namespace {

NvI2cTransfer makeTransfer(std::uint8_t device, std::uint8_t* reg, std::uint8_t* data) {
    NvI2cTransfer t{};
    t.version = kI2cVersion;
    t.displayMask = 0;
    t.isDdcPort = 0;
    t.deviceAddress = device;
    t.registerAddress = reg;
    t.registerAddressSize = 1;
    t.data = data;
    t.dataSize = 1;
    t.speed = kI2cSpeed;
    return t;
}

}  // namespace

bool i2cRead(NvGpuHandle gpu, std::uint8_t device, std::uint8_t reg, std::uint8_t& value) {
    std::uint8_t regByte = reg;
    std::uint8_t data = value;
    NvI2cTransfer t = makeTransfer(device, &regByte, &data);
    std::uint32_t one = 1;
    if (nvapi().i2cRead(gpu, &t, &one) != 0) {
        return false;
    }
    value = data;
    return true;
}

bool i2cWrite(NvGpuHandle gpu, std::uint8_t device, std::uint8_t reg, std::uint8_t value) {
    std::uint8_t regByte = reg;
    std::uint8_t data = value;
    NvI2cTransfer t = makeTransfer(device, &regByte, &data);
    std::uint32_t one = 1;
    return nvapi().i2cWrite(gpu, &t, &one) == 0;
}

bool NvProbeRegulator(NvGpuHandle gpu) {
    std::uint8_t id = 0xFF;
    return i2cRead(gpu, kPinControllerAddress, kIdentificationRegister, id) && id == kPinControllerId;
}

}  // namespace zx::nv::regulator
