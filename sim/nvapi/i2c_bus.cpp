#include "i2c_bus.h"

namespace zxsim {

std::unique_ptr<I2cDevice> RegisterFileDevice::clone() const {
    return std::make_unique<RegisterFileDevice>(*this);
}

bool RegisterFileDevice::read(std::uint8_t reg, std::uint8_t& value) {
    value = registers_[reg];
    return true;
}

bool RegisterFileDevice::write(std::uint8_t reg, std::uint8_t value) {
    registers_[reg] = value;
    return true;
}

std::optional<std::uint8_t> RegisterFileDevice::peek(std::uint8_t reg) const { return registers_[reg]; }

bool RegisterFileDevice::poke(std::uint8_t reg, std::uint8_t value) {
    registers_[reg] = value;
    return true;
}

namespace {

struct DeviceType {
    const char* name;
    std::unique_ptr<I2cDevice> (*make)();
};

// New device types are added here.
const DeviceType kDeviceTypes[] = {
    {"registers", [] { return std::unique_ptr<I2cDevice>(new RegisterFileDevice); }},
};

}  // namespace

std::unique_ptr<I2cDevice> makeI2cDevice(const std::string& type) {
    for (const DeviceType& t : kDeviceTypes) {
        if (type == t.name) {
            return t.make();
        }
    }
    return nullptr;
}

std::vector<std::string> i2cDeviceTypes() {
    std::vector<std::string> names;
    for (const DeviceType& t : kDeviceTypes) {
        names.emplace_back(t.name);
    }
    return names;
}

I2cBus::I2cBus(const I2cBus& other) { *this = other; }

I2cBus& I2cBus::operator=(const I2cBus& other) {
    if (this != &other) {
        std::map<std::uint8_t, std::unique_ptr<I2cDevice>> copy;
        for (const auto& [address, dev] : other.devices_) {
            copy.emplace(address, dev->clone());
        }
        devices_ = std::move(copy);
    }
    return *this;
}

void I2cBus::attach(std::uint8_t address, std::unique_ptr<I2cDevice> device) {
    devices_[address] = std::move(device);
}

I2cDevice* I2cBus::device(std::uint8_t address) const {
    auto it = devices_.find(address);
    return it == devices_.end() ? nullptr : it->second.get();
}

}  // namespace zxsim
