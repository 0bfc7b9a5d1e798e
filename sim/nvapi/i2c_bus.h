// The simulated I2C bus of one GPU: devices at address bytes, each with its
// own register semantics.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zxsim {

// One device on the bus. Bus transactions go through read() and write(), which
// may have side effects (a pin controller reacting to its output register);
// peek() and poke() are the scenario's and the tests' direct view of the
// registers and have none.
class I2cDevice {
public:
    virtual ~I2cDevice() = default;

    virtual std::unique_ptr<I2cDevice> clone() const = 0;
    virtual const char* typeName() const = 0;

    // false: the device did not acknowledge the transaction.
    virtual bool read(std::uint8_t reg, std::uint8_t& value) = 0;
    virtual bool write(std::uint8_t reg, std::uint8_t value) = 0;

    virtual std::optional<std::uint8_t> peek(std::uint8_t reg) const = 0;
    virtual bool poke(std::uint8_t reg, std::uint8_t value) = 0;
};

// 256 plain byte registers: reads return what is stored, writes store.
class RegisterFileDevice final : public I2cDevice {
public:
    std::unique_ptr<I2cDevice> clone() const override;
    const char* typeName() const override { return "registers"; }
    bool read(std::uint8_t reg, std::uint8_t& value) override;
    bool write(std::uint8_t reg, std::uint8_t value) override;
    std::optional<std::uint8_t> peek(std::uint8_t reg) const override;
    bool poke(std::uint8_t reg, std::uint8_t value) override;

private:
    std::uint8_t registers_[256] = {};
};

// Builds a device of a type named in a scenario; nullptr for an unknown type.
std::unique_ptr<I2cDevice> makeI2cDevice(const std::string& type);
// The type names makeI2cDevice knows, for error messages.
std::vector<std::string> i2cDeviceTypes();

// Devices by address byte (the 7-bit address shifted left, as the transfer
// record carries it). Copies are deep, so a scenario's initial bus can be
// copied into the running state.
class I2cBus {
public:
    I2cBus() = default;
    I2cBus(const I2cBus& other);
    I2cBus& operator=(const I2cBus& other);
    I2cBus(I2cBus&&) noexcept = default;
    I2cBus& operator=(I2cBus&&) noexcept = default;
    ~I2cBus() = default;

    // Replaces any device at the address.
    void attach(std::uint8_t address, std::unique_ptr<I2cDevice> device);
    I2cDevice* device(std::uint8_t address) const;

private:
    std::map<std::uint8_t, std::unique_ptr<I2cDevice>> devices_;
};

}  // namespace zxsim
