#include "i2c_bus.h"
#include "noisy_device.h"

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

PinControllerDevice::PinControllerDevice(PinController::Kind kind, Card card) : pins_(kind), card_(card) {}

std::unique_ptr<I2cDevice> PinControllerDevice::clone() const {
    return std::make_unique<PinControllerDevice>(*this);
}

const char* PinControllerDevice::typeName() const {
    return pins_.kind() == PinController::Kind::One ? "pinctl1" : "pinctl2";
}

namespace {

struct VidTable {
    unsigned bits;
    unsigned pins[5];
    unsigned topCode;  // code of the lowest voltage
};
constexpr VidTable kVidTables[] = {
    {5, {21, 10, 11, 12, 22}, 28},
    {4, {10, 11, 12, 22, 0}, 9},
    {3, {10, 14, 11, 0, 0}, 7},
};

const VidTable* vidTable(unsigned bits) {
    for (const VidTable& t : kVidTables) {
        if (t.bits == bits) {
            return &t;
        }
    }
    return nullptr;
}

}  // namespace

bool isVidWidth(unsigned bits) { return vidTable(bits) != nullptr; }

unsigned PinControllerDevice::vidCode() const {
    const VidTable* t = vidTable(card_.vidBits);
    return t == nullptr ? 0 : pins_.pinsValue(t->pins, t->bits);
}

std::optional<std::uint32_t> PinControllerDevice::gpuVoltage() const {
    const VidTable* t = vidTable(card_.vidBits);
    unsigned code = vidCode();
    // The 5-bit table starts at code 8.
    unsigned lowest = t != nullptr && t->bits == 5 ? 8 : 0;
    if (t == nullptr || card_.step == 0 || code > t->topCode || code < lowest) {
        return std::nullopt;
    }
    return card_.base + (t->topCode - code) * card_.step;
}

unsigned PinControllerDevice::memoryVoltageLevel() const {
    const unsigned kind1[] = {24, 23};  // bit 0, bit 1
    const unsigned kind2[] = {16, 17};
    return pins_.pinsValue(pins_.kind() == PinController::Kind::One ? kind1 : kind2, 2);
}

unsigned PinControllerDevice::pwmLevel() const { return pins_.pinLevel(21).value_or(0); }

std::string PinControllerDevice::stateText() const {
    std::optional<std::uint32_t> v = gpuVoltage();
    return "vid=" + std::to_string(vidCode()) + " voltage=" + (v ? std::to_string(*v) : std::string("-")) +
           " mem=" + std::to_string(memoryVoltageLevel()) + " pwm=" + std::to_string(pwmLevel());
}

namespace {

struct DeviceType {
    const char* name;
    std::unique_ptr<I2cDevice> (*make)();
};

// New device types are added here.
const DeviceType kDeviceTypes[] = {
    {"registers", [] { return std::unique_ptr<I2cDevice>(new RegisterFileDevice); }},
    {"pinctl1", [] { return std::unique_ptr<I2cDevice>(new PinControllerDevice(PinController::Kind::One, {5, 0, 0})); }},
    {"pinctl2", [] { return std::unique_ptr<I2cDevice>(new PinControllerDevice(PinController::Kind::Two, {3, 0, 0})); }},
    {"noisy", [] { return std::unique_ptr<I2cDevice>(new NoisyDevice); }},
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
