// The simulated I2C bus of one GPU: devices at address bytes, each with its
// own register semantics.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "pin_controller.h"

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

// The regulator's pin controller on a card: the register model plus what the
// card makes of its pins. The regulator reads a VID code of `vidBits` bits
// from its pins (5: pins 21, 10, 11, 12, 22; 4: pins 10, 11, 12, 22; 3: pins
// 10, 14, 11; first pin = bit 0); the highest code of the table (28, 9 or 7)
// gives `base`, each code below it one `step` more. Memory-voltage level:
// kind 1 2 x pin 23 + pin 24, kind 2 pin 16 + 2 x pin 17; PWM level: pin 21.
class PinControllerDevice final : public I2cDevice {
public:
    struct Card {
        unsigned vidBits = 5;
        std::uint32_t base = 0;
        std::uint32_t step = 0;  // 0: the card reports no voltage, only the code
    };

    PinControllerDevice(PinController::Kind kind, Card card);
    std::unique_ptr<I2cDevice> clone() const override;
    const char* typeName() const override;
    bool read(std::uint8_t reg, std::uint8_t& value) override { return pins_.read(reg, value); }
    bool write(std::uint8_t reg, std::uint8_t value) override { return pins_.write(reg, value); }
    std::optional<std::uint8_t> peek(std::uint8_t reg) const override { return pins_.peek(reg); }
    bool poke(std::uint8_t reg, std::uint8_t value) override { return pins_.poke(reg, value); }

    const PinController& pins() const { return pins_; }
    const Card& card() const { return card_; }
    unsigned vidCode() const;
    // The GPU voltage the VID code selects; nothing for a code outside the
    // table or a card without a voltage scale.
    std::optional<std::uint32_t> gpuVoltage() const;
    unsigned memoryVoltageLevel() const;
    unsigned pwmLevel() const;
    // "vid=16 voltage=1100 mem=2 pwm=0" (voltage=- when there is none).
    std::string stateText() const;

private:
    PinController pins_;
    Card card_;
};

// Whether a VID code width is one PinControllerDevice knows (5, 4 or 3).
bool isVidWidth(unsigned bits);

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
